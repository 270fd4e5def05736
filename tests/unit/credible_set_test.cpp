// The fine-mapping formulas against values worked out by hand: Woolf's log
// odds ratio, the least-squares slope, Wakefield's Bayes factor, the PIPs and
// the smallest set reaching a level, and the candidates around the lead.
#include "credible_set.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(MarkerEffect, WoolfAndSlopeMatchHandComputations) {
  // OR = 10 * 40 / (20 * 5) = 4; SE^2 = 1/10 + 1/20 + 1/5 + 1/40.
  const MarkerEffect table = LogOddsRatio(10, 20, 5, 40);
  EXPECT_NEAR(table.beta, std::log(4.0), 1e-12);
  EXPECT_NEAR(table.se, std::sqrt(0.375), 1e-12);
  // An empty cell: 0.5 joins every cell, (0.5 * 5.5) / (10.5 * 5.5).
  const MarkerEffect empty = LogOddsRatio(0, 10, 5, 5);
  EXPECT_NEAR(empty.beta, std::log(0.5 / 10.5), 1e-12);
  EXPECT_NEAR(empty.se, std::sqrt(2 + 1 / 10.5 + 2 / 5.5), 1e-12);
  // Sxx = 2.8, Sxy = 4, Syy = 6: slope 10/7, residual (6 - 40/7) / 3.
  const MarkerEffect slope = Slope({0, 1, 2, 1, 0}, {1, 2, 4, 2, 1});
  EXPECT_NEAR(slope.beta, 10.0 / 7, 1e-12);
  EXPECT_NEAR(slope.se, std::sqrt((6 - 40.0 / 7) / 3 / 2.8), 1e-12);
  EXPECT_TRUE(std::isnan(Slope({1, 1, 1}, {1, 2, 3}).beta));
}

TEST(MarkerEffect, PValuesAreTwoSided) {
  EXPECT_NEAR(EffectPValue({-1.959963985, 1, 0.2}, false, 100), 0.05, 1e-9);
  // t = 2.228139 is the two-sided 0.05 point of Student t on 10 degrees of freedom.
  EXPECT_NEAR(EffectPValue({2.228139, 1, 0.2}, true, 12), 0.05, 1e-6);
  EXPECT_TRUE(std::isnan(EffectPValue({NAN, NAN, 0}, true, 12)));
}

// Four individuals, two cases: ALT counts 2, 1 in the cases and 0, 1 in the controls.
Conversion SmallConversion(bool quantitative) {
  Conversion c;
  c.quantitative = quantitative;
  c.genotypes.samples = {"i1", "i2", "i3", "i4"};
  c.genotypes.markers = {{"20", 100, "m1", "A", "G", {}, 4}, {"20", 900, "m2", "A", "G", {}, 0}};
  c.genotypes.alt = {{1, 1, 0, 1, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 0, 0, 0}};
  c.phenotypes = quantitative ? std::vector<std::string>{"3", "1", "2", "2"} : std::vector<std::string>{"a", "a", "c", "c"};
  c.cases = quantitative ? 0 : 2;
  c.controls = quantitative ? 0 : 2;
  return c;
}

TEST(MarkerEffect, EffectsComeFromTheGenotypes) {
  // Case haplotypes: 3 ALT, 1 REF; control haplotypes: 1 ALT, 3 REF.
  const std::vector<MarkerEffect> s = MarkerEffects(SmallConversion(false));
  EXPECT_NEAR(s[0].beta, std::log(9.0), 1e-12);
  EXPECT_NEAR(s[0].maf, 0.5, 1e-12);
  EXPECT_TRUE(std::isnan(s[1].beta));  // monomorphic
  // Trait 3, 1, 2, 2 has SD sqrt(2/3); the slope on ALT counts 2, 1, 0, 1 is
  // 1/2 in trait units, sqrt(1.5) / 2 in trait SDs.
  const std::vector<MarkerEffect> q = MarkerEffects(SmallConversion(true));
  EXPECT_NEAR(q[0].beta, std::sqrt(1.5) / 2, 1e-12);
  EXPECT_NEAR(q[0].se, Slope({2, 1, 0, 1}, {3, 1, 2, 2}).se * std::sqrt(1.5), 1e-12);
}

TEST(Wakefield, BayesFactorOfOneEffect) {
  // V = 0.01, W = 0.04, z = 5: 0.5 log(0.2) + 0.5 * 25 * 0.8.
  EXPECT_NEAR(LogBayesFactor({0.5, 0.1, 0.2}, 0.2), 0.5 * std::log(0.2) + 10, 1e-12);
  // No effect, large SE: the factor tends to 1.
  EXPECT_NEAR(LogBayesFactor({0.0, 100, 0.2}, 0.2), 0, 1e-5);
}

TEST(CredibleSet, PipsAndTheSmallestSet) {
  const std::vector<double> pip = PosteriorInclusion({0, std::log(3.0), NAN, 0, 1000}, {0, 1, 3});
  ASSERT_EQ(pip.size(), 5u);
  EXPECT_NEAR(pip[0], 0.2, 1e-12);
  EXPECT_NEAR(pip[1], 0.6, 1e-12);
  EXPECT_EQ(pip[2], 0);
  EXPECT_NEAR(pip[3], 0.2, 1e-12);
  EXPECT_EQ(pip[4], 0);  // not a candidate
  EXPECT_EQ(SmallestSetReaching(pip, 0.95), (std::vector<int>{1, 0, 3}));  // tie: the earlier first
  EXPECT_EQ(SmallestSetReaching(pip, 0.7), (std::vector<int>{1, 0}));
  EXPECT_EQ(SmallestSetReaching(pip, 0.6), (std::vector<int>{1}));
  // Large factors do not overflow.
  EXPECT_NEAR(PosteriorInclusion({2000, 2000}, {0, 1})[1], 0.5, 1e-12);
}

TEST(CredibleSet, CandidatesAreInformativeMarkersNearTheLead) {
  Conversion c;
  c.genotypes.markers = {{"20", 100, "a", "A", "G", {}, 0}, {"20", 600, "b", "A", "G", {}, 0},
                         {"20", 700, "c", "A", "G", {}, 0}, {"20", 5000, "d", "A", "G", {}, 0}};
  // b is the lead; c is rare; d lies beyond the window.
  const std::vector<MarkerEffect> effects = {{0.3, 0.1, 0.2}, {0.5, 0.1, 0.3}, {0.9, 0.1, 0.01}, {0.4, 0.1, 0.4}};
  FineMapSettings settings;
  settings.window = 1000;
  FineMapping m = FineMap(c, effects, {0.01, true}, settings);
  EXPECT_EQ(m.lead, 1);
  EXPECT_EQ(m.candidates, 2);
  EXPECT_EQ(m.pip[2], 0);
  EXPECT_EQ(m.pip[3], 0);
  const double b = std::exp(LogBayesFactor(effects[0], 0.2) - LogBayesFactor(effects[1], 0.2));
  EXPECT_NEAR(m.pip[1], 1 / (1 + b), 1e-12);
  EXPECT_EQ(m.set.front(), 1);
  // Without a signal the PIPs stay, the set does not.
  m = FineMap(c, effects, {0.2, true}, settings);
  EXPECT_TRUE(m.set.empty());
  EXPECT_NEAR(m.pip[1], 1 / (1 + b), 1e-12);
}

}  // namespace
