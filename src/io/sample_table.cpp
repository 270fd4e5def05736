#include "sample_table.h"

#include <algorithm>
#include <istream>
#include <optional>
#include <unordered_map>

#include "text.h"

namespace {

// Tab-separated fields keep an empty field as a missing value.
Fields SplitSampleLine(std::string_view line) {
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

SampleTableLayout LayoutOf(const Fields& first) {
  SampleTableLayout layout;
  layout.header = IsSampleTableHeader(first);
  if (!layout.header) {
    layout.columns.resize(first.size() > 2 ? first.size() - 2 : 0);
    return layout;
  }
  layout.idColumn = SampleIdColumn(first);
  for (std::size_t k = layout.idColumn + 1; k < first.size(); k++) layout.columns.emplace_back(first[k]);
  return layout;
}

}  // namespace

void ForEachSampleRow(std::istream& in, const std::string& sourceName, const char* what,
                      const std::function<void(const SampleTableLayout& layout)>& start,
                      const std::function<void(const std::string& sample, const Fields& values, int line)>& row) {
  std::optional<SampleTableLayout> layout;
  std::size_t width = 0;
  std::unordered_map<std::string, int> lineOf;
  std::string text;
  for (int lineNo = 1; ReadLine(in, text); lineNo++) {
    const Fields fields = SplitSampleLine(text);
    if (std::all_of(fields.begin(), fields.end(), [](std::string_view f) { return f.empty(); })) continue;
    if (!layout) {
      layout = LayoutOf(fields);
      width = layout->idColumn + 1 + layout->columns.size();
      start(*layout);
      if (layout->header) continue;
    }
    ExpectFields(fields, width, sourceName, lineNo);
    const std::string sample(fields[layout->idColumn]);
    if (sample.empty()) Reject(sourceName, lineNo, "no sample id");
    const auto [earlier, first] = lineOf.emplace(sample, lineNo);
    if (!first)
      Reject(sourceName, lineNo, "sample " + Quoted(sample) + " is already on line " + std::to_string(earlier->second));
    row(sample, Fields(fields.begin() + static_cast<std::ptrdiff_t>(layout->idColumn) + 1, fields.end()), lineNo);
  }
  if (in.bad()) throw RunError(sourceName + ": read error");
  if (lineOf.empty()) throw RunError(sourceName + ": no sample in the " + what);
}
