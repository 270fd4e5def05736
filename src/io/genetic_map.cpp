#include "genetic_map.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <istream>
#include <optional>

#include "text.h"
#include "text_rows.h"

namespace {

constexpr std::string_view kSeparators = " \t";

// Columns of the chromosome, bp and cM, and the number of fields of a row.
struct Layout {
  std::size_t fields, chromosome, bp, cm;
};
constexpr Layout kPosChrCm{3, 1, 0, 2};
constexpr Layout kHapMap{4, 0, 1, 3};
constexpr Layout kPlinkMap{4, 0, 3, 2};

// The layout told by the first line, and whether that line is a header.
std::pair<Layout, bool> LayoutOf(const Fields& first, const std::string& source) {
  double number = 0;
  const bool header = !ParseDouble(first.back(), number);
  if (first.size() == 3) return {kPosChrCm, header};
  if (first.size() == 4) return {header ? kHapMap : kPlinkMap, header};
  Reject(source, 1, "expected 3 fields (pos chr cM), or 4 (a HapMap or PLINK .map), found " +
                        std::to_string(first.size()));
}

std::string_view WithoutChr(std::string_view name) {
  if (name.size() > 3 && (name.substr(0, 3) == "chr" || name.substr(0, 3) == "CHR" || name.substr(0, 3) == "Chr"))
    name.remove_prefix(3);
  return name;
}

}  // namespace

bool SameChromosome(std::string_view a, std::string_view b) { return WithoutChr(a) == WithoutChr(b); }

double GeneticMap::CentiMorgans(long long bp) const {
  auto after = std::upper_bound(points_.begin(), points_.end(), bp,
                                [](long long x, const std::pair<long long, double>& p) { return x < p.first; });
  // The interval holding bp, or the outermost one on its side.
  if (after == points_.begin()) ++after;
  if (after == points_.end()) --after;
  const auto& [bp1, cm1] = *(after - 1);
  const auto& [bp2, cm2] = *after;
  return cm1 + (cm2 - cm1) * static_cast<double>(bp - bp1) / static_cast<double>(bp2 - bp1);
}

GeneticMap ReadGeneticMap(std::istream& in, const std::string& sourceName, const std::string& chromosome) {
  std::vector<std::pair<long long, double>> points;
  std::optional<Layout> layout;
  ForEachRow(in, sourceName, kSeparators, [&](const Fields& fields, int lineNo) {
    if (!layout) {
      const auto [found, header] = LayoutOf(fields, sourceName);
      layout = found;
      if (header) return;
    }
    ExpectFields(fields, layout->fields, sourceName, lineNo);
    int bp = 0;
    double cm = 0;
    if (!ParseInt(fields[layout->bp], bp))
      Reject(sourceName, lineNo, "position " + Quoted(fields[layout->bp]) + " is not an integer");
    if (!ParseDouble(fields[layout->cm], cm))
      Reject(sourceName, lineNo, "genetic position " + Quoted(fields[layout->cm]) + " is not a finite number");
    // A negative position marks a row to leave out in a PLINK .map.
    if (bp < 0 || !SameChromosome(fields[layout->chromosome], chromosome)) return;
    if (!points.empty() && bp < points.back().first)
      Reject(sourceName, lineNo, "position " + std::to_string(bp) + " comes after " +
                                     std::to_string(points.back().first) + ": rows must be in position order");
    if (!points.empty() && cm < points.back().second)
      Reject(sourceName, lineNo, "genetic position " + Quoted(fields[layout->cm]) + " is below the one before");
    if (!points.empty() && bp == points.back().first) {
      if (cm != points.back().second)
        Reject(sourceName, lineNo, "position " + std::to_string(bp) + " has two genetic positions");
      return;
    }
    points.emplace_back(bp, cm);
  });
  if (points.size() < 2)
    throw RunError(sourceName + ": " + std::to_string(points.size()) + " map position(s) on chromosome " +
                   Quoted(chromosome) + "; at least two are needed");
  return GeneticMap(std::move(points));
}

std::string ReadMaybeGzipped(const std::string& path, const char* what) {
  OpenInputFile(path, what);  // says why a file cannot be read
  gzFile file = gzopen(path.c_str(), "rb");
  if (!file) throw RunError(path + ": cannot open the " + what + ": " + std::strerror(errno));
  std::string text;
  char buffer[1 << 16];
  int n;
  while ((n = gzread(file, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  int error = Z_OK;
  const std::string message = n < 0 ? gzerror(file, &error) : "";
  gzclose(file);
  if (n < 0) throw RunError(path + ": cannot read the " + what + ": " + message);
  return text;
}
