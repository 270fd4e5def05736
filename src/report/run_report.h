// The files of a one-shot run for people and their scripts: the per-marker
// table scan.tsv and the summary.txt.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "adjusted_scan.h"
#include "conversion.h"
#include "credible_set.h"
#include "risk_haplotype.h"
#include "marker_table.h"
#include "results_file.h"

// A column that scan.tsv adds after the results lines': a value per marker.
struct TableColumn {
  std::string name;
  std::vector<double> values;
};

// One row per marker: chrom, pos, id, ref, alt, cM, then every column of its
// results line and the added columns (non-finite values as Inf, -Inf and
// NaN, which R and pandas read).
void WriteScanTable(const MarkerTable& markers, const ResultsBlock& results, const std::vector<TableColumn>& added,
                    std::ostream& out);

// The covariate-adjusted columns of scan.tsv: each Z and its two-sided -log10 p.
std::vector<TableColumn> AdjustedScanColumns(const AdjustedScanResult& adjusted);

// The same columns on their own, after an index column (the position, from
// 0), the values as scan.tsv prints them: the adjusted scan of merged parts.
void WriteAdjustedScanTable(const AdjustedScanResult& adjusted, std::ostream& out);

// The summary's line "Adjusted permutation p-value: cluster P1,
// single-marker P2"; nothing without replicates.
void WriteAdjustedPValues(const AdjustedScanResult& adjusted, std::ostream& out);

struct RunFacts {
  const ConvertOptions& options;
  const Conversion& conversion;
  const MarkerTable& markers;
  const ResultsBlock& results;
  std::string parameters;  // the parameter file of the scan
  int permutations = 0;
  const FineMapping& mapping;
  const std::optional<RiskHaplotype>& risk;
  bool permutesIndividuals = true;  // else the replicates shuffled single haplotypes
  const char* reportFile = "output";  // the cluster report's file; nullptr when none is written
  const AdjustedScanResult* adjusted = nullptr;  // the covariate-adjusted scan, when there is one
};

void WriteSummary(const RunFacts& facts, std::ostream& out);
