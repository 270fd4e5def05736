#include "covariates.h"

#include <algorithm>
#include <istream>
#include <optional>

#include "sample_table.h"
#include "text.h"

namespace {

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
std::vector<std::size_t> ChosenColumns(const SampleTableLayout& layout, const std::string& columns,
                                       const std::string& source,
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
  SampleTableLayout layout;
  std::vector<std::size_t> chosen;
  const auto start = [&](const SampleTableLayout& first) {
    layout = first;
    if (!layout.header)
      for (std::size_t k = 0; k < layout.columns.size(); k++) layout.columns[k] = "COV" + std::to_string(k + 1);
    chosen = ChosenColumns(layout, columns, sourceName, covariates.names);
  };
  const auto read = [&](const std::string& sample, const Fields& values, int line) {
    std::vector<double> chosenValues;
    bool missing = false;
    for (std::size_t k : chosen) {
      double value = 0;
      if (IsMissing(values[k]))
        missing = true;
      else if (!ParseDouble(values[k], value))
        Reject(sourceName, line, "covariate " + Quoted(layout.columns[k]) + " of sample " + Quoted(sample) + " is " +
                                     Quoted(values[k]) +
                                     ", not a number (a categorical covariate goes in as 0/1 indicator columns)");
      chosenValues.push_back(value);
    }
    if (missing)
      covariates.incomplete.insert(sample);
    else
      covariates.values.emplace(sample, std::move(chosenValues));
  };
  ForEachSampleRow(in, sourceName, "covariate file", start, read);
  if (covariates.label.empty())
    for (const std::string& name : covariates.names) (covariates.label += covariates.label.empty() ? "" : ",") += name;
  return covariates;
}
