// The files of a one-shot run for people and their scripts: the per-marker
// table scan.tsv and the summary.txt.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "conversion.h"
#include "marker_table.h"
#include "results_file.h"

// One row per marker: chrom, pos, id, ref, alt, cM, then every column of its
// results line (non-finite values as Inf, -Inf and NaN, which R and pandas read).
void WriteScanTable(const MarkerTable& markers, const ResultsBlock& results, std::ostream& out);

struct RunFacts {
  const ConvertOptions& options;
  const Conversion& conversion;
  const MarkerTable& markers;
  const ResultsBlock& results;
  std::string parameters;  // the parameter file of the scan
  int permutations = 0;
};

void WriteSummary(const RunFacts& facts, std::ostream& out);
