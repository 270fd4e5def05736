// Label shuffles and the empirical p-values of the permutation test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "test_util.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();

TEST(EmpiricalPValue, FractionOfReplicatesAtLeastAsLarge) {
  const std::vector<double> maxima = {3.1, 0.5, 2.0, 1.2};
  for (auto [observed, p] : {std::pair{2.0, 0.5}, {3.1, 0.25}, {3.2, 0.0}, {0.5, 1.0}, {-7.0, 1.0}})
    EXPECT_EQ(EmpiricalPValue(maxima, observed), p) << observed;
  EXPECT_EQ(EmpiricalPValue({-kInf, -kInf, 1.0}, 0.0), 1 - 2 / 3.0);
  EXPECT_EQ(EmpiricalPValue({-kInf, -kInf}, -10000000.0), 0.0);
}

// One draw per haplotype; the label of the last haplotype ends anywhere,
// about equally often.
TEST(Permutation, DrawsOneValuePerHaplotypeAndMovesTheLastLabel) {
  CDataPoints ds;
  for (int n : {1, 2, 5, 17}) {
    srand(1);
    for (int i = 0; i < n; i++) rand();
    const int next = rand();
    srand(1);
    std::vector<int> order = IdentityOrder(n);
    ds.Permutation(order);
    EXPECT_EQ(rand(), next) << n;
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, IdentityOrder(n)) << n;
  }
  int endsAt[3] = {};
  for (int trial = 0; trial < 600; trial++) {
    std::vector<int> order = IdentityOrder(3);
    ds.Permutation(order);
    endsAt[std::find(order.begin(), order.end(), 2) - order.begin()]++;
  }
  for (int at : endsAt) EXPECT_TRUE(at > 150 && at < 250) << at;
}

// Replicate r scores at every position the r-th of the shuffles drawn one
// after the other from srand(3), each continuing from the previous
// arrangement. Marker 1 carries no allele 1: its single-marker statistics are
// not numbers, and never win.
TEST(PermutationTest, ReplicateKeepsItsShuffleAtEveryPosition) {
  for (int q : {0, 1}) {
    CDataPoints ds;
    ds.q = q;
    ReadText(ds, q ? "h\n1 0.5 1 2\n2 1.5 1 2\n3 2 2 2\n4 3.5 1 2\n5 0.1 2 2\n6 2.5 2 2\n7 4 1 2\n8 1 2 2\n"
                   : "h\n1 a 1 2\n2 c 1 2\n3 a 2 2\n4 a 1 2\n5 c 2 2\n6 a 2 2\n7 c 1 2\n8 c 2 2\n");
    ds.permutationTimes = 12;
    srand(3);
    std::vector<std::vector<int>> shuffles = {IdentityOrder(ds.num)};
    for (int r = 0; r < 12; r++) {
      shuffles.push_back(shuffles.back());
      ds.Permutation(shuffles.back());
    }
    srand(3);
    ds.DrawReplicates();
    ds.UpdateAverage();
    // Replicate maxima start at 0, as the observed best does.
    std::vector<double> cluster(12, 0.0), T(12, 0.0), Z(12, 0.0);
    ReplicateMaxima maxima(12, q);
    for (int pos = 0; pos < 2; pos++) {
      PositionState s;
      s.pos = pos;
      if (pos == 0) {
        AddCluster(s, ds.num, {0, 1, 2, 3});
      } else {
        AddCluster(s, ds.num, {0, 1, 2});
        AddCluster(s, ds.num, {3, 5, 6});
      }
      ds.ScoreReplicates(s, maxima);
      for (int r = 0; r < 12; r++) {
        const int* order = shuffles[r + 1].data();
        int best = -1;
        cluster[r] = std::max(cluster[r], q ? ds.LocalQScore(s, best, order) : ds.LocalScore(s, CasesOf(ds, order)));
        T[r] = std::max(T[r], ds.StatScore(s, pos, order).T);  // std::max keeps its first argument over NaN
        Z[r] = std::max(Z[r], ds.StatScore(s, pos, order).Z);
      }
    }
    EXPECT_EQ(maxima.cluster, cluster) << q;
    EXPECT_EQ(maxima.singleT, q ? T : std::vector<double>()) << q;  // single-marker tests: trait mode only
    EXPECT_EQ(maxima.singleZ, q ? Z : std::vector<double>()) << q;
  }
}

}  // namespace
