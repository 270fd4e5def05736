// Tables keyed by sample, as PLINK writes them: a header line "#FID IID ...",
// "#IID ...", "FID IID ..." or "IID ...", or no header and the columns FID IID
// and the values. The covariate and within files are such tables.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "text_rows.h"

struct SampleTableLayout {
  bool header = false;
  std::size_t idColumn = 1;
  // The header's names of the columns after the ids; without a header, one
  // empty name per column after FID and IID of the first line.
  std::vector<std::string> columns;
};

// Calls start(layout) at the first line with a field, then row(sample,
// values, line) for every sample line, values being its fields after the
// ids. A line with a tab is split at each tab (two tabs around an empty
// field), any other at runs of spaces. Raises the RunError "source:line:
// message" for a ragged line, a line without a sample id or a sample named
// twice, and "source: no sample in the <what>" when the table names none.
void ForEachSampleRow(std::istream& in, const std::string& sourceName, const char* what,
                      const std::function<void(const SampleTableLayout& layout)>& start,
                      const std::function<void(const std::string& sample, const Fields& values, int line)>& row);
