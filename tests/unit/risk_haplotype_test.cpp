// The risk haplotype of a small data set whose clusters are plain (a group
// carrying ALT throughout, the rest REF throughout): its members, consensus,
// shared segment, and its effect with the 95% interval worked out here from
// the group's counts and traits, to full precision; Student's quantile
// against R's qt(0.975, dof).
#include "risk_haplotype.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "data_set_builder.h"
#include "scan.h"

namespace {

constexpr int kIndividuals = 12, kMarkers = 5, kCentre = 2;
// The group: six case haplotypes (individuals 1-6 are the cases) and two
// control ones. Haplotype 0 carries REF at marker 0 and 12 REF at marker 4,
// outside the window (markers 1-3) around the centre.
const std::vector<int> kGroup = {0, 1, 2, 3, 5, 7, 12, 14};

Conversion GroupConversion(bool quantitative) {
  Conversion c;
  c.quantitative = quantitative;
  for (int i = 0; i < kIndividuals; i++) {
    c.genotypes.samples.push_back(std::string(1, static_cast<char>('a' + i)));
    c.phenotypes.push_back(quantitative ? std::to_string(i % 4 + (i < 6 ? 2 : 0)) : i < 6 ? "a" : "c");
  }
  for (int k = 0; k < kMarkers; k++) {
    c.genotypes.markers.push_back({"20", 1000 + 100 * k, std::string(1, static_cast<char>('p' + k)), "A", "G", {}, 0});
    c.microCm.push_back(10000 * k);
    BitRow alt(2 * kIndividuals);
    for (int h : kGroup) alt.Set(h, !((h == 0 && k == 0) || (h == 12 && k == kMarkers - 1)));
    c.genotypes.alt.push_back(alt);
  }
  c.cases = c.controls = quantitative ? 0 : kIndividuals / 2;
  return c;
}

RiskHaplotype RiskOf(const Conversion& c) {
  CDataPoints ds;
  BuildDataSet(ds, c, "radiusMode\t1\t0.3\ndensityFraction\t0.02\nwindowWidth\t3\nweightScheme\t1\t-30\t1\n"
               "permutations\t0\nreportThreshold\t2.0\n", "test parameters");
  Prepare(ds);
  const std::optional<RiskHaplotype> risk = FindRiskHaplotype(ds, c, kCentre);
  EXPECT_TRUE(risk.has_value());
  return risk.value_or(RiskHaplotype{});
}

TEST(RiskHaplotype, TheGroupWithItsConsensusAndSharedSegment) {
  const RiskHaplotype risk = RiskOf(GroupConversion(false));
  EXPECT_EQ(risk.members, kGroup);
  EXPECT_EQ(risk.first, 1);
  EXPECT_EQ(risk.width, 3);
  EXPECT_EQ(risk.consensus, (std::vector<int>{1, 1, 1}));
  ASSERT_EQ(risk.shared.size(), kGroup.size());
  EXPECT_EQ(risk.shared.front(), std::make_pair(1, 4));
  EXPECT_EQ(risk.shared[6], std::make_pair(0, 3));
  EXPECT_EQ(risk.shared[1], std::make_pair(0, 4));
  EXPECT_EQ(risk.sharedFirst, 0);  // medians of seven 0s and a 1, of seven 4s and a 3
  EXPECT_EQ(risk.sharedLast, 4);
}

TEST(RiskHaplotype, OddsRatioAndWoolfInterval) {
  const RiskHaplotype risk = RiskOf(GroupConversion(false));
  EXPECT_EQ(risk.caseMembers, 6);
  EXPECT_EQ(risk.controlMembers, 2);
  EXPECT_EQ(risk.cases, 12);
  EXPECT_EQ(risk.controls, 12);
  // 6 of 12 case haplotypes against 2 of 12 control ones: (6 x 10) / (6 x 2).
  const double se = std::sqrt(1.0 / 6 + 1.0 / 6 + 1.0 / 2 + 1.0 / 10);
  EXPECT_NEAR(risk.effect, 5.0, 1e-12);
  EXPECT_NEAR(risk.low, 5.0 * std::exp(-1.959963984540054 * se), 1e-12);
  EXPECT_NEAR(risk.high, 5.0 * std::exp(1.959963984540054 * se), 1e-12);
}

TEST(RiskHaplotype, DifferenceOfMeansAndPooledTInterval) {
  const Conversion c = GroupConversion(true);
  const RiskHaplotype risk = RiskOf(c);
  EXPECT_EQ(risk.members, kGroup);
  // Traits per haplotype (both of an individual carry its own).
  std::vector<double> inside, outside;
  for (int h = 0; h < 2 * kIndividuals; h++) {
    const bool member = std::find(kGroup.begin(), kGroup.end(), h) != kGroup.end();
    (member ? inside : outside).push_back(std::stod(c.phenotypes[h / 2]));
  }
  auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (double t : v) sum += t;
    return sum / static_cast<double>(v.size());
  };
  auto squares = [](const std::vector<double>& v, double m) {
    double sum = 0;
    for (double t : v) sum += (t - m) * (t - m);
    return sum;
  };
  const double mi = mean(inside), mo = mean(outside);
  const double pooled = std::sqrt((squares(inside, mi) + squares(outside, mo)) / 22);
  const double margin = 2.0738730679040258 * pooled * std::sqrt(1.0 / 8 + 1.0 / 16);  // qt(0.975, 22)
  EXPECT_NEAR(risk.meanInside, mi, 1e-12);
  EXPECT_NEAR(risk.meanOutside, mo, 1e-12);
  EXPECT_NEAR(risk.effect, mi - mo, 1e-12);
  EXPECT_NEAR(risk.low, mi - mo - margin, 1e-9);
  EXPECT_NEAR(risk.high, mi - mo + margin, 1e-9);
}

TEST(RiskHaplotype, StudentQuantileIsRs) {
  EXPECT_NEAR(StudentQuantile975(1), 12.7062047361746941, 1e-8);
  EXPECT_NEAR(StudentQuantile975(10), 2.2281388519862739, 1e-9);
  EXPECT_NEAR(StudentQuantile975(598), 1.9639388980555033, 1e-9);
  EXPECT_TRUE(std::isnan(StudentQuantile975(0)));
}

}  // namespace
