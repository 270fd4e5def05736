// The locus plot: -log10 p of the cluster score and of the single-marker
// tests along the chromosome, with the predicted markers marked, as SVG.
#pragma once

#include <optional>
#include <string>

#include "marker_table.h"
#include "results_file.h"

// markers: where each marker of the block is (positions in Mb on the x axis);
// without them the x axis is the marker index. permutations: the replicates
// of the run, when known, to tell "p < 1/R" from "no permutation test".
std::string LocusPlotSvg(const ResultsBlock& results, const MarkerTable* markers, std::optional<int> permutations);

// How a marker is shown: "20:2,772,495 (rs215536)", or "marker 1639" without a table.
std::string MarkerName(const MarkerTable* markers, int marker);

// A number for people: three significant digits, "0" for -0.
std::string Rounded(double value);

// What the permutation p-value of a best marker says.
std::string PermutationText(double p, std::optional<int> permutations);
