#include "results_file.h"

#include <cmath>
#include <istream>
#include <limits>

#include "scan.h"
#include "text.h"
#include "text_rows.h"

namespace {

constexpr std::string_view kSummaryStart = "Veltrane:predicted_Pos";

std::string WithoutLineEnd(const char* line) {
  std::string text = line;
  text.pop_back();
  return text;
}

// The numbers of a line, or a rejection naming the first that is not one.
std::vector<double> Numbers(const std::vector<std::string_view>& fields, const std::string& source, int lineNo) {
  std::vector<double> numbers(fields.size());
  for (std::size_t k = 0; k < fields.size(); k++)
    if (!ParseResultNumber(fields[k], numbers[k]))
      Reject(source, lineNo, "field " + std::to_string(k + 1) + " " + Quoted(fields[k]) + " is not a number");
  return numbers;
}

// Reads a results file block by block, keeping the last.
class BlockReader {
 public:
  explicit BlockReader(const std::string& source) : source_(source) {}

  void Line(const std::string& line, int lineNo) {
    if (line == WithoutLineEnd(ResultsHeader(false)) || line == WithoutLineEnd(ResultsHeader(true))) {
      if (state_ != kComplete && state_ != kNone) Reject(source_, lineNo, "a new block starts before the last one ended");
      block_ = ResultsBlock{};
      block_.quantitative = line == WithoutLineEnd(ResultsHeader(true));
      for (std::string_view column : SplitFields(line, "\t")) block_.columns.emplace_back(column);
      state_ = kRows;
      return;
    }
    const std::vector<std::string_view> fields = SplitFields(line, "\t");
    switch (state_) {
      case kNone:
      case kComplete:
        Reject(source_, lineNo, "expected the header line of a results block");
      case kRows:
        if (line.rfind(kSummaryStart, 0) == 0) {
          if (block_.rows.empty()) Reject(source_, lineNo, "a results block without marker lines");
          state_ = kSummary;
        } else {
          AddRow(fields, lineNo);
        }
        return;
      case kSummary:
        block_.summary = Numbers(fields, source_, lineNo);
        if (block_.summary.size() != (block_.quantitative ? 12u : 7u))
          Reject(source_, lineNo, "the summary line has " + std::to_string(fields.size()) + " fields");
        for (std::size_t at = 0; at < block_.summary.size(); at += 4)
          if (!IsMarker(block_.summary[at])) Reject(source_, lineNo, "the summary names a marker outside the block");
        state_ = kComplete;
    }
  }

  ResultsBlock Last(int lines) const {
    if (state_ == kNone) throw RunError(source_ + ": no results block in the file");
    if (state_ != kComplete) Reject(source_, lines, "the last results block ends before its summary line");
    return block_;
  }

 private:
  void AddRow(const std::vector<std::string_view>& fields, int lineNo) {
    ExpectFields(fields, block_.columns.size(), source_, lineNo);
    const std::vector<double> numbers = Numbers(fields, source_, lineNo);
    if (numbers[1] != static_cast<double>(block_.rows.size()))
      Reject(source_, lineNo, "marker " + Quoted(fields[1]) + " should be " + std::to_string(block_.rows.size()));
    block_.AddRow({fields.begin(), fields.end()}, numbers);
  }

  // The summary gives a position every fourth field, as in "99	2.97609	2.53469	0.37	127	...".
  bool IsMarker(double position) const {
    return position >= 0 && position < static_cast<double>(block_.rows.size()) && position == std::floor(position);
  }

  enum State { kNone, kRows, kSummary, kComplete };
  const std::string& source_;
  State state_ = kNone;
  ResultsBlock block_;
};

}  // namespace

void ResultsBlock::AddRow(std::vector<std::string> fields, std::vector<double> numbers) {
  rows.push_back(std::move(fields));
  values.push_back(std::move(numbers));
}

bool ParseResultNumber(std::string_view token, double& out) {
  if (ParseDouble(token, out)) return true;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (token == "inf" || token == "-inf") out = token[0] == '-' ? -kInf : kInf;
  else if (token == "nan" || token == "-nan") out = std::numeric_limits<double>::quiet_NaN();
  else return false;
  return true;
}

ResultsBlock ReadLastResultsBlock(std::istream& in, const std::string& sourceName) {
  BlockReader reader(sourceName);
  std::string line;
  int lineNo = 0;
  while (ReadLine(in, line)) reader.Line(line, ++lineNo);
  if (in.bad()) throw RunError(sourceName + ": read error");
  return reader.Last(lineNo);
}

std::vector<BestMarker> BestMarkers(const ResultsBlock& block) {
  const std::vector<double>& s = block.summary;
  auto best = [&s](const char* statistic, std::size_t at, bool permuted) {
    return BestMarker{statistic, static_cast<int>(std::lround(s[at])), s[at + 1], s[at + 2],
                      permuted ? std::optional<double>(s[at + 3]) : std::nullopt};
  };
  if (block.quantitative)
    return {best("cluster Q-score (t)", 0, true), best("single-marker pooled t", 4, true),
            best("single-marker Mann-Whitney Z", 8, true)};
  return {best("cluster Z-score", 0, true), best("single-marker allelic chi-square", 4, false)};
}
