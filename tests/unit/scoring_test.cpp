// Cluster scores with the cluster report, and the single-marker tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "test_util.h"

namespace {

// 50 cases (haplotypes 0 to 49) and 50 controls, identifier h + 1, alleles 1 2.
void ReadFiftyFifty(CDataPoints& ds) {
  std::ostringstream text;
  text << "header\n";
  for (int h = 0; h < 100; h++) text << h + 1 << (h < 50 ? " a" : " c") << " 1 2\n";
  ReadText(ds, text.str());
  ds.curpos = 0;
  ds.curdim = 2;
}

// The first `cases` cases and the first `controls` controls.
CSetInt Members(int cases, int controls) {
  CSetInt members;
  for (int h = 0; h < cases; h++) members.insert(h);
  for (int h = 0; h < controls; h++) members.insert(50 + h);
  return members;
}

TEST(CaseControlScore, WorkedExampleAndItsReport) {
  CDataPoints ds;
  ReadFiftyFifty(ds);
  ds.clusters = {{1, Members(15, 5)}};
  for (int h = 0; h < 10; h++) ds.data[h].core = true;
  std::ostringstream out;
  EXPECT_EQ(ds.Write(out, 7), 2.5);
  EXPECT_EQ(ds.LocalScore(ds.ObservedOrder()), 2.5);
  std::string expected = "Position: 7\nCluster number 1\n";
  for (int h : Members(15, 5))
    expected +=
        std::to_string(h + 1) + (h < 50 ? "\t1\t0(" : "\t0\t0(") + (h < 10 ? "1" : "0") + "):\t1\t2\t\n";
  expected += "ChiSquare\tZ_Score\tnHaplotypes\tnCore\t-Log10Pvalue\n6.25\t2.5\t20\t10\t1.9059\n\n";
  EXPECT_EQ(out.str(), expected);
}

TEST(CaseControlScore, SignsTiesAndEmptyMargins) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> clusters;  // cases and controls of clusters 1, 2, ...
    double score;
    bool written;
  };
  const Case cases[] = {
      {"no cluster", {}, 0.0, false},
      {"depleted of cases", {{5, 15}}, -2.5, false},
      {"tie: the lower id keeps its sign", {{15, 5}, {5, 15}}, 2.5, true},
      {"tie, depleted first", {{5, 15}, {15, 5}}, -2.5, true},
      {"larger chi-square wins whatever its sign", {{13, 7}, {5, 15}}, -2.5, true},
      {"a cluster of everybody", {{50, 50}}, 0.0, false},
  };
  for (const Case& c : cases) {
    CDataPoints ds;
    ReadFiftyFifty(ds);
    int id = 1;
    for (auto [inCases, inControls] : c.clusters) ds.clusters[id++] = Members(inCases, inControls);
    std::ostringstream out;
    EXPECT_EQ(ds.Write(out, 3), c.score) << c.what;
    EXPECT_EQ(out.str().find("Cluster number") != std::string::npos, c.written) << c.what;
    if (!c.written) {
      EXPECT_EQ(out.str(), "Position: 3\n\n") << c.what;
    }
  }
}

TEST(CaseControlScore, ThresholdIsStrict) {
  CDataPoints ds;
  ReadFiftyFifty(ds);
  ds.clusters = {{1, Members(15, 5)}};
  for (auto [threshold, written] : {std::pair{2.5f, false}, {2.4f, true}}) {
    ds.zsocreT = threshold;
    std::ostringstream out;
    ds.Write(out, 0);
    EXPECT_EQ(out.str().find("Cluster number 1") != std::string::npos, written) << threshold;
  }
}

TEST(CaseControlScore, NoControlsScoresZero) {
  CDataPoints ds;
  ReadText(ds, "h\n1 a 1\n2 a 1\n3 a 2\n4 a 2\n");
  ds.clusters = {{1, {0, 1}}};
  EXPECT_EQ(ds.LocalScore(ds.ObservedOrder()), 0.0);
  EXPECT_EQ(ds.ChiSQ(0), 0.0);
}

