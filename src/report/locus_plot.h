// The locus plot: -log10 p of the cluster score and of the single-marker
// tests along the chromosome, with the predicted markers marked, as SVG.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bit_row.h"
#include "marker_table.h"
#include "results_file.h"

struct AdjustedScanResult;

// What a plot may know beyond the results block; each part is drawn only when given.
struct LocusPlotOptions {
  // The replicates of the run, to tell "p < 1/R" from "no permutation test".
  std::optional<int> permutations;
  // -log10 p of the cluster score that 5% of the replicates' maxima reach.
  std::optional<double> permutationThreshold;
  // Per marker, per haplotype: 1 for ALT; points are coloured by r² with the
  // predicted marker.
  const std::vector<BitRow>* haplotypes = nullptr;
  // The genome build the positions refer to, as "GRCh38".
  std::string build;
  // Markers (indices) of a credible set: the interval they span is shaded.
  std::vector<int> credibleSet;
  // A scan adjusted for covariates (named for people, as "PC1-PC4"): drawn
  // in both panels in place of the results block's scores, which stay behind
  // in grey.
  const AdjustedScanResult* adjusted = nullptr;
  std::string covariates;
};

// Two panels over one position axis: above, the single-marker tests of the
// summary (allelic chi-square; pooled t and Mann-Whitney Z for a trait) with
// the recombination rate on a second axis; below, the cluster score. Both
// show the genome-wide line (p = 5e-8) and mark the predicted marker.
// markers: where each marker of the block is (positions in Mb on the x axis,
// rates from the cM); without them the x axis is the marker index. Points
// that would cover one another are drawn once. With an adjusted scan its
// panels take the adjusted scores and the threshold of its own replicates.
std::string LocusPlotSvg(const ResultsBlock& results, const MarkerTable* markers, const LocusPlotOptions& options);

// How a marker is shown: "20:2,772,495 (rs215536)", or "marker 1639" without a table.
std::string MarkerName(const MarkerTable* markers, int marker);

// A number for people: three significant digits, "0" for -0.
std::string Rounded(double value);

// What the permutation p-value of a best marker says.
std::string PermutationText(double p, std::optional<int> permutations);
