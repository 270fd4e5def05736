#include "marker_table.h"

#include <cstdio>
#include <istream>
#include <ostream>

#include "conversion.h"
#include "text.h"
#include "text_rows.h"

namespace {

constexpr const char* kHeader = "index\tchrom\tpos\tid\tref\talt\tcm\taf";

}  // namespace

MarkerTable MarkerTableOf(const Conversion& conversion) {
  const Genotypes& g = conversion.genotypes;
  MarkerTable table;
  const double haplotypes = 2.0 * g.samples.size();
  for (std::size_t k = 0; k < g.markers.size(); k++) {
    const Marker& m = g.markers[k];
    char af[32];
    std::snprintf(af, sizeof af, "%.4f", m.altCount / haplotypes);
    table.push_back({m.chrom, m.pos, m.id, m.ref, m.alt, CentiMorgans(conversion.microCm[k]), af});
  }
  return table;
}

void WriteMarkerTable(const MarkerTable& table, std::ostream& out) {
  out << kHeader << '\n';
  for (std::size_t k = 0; k < table.size(); k++) {
    const MarkerRow& r = table[k];
    out << k << '\t' << r.chrom << '\t' << r.pos << '\t' << r.id << '\t' << r.ref << '\t' << r.alt << '\t' << r.cm
        << '\t' << r.af << '\n';
  }
}

MarkerTable ReadMarkerTable(std::istream& in, const std::string& sourceName) {
  MarkerTable table;
  bool headed = false;
  ForEachRow(in, sourceName, "\t", [&](const Fields& f, int lineNo) {
    if (!headed) {
      if (f != SplitFields(kHeader, "\t"))
        Reject(sourceName, lineNo, "not a marker table: the first line must be the header " + std::string(kHeader));
      headed = true;
      return;
    }
    ExpectFields(f, 8, sourceName, lineNo);
    int index = 0, pos = 0;
    double number = 0;
    if (!ParseInt(f[0], index) || index != static_cast<int>(table.size()))
      Reject(sourceName, lineNo, "index " + Quoted(f[0]) + " should be " + std::to_string(table.size()));
    if (!ParseInt(f[2], pos) || pos < 0) Reject(sourceName, lineNo, "position " + Quoted(f[2]) + " is not a position");
    if (!ParseDouble(f[6], number)) Reject(sourceName, lineNo, "cm " + Quoted(f[6]) + " is not a finite number");
    if (!ParseDouble(f[7], number)) Reject(sourceName, lineNo, "af " + Quoted(f[7]) + " is not a finite number");
    table.push_back({std::string(f[1]), pos, std::string(f[3]), std::string(f[4]), std::string(f[5]),
                     std::string(f[6]), std::string(f[7])});
  });
  if (table.empty()) throw RunError(sourceName + ": no marker in the table");
  return table;
}