TEST(SingleMarkerChiSquare, UnsignedAndZeroWithoutContrast) {
  CDataPoints ds;  // markers: allele 1 in 15 cases and 5 controls; reversed; everywhere; same share
  std::ostringstream text;
  text << "header\n";
  for (int h = 0; h < 100; h++) {
    const int k = h % 50;
    const bool isCase = h < 50;
    text << h << (isCase ? " a " : " c ") << (k < (isCase ? 15 : 5) ? 1 : 2) << ' '
         << (k < (isCase ? 5 : 15) ? 1 : 2) << " 1 " << (k < 10 ? 1 : 2) << '\n';
  }
  ReadText(ds, text.str());
  EXPECT_EQ(ds.ChiSQ(0), 6.25);
  EXPECT_EQ(ds.ChiSQ(1), 6.25);
  EXPECT_EQ(ds.ChiSQ(2), 0.0);
  EXPECT_EQ(ds.ChiSQ(3), 0.0);
}

// 60,000 cases and 60,000 controls: n11 x n22 = 2.5e9 does not fit 32 bits.
TEST(CaseControlScore, LargeCountsKeepTheirProducts) {
  CDataPoints ds;
  ds.nCase = ds.nCont = 60000;
  ds.num = 120000;
  ds.dim = 1;
  ds.data.resize(ds.num);
  CSetInt members;
  for (int h = 0; h < ds.num; h++) {
    const bool carrier = h < 50000 || (h >= 60000 && h < 70000);
    ds.data[h].affected = h < 60000;
    ds.data[h].value = {carrier ? 1 : 2};
    if (carrier) members.insert(h);
  }
  ds.clusters = {{1, members}};
  const double d = 50000.0 * 50000 - 10000.0 * 10000;
  const double chi = 120000 * d * d / (60000.0 * 60000 * 60000 * 60000);
  EXPECT_NEAR(ds.ChiSQ(0), chi, 1e-9 * chi);
  EXPECT_NEAR(ds.LocalScore(IdentityOrder(ds.num).data()), std::sqrt(chi), 1e-9 * std::sqrt(chi));
}

// Allele-1 group: traits 5 and 7; other group: 1, 4 and 6.
const char kMannWhitneyExample[] = "h\n1 5 1\n2 7 1\n3 1 2\n4 4 2\n5 6 2\n";

TEST(SingleMarkerTraitTests, MannWhitneyExampleAndTStatistics) {
  CDataPoints ds;
  ds.q = 1;
  ReadText(ds, kMannWhitneyExample);
  ds.UpdateAverage();
  const TraitTests r = ds.StatScore(0, ds.ObservedOrder());
  EXPECT_EQ(r.U, 1);
  EXPECT_DOUBLE_EQ(r.Z, 2 / std::sqrt(3.0));
  // Means 6 and 11/3, squared deviations 2 and 114/9; n1 n2 (n - 2) / n = 3.6.
  EXPECT_NEAR(r.T, 7 / 3.0 * std::sqrt(3.6) / std::sqrt(2 + 114 / 9.0), 1e-12);
  const double A1 = 2 / 2.0 / 2, A2 = 114 / 9.0 / 3 / 3;
  EXPECT_NEAR(r.WelthT, 7 / 3.0 / std::sqrt(A1 + A2), 1e-12);
  EXPECT_EQ(r.dofWelthT, 2);  // 2.93 truncated
}

TEST(SingleMarkerTraitTests, WelchDegreesAreZeroForAGroupOfZeroOrOne) {
  CDataPoints ds;
  ds.q = 1;  // markers: no allele 1; one carrier; all but one carry it
  ReadText(ds, "h\n1 0.5 2 1 1\n2 1.5 2 2 1\n3 3.0 2 2 1\n4 2.5 2 2 2\n");
  ds.UpdateAverage();
  for (int marker = 0; marker < 3; marker++)
    EXPECT_EQ(ds.StatScore(marker, ds.ObservedOrder()).dofWelthT, 0) << marker;
  EXPECT_TRUE(std::isnan(ds.StatScore(0, ds.ObservedOrder()).T));
}

