// Reading back a results file: the last block, with its marker lines and its
// summary of the best positions.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ResultsBlock {
  bool quantitative = false;  // told by the header line
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;  // the fields of each marker line, as written
  std::vector<std::vector<double>> values;     // the same fields as numbers
  std::vector<double> summary;                 // the values of the summary line

  double Value(std::size_t row, std::size_t column) const { return values[row][column]; }
  // Appends a marker line.
  void AddRow(std::vector<std::string> fields, std::vector<double> numbers);
};

// The last block of a results file. Raises a RunError "source:line: message"
// when there is no whole block or the last one is malformed.
ResultsBlock ReadLastResultsBlock(std::istream& in, const std::string& sourceName);

// A number as a results file writes it: %g, or inf, -inf, nan, -nan.
bool ParseResultNumber(std::string_view token, double& out);

// The best marker of one statistic, as the summary line gives it.
struct BestMarker {
  std::string statistic;  // for people, as "cluster Z-score"
  int marker = 0;
  double score = 0, minusLog10P = 0;
  std::optional<double> permutationP;  // for the statistics the permutation test covers
};

// The cluster score's best marker first, then the single-marker tests'.
std::vector<BestMarker> BestMarkers(const ResultsBlock& block);
