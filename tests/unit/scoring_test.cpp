// Cluster scores and the single-marker tests. The report texts are checked
// through the binary by the end-to-end cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "test_util.h"

namespace {

// 50 cases (haplotypes 0 to 49) and 50 controls; the clusters hold the first
// cases and the first controls. Allele 1 of marker 0 is in 15 cases and 5
// controls, of marker 1 in 5 cases and 15 controls.
TEST(CaseControlScore, LargestChiSquareKeepsItsSign) {
  const struct {
    const char* what;
    std::vector<std::pair<int, int>> clusters;  // cases and controls of clusters 1, 2, ...
    double score;
  } cases[] = {
      {"no cluster", {}, 0.0},
      {"chi-square 6.25", {{15, 5}}, 2.5},
      {"depleted of cases", {{5, 15}}, -2.5},
      {"tie: the lower id wins", {{15, 5}, {5, 15}}, 2.5},
      {"larger chi-square wins whatever its sign", {{13, 7}, {5, 15}}, -2.5},
      {"a cluster of everybody", {{50, 50}}, 0.0},
  };
  std::string text = "h\n";
  for (int h = 0; h < 100; h++)
    text += std::to_string(h) + (h < 50 ? " a " : " c ") + (h % 50 < (h < 50 ? 15 : 5) ? "1 " : "2 ") +
            (h % 50 < (h < 50 ? 5 : 15) ? "1\n" : "2\n");
  CDataPoints ds;
  ReadText(ds, text);
  ds.CalculateFreq();
  for (const auto& c : cases) {
    PositionState s;
    for (auto [inCases, inControls] : c.clusters) {
      std::vector<int> members;
      for (int h = 0; h < inCases; h++) members.push_back(h);
      for (int h = 0; h < inControls; h++) members.push_back(50 + h);
      AddCluster(s, ds.num, members);
    }
    EXPECT_EQ(ds.LocalScore(s, CasesOf(ds, ds.ObservedOrder())), c.score) << c.what;
  }
  EXPECT_EQ(ds.ChiSQ(0), 6.25);
  EXPECT_EQ(ds.ChiSQ(1), 6.25);  // the single-marker statistic is unsigned
}

TEST(CaseControlScore, LargeCountsKeepTheirProducts) {
  CDataPoints ds;  // 60,000 cases and 60,000 controls: n11 x n22 = 2.5e9 does not fit 32 bits
  ds.nCase = ds.nCont = 60000;
  ds.num = 120000;
  ds.data.resize(ds.num);
  std::vector<int> members;
  for (int h = 0; h < ds.num; h++) {
    ds.data[h].affected = h < 60000;
    ds.data[h].value = {h % 60000 < (h < 60000 ? 50000 : 10000) ? 1 : 2};
    if (ds.data[h].value[0] == 1) members.push_back(h);
  }
  ds.dim = 1;
  ds.CalculateFreq();
  PositionState s;
  AddCluster(s, ds.num, members);
  const double d = 50000.0 * 50000 - 10000.0 * 10000, chi = 120000 * d * d / std::pow(60000.0, 4);
  EXPECT_NEAR(ds.ChiSQ(0), chi, 1e-9 * chi);
  EXPECT_NEAR(ds.LocalScore(s, CasesOf(ds, IdentityOrder(ds.num).data())), std::sqrt(chi), 1e-9 * std::sqrt(chi));
}

TEST(SingleMarkerTraitTests, MannWhitneyExampleAndTStatistics) {
  CDataPoints ds;  // marker 0: traits 5 and 7 against 1, 4 and 6; then no allele 1, and a single carrier
  ds.q = 1;
  ReadText(ds, "h\n1 5 1 2 2\n2 7 1 2 2\n3 1 2 2 2\n4 4 2 2 2\n5 6 2 2 1\n");
  ds.UpdateAverage();
  PositionState s;
  const TraitTests r = ds.StatScore(s, 0, ds.ObservedOrder());
  EXPECT_EQ(r.U, 1);
  EXPECT_DOUBLE_EQ(r.Z, 2 / std::sqrt(3.0));
  // Means 6 and 11/3, squared deviations 2 and 114/9; n1 n2 (n - 2) / n = 3.6.
  EXPECT_NEAR(r.T, 7 / 3.0 * std::sqrt(3.6) / std::sqrt(2 + 114 / 9.0), 1e-12);
  EXPECT_NEAR(r.WelthT, 7 / 3.0 / std::sqrt(2 / 2.0 / 2 + 114 / 9.0 / 3 / 3), 1e-12);
  EXPECT_EQ(r.dofWelthT, 2);  // 2.93 truncated
  for (int marker : {1, 2}) EXPECT_EQ(ds.StatScore(s, marker, ds.ObservedOrder()).dofWelthT, 0);  // undefined
}

// The first data set has 3,000 haplotypes: n1 n2 (n - 2) and n1 n2 (n + 1) then exceed 32 bits.
TEST(SingleMarkerTraitTests, AgreeWithTextbookCountsUnderAnyLabelOrder) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    std::mt19937 rng(seed);
    CDataPoints ds;
    ds.q = 1;
    ReadText(ds, RandomDataText(rng, seed == 1 ? 3000 : 4 + rng() % 150, 4, 3, true));
    ds.UpdateAverage();
    PositionState s;
    std::vector<int> shuffled = IdentityOrder(ds.num);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (const std::vector<int>& order : {IdentityOrder(ds.num), shuffled})
      for (int marker = 0; marker < ds.dim; marker++) {
        std::vector<double> in, out;  // traits of the allele-1 group and of the rest
        for (int h = 0; h < ds.num; h++)
          (ds.data[h].value[marker] == 1 ? in : out).push_back(ds.data[order[h]].traitvalue);
        long long U = 0;  // pairs whose other trait is strictly greater
        for (double x : in) U += std::count_if(out.begin(), out.end(), [x](double y) { return y > x; });
        const TraitTests r = ds.StatScore(s, marker, order.data());
        EXPECT_EQ(r.U, U) << seed << " " << marker;
        const double n1 = in.size(), n2 = out.size();
        if (n1 == 0 || n2 == 0) continue;
        double m1 = 0, m2 = 0, ss = 0;
        for (double x : in) m1 += x / n1;
        for (double y : out) m2 += y / n2;
        for (double x : in) ss += (x - m1) * (x - m1);
        for (double y : out) ss += (y - m2) * (y - m2);
        const double T = (m1 - m2) / std::sqrt(ss / (n1 + n2 - 2) * (1 / n1 + 1 / n2));
        const double Z = (0.5 * n1 * n2 - U) / std::sqrt(n1 * n2 * (n1 + n2 + 1) / 12);
        EXPECT_NEAR(r.Z, Z, 1e-9 * (1 + std::fabs(Z))) << seed << " " << marker;
        if (std::isfinite(T)) {
          EXPECT_NEAR(r.T, T, 1e-9 * (1 + std::fabs(T))) << seed << " " << marker;
        }
      }
  }
}

}  // namespace