// Reference statistics over the trait of haplotype order[h] for haplotype h.
struct Textbook {
  long long U = 0;
  double T = 0, Z = 0;
};
Textbook TextbookTests(const CDataPoints& ds, int marker, const std::vector<int>& order) {
  std::vector<double> in, out;
  for (int h = 0; h < ds.num; h++)
    (ds.data[h].value[marker] == 1 ? in : out).push_back(ds.data[order[h]].traitvalue);
  Textbook r;
  for (double x : in) r.U += std::count_if(out.begin(), out.end(), [x](double y) { return y > x; });
  auto mean = [](const std::vector<double>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0) / v.size();
  };
  auto squares = [](const std::vector<double>& v, double m) {
    double s = 0;
    for (double x : v) s += (x - m) * (x - m);
    return s;
  };
  const double n1 = in.size(), n2 = out.size(), n = n1 + n2, m1 = mean(in), m2 = mean(out);
  r.T = (m1 - m2) / std::sqrt((squares(in, m1) + squares(out, m2)) / (n - 2) * (1 / n1 + 1 / n2));
  r.Z = (0.5 * n1 * n2 - r.U) / std::sqrt(n1 * n2 * (n + 1) / 12);
  return r;
}

// The first data set has 3,000 haplotypes: n1 n2 (n - 2) and n1 n2 (n + 1) then exceed 32 bits.
TEST(SingleMarkerTraitTests, AgreeWithTextbookCountsUnderAnyLabelOrder) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    std::mt19937 rng(seed);
    CDataPoints ds;
    ds.q = 1;
    ReadText(ds, RandomDataText(rng, seed == 1 ? 3000 : 4 + rng() % 150, 4, 3, true));  // traits 0 to 4: ties
    ds.UpdateAverage();
    std::vector<int> shuffled = IdentityOrder(ds.num);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (const std::vector<int>& order : {IdentityOrder(ds.num), shuffled})
      for (int marker = 0; marker < ds.dim; marker++) {
        const TraitTests r = ds.StatScore(marker, order.data());
        const Textbook expected = TextbookTests(ds, marker, order);
        EXPECT_EQ(r.U, expected.U) << seed << " " << marker;
        if (std::isfinite(expected.T) && std::isfinite(expected.Z)) {  // both groups hold haplotypes
          EXPECT_NEAR(r.T, expected.T, 1e-9 * (1 + std::fabs(expected.T)));
          EXPECT_NEAR(r.Z, expected.Z, 1e-9 * (1 + std::fabs(expected.Z)));
        }
      }
  }
}

TEST(TraitClusterScore, ReportAndLargestStatistic) {
  CDataPoints ds;
  ds.q = 1;
  ReadText(ds, kMannWhitneyExample);
  ds.UpdateAverage();
  std::ostringstream empty;
  EXPECT_EQ(ds.WriteQTLScore(empty, 3), -10000000.0);
  EXPECT_EQ(empty.str(), "Position: 3\n\n");

  ds.data[0].core = true;  // cluster 1: the allele-1 group; cluster 2: everybody (no rest, T is not a number)
  ds.clusters = {{1, {0, 1}}, {2, {0, 1, 2, 3, 4}}};
  const double T = ds.StatScore(0, ds.ObservedOrder()).T;
  std::ostringstream out;
  EXPECT_EQ(ds.WriteQTLScore(out, 3), T);
  EXPECT_EQ(out.str(),
            "Position: 3\nCluster number 1\n1\t0\t5(1):\t1\t\n2\t0\t7(0):\t1\t\n"
            "T_Score\tnHaplotypes\tnCore\tClusterMean\tClusterVar\n1.15601\t2\t1\t6\t1\n\n");
  int best = -1;
  EXPECT_EQ(ds.LocalQScore(best, ds.ObservedOrder()), T);
  EXPECT_EQ(best, 0);
  int second = 1, missing = 2;
  EXPECT_TRUE(std::isnan(ds.LocalQScore(second, ds.ObservedOrder())));
  EXPECT_EQ(ds.LocalQScore(missing, ds.ObservedOrder()), 0.0);
}

}  // namespace
