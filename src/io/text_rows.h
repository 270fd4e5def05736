// Rows of the users' table files (phenotypes, maps, marker lists and tables):
// fields split at separators, empty lines skipped, line numbers kept for the
// messages.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

using Fields = std::vector<std::string_view>;

// Calls row(fields, line) for every line that has a field. Raises the
// RunError "source: read error" when reading fails.
void ForEachRow(std::istream& in, const std::string& sourceName, std::string_view separators,
                const std::function<void(const Fields& fields, int line)>& row);

// Rejects a row without the expected number of fields.
void ExpectFields(const Fields& fields, std::size_t expected, const std::string& sourceName, int line);

// A header line of a table keyed by sample: "#IID", "IID", "#FID IID" or "FID IID" first.
bool IsSampleTableHeader(const Fields& header);
// The column of the sample ids under such a header: 0 after "#IID" or "IID", else 1.
std::size_t SampleIdColumn(const Fields& header);
