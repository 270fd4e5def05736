#include "covariates.h"

#include <algorithm>
#include <istream>
#include <optional>

#include "text.h"
#include "text_rows.h"

namespace {

// Tab-separated fields keep an empty field as a missing value.
Fields SplitCovariateLine(std::string_view line) {
  if (line.find('\t') == std::string_view::npos) return SplitFields(line, " ");
  Fields fields;
  for (std::size_t at = 0;;) {
    const std::size_t end = std::min(line.find('\t', at), line.size());
    std::string_view field = line.substr(at, end - at);
    const std::size_t first = field.find_first_not_of(' ');
    field = first == std::string_view::npos ? std::string_view() : field.substr(first, field.find_last_not_of(' ') - first + 1);
    fields.push_back(field);
    if (end == line.size()) return fields;
    at = end + 1;
  }
}

struct Layout {
  std::size_t idColumn = 1;
  std::vector<std::string> columns;  // every column after the ids
  bool header = false;
};

std::optional<Layout> HeaderLayout(const Fields& fields) {
  if (!IsSampleTableHeader(fields)) return std::nullopt;
  Layout layout;
  layout.header = true;
  layout.idColumn = SampleIdColumn(fields);
  for (std::size_t k = layout.idColumn + 1; k < fields.size(); k++) layout.columns.emplace_back(fields[k]);
  return layout;
}

Layout HeaderlessLayout(const Fields& fields) {
  Layout layout;
  for (std::size_t k = 2; k < fields.size(); k++) layout.columns.push_back("COV" + std::to_string(k - 1));
  return layout;
}

// "PC1-PC4": a common prefix and the numbers from .. to at its end.
std::optional<std::vector<std::string>> Range(std::string_view item) {
  const std::size_t dash = item.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view from = item.substr(0, dash), to = item.substr(dash + 1);
  const std::size_t digits = from.find_last_not_of("0123456789") + 1;
  if (digits == 0 || digits == from.size() || to.substr(0, digits) != from.substr(0, digits)) return std::nullopt;
  int first = 0, last = 0;
  if (!ParseInt(from.substr(digits), first) || !ParseInt(to.substr(digits), last) || first > last || last - first > 100000)
    return std::nullopt;
  std::vector<std::string> names;
  for (int k = first; k <= last; k++) names.push_back(std::string(from.substr(0, digits)) + std::to_string(k));
  return names;
}

// The positions among layout.columns of the columns asked for.
std::vector<std::size_t> ChosenColumns(const Layout& layout, const std::string& columns, const std::string& source,
                                       std::vector<std::string>& names) {
  if (columns.empty()) names = layout.columns;
  for (std::string_view item : SplitFields(columns, ",")) {
    const bool named = std::find(layout.columns.begin(), layout.columns.end(), item) != layout.columns.end();
    const std::optional<std::vector<std::string>> range = named ? std::nullopt : Range(item);
    if (range)
      names.insert(names.end(), range->begin(), range->end());
    else
      names.emplace_back(item);
  }
  std::vector<std::size_t> chosen;
  for (const std::string& name : names) {
    const auto at = std::find(layout.columns.begin(), layout.columns.end(), name);
    if (at == layout.columns.end())
      Reject(source, 1, "no covariate column " + Quoted(name) +
                            (layout.header ? " in the header"
                                           : " (without a header line the columns are COV1 to COV" +
                                                 std::to_string(layout.columns.size()) + ")"));
    const std::size_t k = static_cast<std::size_t>(at - layout.columns.begin());
    if (std::find(chosen.begin(), chosen.end(), k) != chosen.end())
      Reject(source, 1, "covariate column " + Quoted(name) + " is asked for twice");
    chosen.push_back(k);
  }
  if (chosen.empty()) Reject(source, 1, "no covariate column after the sample ids");
  return chosen;
}

bool IsMissing(std::string_view token) {
  return token.empty() || token == "NA" || token == "nan" || token == "NaN" || token == "-9";
}

}  // namespace

Covariates ReadCovariates(std::istream& in, const std::string& sourceName, const std::string& columns) {
  Covariates covariates;
  covariates.label = columns;
  std::optional<Layout> layout;
  std::vector<std::size_t> chosen;
  std::size_t width = 0;
  std::unordered_map<std::string, int> lineOf;
  std::string text;
  for (int lineNo = 1; ReadLine(in, text); lineNo++) {
    const Fields fields = SplitCovariateLine(text);
    if (std::all_of(fields.begin(), fields.end(), [](std::string_view f) { return f.empty(); })) continue;
    if (!layout) {
      layout = HeaderLayout(fields);
      const bool header = layout.has_value();
      if (!header) layout = HeaderlessLayout(fields);
      width = layout->idColumn + 1 + layout->columns.size();
      chosen = ChosenColumns(*layout, columns, sourceName, covariates.names);
      if (header) continue;
    }
    ExpectFields(fields, width, sourceName, lineNo);
    const std::string sample(fields[layout->idColumn]);
    if (sample.empty()) Reject(sourceName, lineNo, "no sample id");
    const auto [earlier, first] = lineOf.emplace(sample, lineNo);
    if (!first)
      Reject(sourceName, lineNo, "sample " + Quoted(sample) + " is already on line " + std::to_string(earlier->second));
    std::vector<double> row;
    bool missing = false;
    for (std::size_t k : chosen) {
      const std::string_view token = fields[layout->idColumn + 1 + k];
      double value = 0;
      if (IsMissing(token))
        missing = true;
      else if (!ParseDouble(token, value))
        Reject(sourceName, lineNo, "covariate " + Quoted(layout->columns[k]) + " of sample " + Quoted(sample) + " is " +
                                       Quoted(token) +
                                       ", not a number (a categorical covariate goes in as 0/1 indicator columns)");
      row.push_back(value);
    }
    if (missing)
      covariates.incomplete.insert(sample);
    else
      covariates.values.emplace(sample, std::move(row));
  }
  if (in.bad()) throw RunError(sourceName + ": read error");
  if (lineOf.empty()) throw RunError(sourceName + ": no sample in the covariate file");
  if (covariates.label.empty())
    for (const std::string& name : covariates.names) (covariates.label += covariates.label.empty() ? "" : ",") += name;
  return covariates;
}
