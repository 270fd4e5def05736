#include "strata.h"

#include "sample_table.h"
#include "text.h"

Strata ReadStrata(std::istream& in, const std::string& sourceName) {
  Strata strata;
  const auto start = [&](const SampleTableLayout& layout) {
    if (layout.columns.size() == 1) return;
    Reject(sourceName, 1, layout.header ? "a within file has one stratum column after the sample ids, not " +
                                              std::to_string(layout.columns.size())
                                        : std::string("a within file without a header has 3 fields: FID IID STRATUM"));
  };
  ForEachSampleRow(in, sourceName, "within file", start, [&](const std::string& sample, const Fields& values, int) {
    if (!values[0].empty() && values[0] != "NA") strata.of.emplace(sample, values[0]);
  });
  return strata;
}
