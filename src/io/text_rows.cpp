#include "text_rows.h"

#include <istream>

#include "text.h"

void ForEachRow(std::istream& in, const std::string& sourceName, std::string_view separators,
                const std::function<void(const Fields& fields, int line)>& row) {
  std::string line;
  for (int lineNo = 1; ReadLine(in, line); lineNo++) {
    const Fields fields = SplitFields(line, separators);
    if (!fields.empty()) row(fields, lineNo);
  }
  if (in.bad()) throw RunError(sourceName + ": read error");
}

void ExpectFields(const Fields& fields, std::size_t expected, const std::string& sourceName, int line) {
  if (fields.size() != expected)
    Reject(sourceName, line, "expected " + std::to_string(expected) + " fields, found " + std::to_string(fields.size()));
}

bool IsSampleTableHeader(const Fields& header) {
  const std::string_view first = header.front();
  if (first == "#IID" || first == "IID") return true;
  return (first == "#FID" || first == "FID") && header.size() > 1 && header[1] == "IID";
}

std::size_t SampleIdColumn(const Fields& header) { return header.front() == "#IID" || header.front() == "IID" ? 0 : 1; }
