// The locus plot of a covariate-adjusted scan, on a hand-made results block:
// the panels named for the adjustment, each permutation line where the
// adjusted replicates' maxima put it (not where the classic threshold is),
// the classic scores behind in grey, and marker labels clear of the lines'.
#include "locus_plot.h"

#include <gtest/gtest.h>

#include <regex>
#include <cmath>
#include <sstream>

#include "adjusted_scan.h"

namespace {

// 30 markers in mode s; the cluster score is best at the last one, under
// the right-hand labels of the lines, and nothing reaches p = 5e-8.
ResultsBlock Block() {
  std::ostringstream text;
  text << "GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\tSingleSNPMinusLogP\n";
  for (int r = 0; r < 30; r++) text << 0.1 * r << '\t' << r << '\t' << 0.1 * r << '\t' << 0.09 * r << "\t1\t0.5\n";
  text << "Veltrane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\tSingle SNP:predicted_Pos\t"
          "predict_ZScore\t-LogPvalue\n29\t2.9\t2.61\t0.01\t3\t1\t0.5\n";
  std::istringstream in(text.str());
  return ReadLastResultsBlock(in, "results");
}

// Z of two-sided p = 0.01 and 1e-4: -log10 p of 2 and 4.
constexpr double kZ2 = 2.5758293035489, kZ4 = 3.89059188641312;

// 40 replicates: 5% of their maxima reach the third largest, `top`.
std::vector<double> MaximaReaching(double top) {
  std::vector<double> maxima(37, 0.5);
  for (double m : {top + 1, top + 0.5, top}) maxima.push_back(m);
  return maxima;
}

AdjustedScanResult Adjusted() {
  AdjustedScanResult a;
  for (int r = 0; r < 30; r++) {
    a.clusterZ.push_back(r == 20 ? 2.2 : 0.05 * r);
    a.singleZ.push_back(r == 10 ? -2.9 : 0.02 * r);
    a.cluster.Offer(r, a.clusterZ.back());
    a.single.Offer(r, std::fabs(a.singleZ.back()));
  }
  a.clusterP = 0.2;
  a.singleP = 0.1;
  a.clusterMaxima = MaximaReaching(kZ2);
  a.singleMaxima = MaximaReaching(kZ4);
  return a;
}

// The plot of the block with the adjusted scan; the classic threshold given
// is the one an adjusted plot must leave out.
std::string AdjustedPlot(const std::string& covariates, std::optional<double> classicThreshold = std::nullopt) {
  const AdjustedScanResult adjusted = Adjusted();
  LocusPlotOptions options;
  options.permutations = 40;
  options.permutationThreshold = classicThreshold;
  options.adjusted = &adjusted;
  options.covariates = covariates;
  return LocusPlotSvg(Block(), nullptr, options);
}

std::vector<std::string> Matches(const std::string& svg, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex re(pattern);
  for (std::sregex_iterator m(svg.begin(), svg.end(), re), end; m != end; ++m) found.push_back((*m)[1]);
  return found;
}

TEST(AdjustedLocusPlot, NamesItsPanelsAndDrawsTheAdjustedThresholds) {
  const std::string svg = AdjustedPlot("PC1-PC4", 3);
  for (const char* text : {"Single-marker test, adjusted for PC1-PC4", "Cluster score, adjusted for PC1-PC4",
                           "adjusted cluster Z 2.2 at marker 20", "adjusted single-marker Z -2.9 at marker 10",
                           "unadjusted cluster Z-score 2.9 at marker 29", "permutation 5% threshold (adjusted replicates)",
                           "unadjusted allelic chi-square and cluster score", "Predicted locus (unadjusted): marker 29"})
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  EXPECT_EQ(svg.find("Single-marker tests<"), std::string::npos);

  // Each permutation line lies on a grid line: -log10 p = 4 above, 2 below.
  const std::vector<std::string> lines = Matches(svg, "<line x1=\"[0-9.]+\" y1=\"([0-9.]+)\"[^>]*stroke=\"#555\"");
  auto gridAt = [&](const char* label, double from, double to) {
    for (const std::string& y : Matches(svg, "<text x=\"68.0\" y=\"([0-9.]+)\" text-anchor=\"end\">" + std::string(label) + "<"))
      if (std::stod(y) - 4 > from && std::stod(y) - 4 < to) return std::stod(y) - 4;
    return -1.0;
  };
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NEAR(std::stod(lines[0]), gridAt("4", 128, 396), 0.051);
  EXPECT_NEAR(std::stod(lines[1]), gridAt("2", 436, 656), 0.051);

  // The classic scores in grey behind, and the adjusted ones over them.
  EXPECT_EQ(Matches(svg, "<path fill=\"none\" stroke=\"(#c8c8c8)\"").size(), 2u);
  EXPECT_NE(svg.find("stroke=\"#1f5fbf\""), std::string::npos);
}

TEST(AdjustedLocusPlot, KeepsMarkerLabelsClearOfTheLinesLabels) {
  // The predicted marker is the last, under the label of the genome-wide line at the right end.
  const std::string svg = AdjustedPlot("PC1-PC4");
  const std::vector<std::string> levels = Matches(svg, "y=\"([0-9.]+)\" text-anchor=\"end\" font-size=\"11\"[^>]*>p = 5e-8<");
  const std::vector<std::string> predicted = Matches(svg, "y=\"([0-9.]+)\" text-anchor=\"end\" font-size=\"12\"[^>]*>predicted \\(unadjusted\\)<");
  ASSERT_EQ(levels.size(), 2u);
  ASSERT_EQ(predicted.size(), 2u);
  for (int k = 0; k < 2; k++) EXPECT_GE(std::stod(predicted[k]) - std::stod(levels[k]), 13) << k;  // below the label and the line
  EXPECT_EQ(Matches(svg, "(>best adjusted<)").size(), 2u);
}

TEST(AdjustedLocusPlot, CutsALongListOfCovariates) {
  const std::string svg = AdjustedPlot("PC1,PC2,PC3,PC4,PC5,PC6,PC7,PC8,PC9,PC10,AGE,SEX,BATCH1,BATCH2");
  EXPECT_NE(svg.find("Cluster score, adjusted for PC1,PC2,PC3,PC4,PC5,PC6,PC7,PC8,PC9,PC10,AGE, ...<"), std::string::npos);
}

}  // namespace
