#include "phenotypes.h"

#include <algorithm>
#include <array>
#include <istream>
#include <optional>
#include <vector>

#include "text.h"
#include "text_rows.h"

namespace {

constexpr std::string_view kSeparators = " \t";

// Where the sample name and the phenotype are on a line, and how many fields
// every line has.
struct Layout {
  std::size_t idColumn = 1, valueColumn = 5, fields = 6;
};

Layout TableLayout(const Fields& header, const std::string& source,
                   const std::string& phenoName) {
  Layout layout;
  layout.idColumn = SampleIdColumn(header);
  layout.fields = header.size();
  constexpr std::array<std::string_view, 3> kNotPhenotypes = {"PAT", "MAT", "SEX"};
  for (std::size_t k = layout.idColumn + 1; k < header.size(); k++) {
    const bool wanted = phenoName.empty()
                            ? std::find(kNotPhenotypes.begin(), kNotPhenotypes.end(), header[k]) == kNotPhenotypes.end()
                            : header[k] == phenoName;
    if (wanted) {
      layout.valueColumn = k;
      return layout;
    }
  }
  if (!phenoName.empty()) Reject(source, 1, "no phenotype column " + Quoted(phenoName) + " in the header");
  Reject(source, 1, "no phenotype column after the sample ids");
}

// The data-file field of a phenotype token; empty when the phenotype is missing.
std::string DataField(std::string_view token, bool quantitative, const std::string& source, int line,
                      std::string_view sample) {
  if (token == "NA") return "";
  if (quantitative) {
    float trait = 0;
    if (!ParseFloat(token, trait))
      Reject(source, line, "trait " + Quoted(token) + " of sample " + Quoted(sample) + " is not a finite number");
    return trait == -9.0f ? "" : std::string(token);
  }
  if (token == "2") return "a";
  if (token == "1") return "c";
  if (token == "0" || token == "-9") return "";
  Reject(source, line, "phenotype " + Quoted(token) + " of sample " + Quoted(sample) +
                           " is not 1 (control), 2 (case), or 0, -9 or NA (missing)");
}

}  // namespace

Phenotypes ReadPhenotypes(std::istream& in, const std::string& sourceName, bool quantitative,
                          const std::string& phenoName) {
  Phenotypes phenotypes;
  std::unordered_map<std::string, int> lineOf;
  std::optional<Layout> layout;
  ForEachRow(in, sourceName, kSeparators, [&](const Fields& fields, int lineNo) {
    if (!layout) {
      if (IsSampleTableHeader(fields)) {
        layout = TableLayout(fields, sourceName, phenoName);
        phenotypes.column = "column " + Quoted(fields[layout->valueColumn]);
        return;
      }
      if (!phenoName.empty())
        Reject(sourceName, lineNo, "--pheno-name needs a phenotype table with a header line (#IID ...), not a .fam file");
      layout = Layout{};
      phenotypes.column = "column 6 of the .fam file";
    }
    ExpectFields(fields, layout->fields, sourceName, lineNo);
    const std::string sample(fields[layout->idColumn]);
    const auto [earlier, first] = lineOf.emplace(sample, lineNo);
    if (!first)
      Reject(sourceName, lineNo, "sample " + Quoted(sample) + " is already on line " + std::to_string(earlier->second));
    std::string value = DataField(fields[layout->valueColumn], quantitative, sourceName, lineNo, sample);
    if (value.empty()) {
      phenotypes.missing++;
      phenotypes.missingSamples.insert(sample);
    } else
      phenotypes.values.emplace(sample, std::move(value));
  });
  if (lineOf.empty()) throw RunError(sourceName + ": no sample in the phenotype file");
  return phenotypes;
}
