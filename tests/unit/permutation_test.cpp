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
  for (auto [observed, p] :
       {std::pair{2.0, 0.5}, {3.1, 0.25}, {3.2, 0.0}, {0.5, 1.0}, {-7.0, 1.0}, {1.5, 0.5}})
    EXPECT_EQ(EmpiricalPValue(maxima, observed), p) << observed;
  EXPECT_EQ(EmpiricalPValue({-kInf, -kInf, 1.0}, 0.0), 1 - 2 / 3.0);
  EXPECT_EQ(EmpiricalPValue({-kInf, -kInf}, -10000000.0), 0.0);
}

TEST(Permutation, DrawsOneValuePerHaplotypeAndCanPickAnyPartner) {
  CDataPoints ds;
  for (int n : {1, 2, 5, 17}) {
    srand(1);
    std::vector<int> draws(n + 1);
    for (int& r : draws) r = rand();
    std::vector<int> expected = IdentityOrder(n);
    for (int i = 0; i < n; i++) {
      const int k = std::min(static_cast<int>(draws[i] / 2147483647.0 * (n - i)), n - i - 1);
      std::swap(expected[i], expected[i + k]);
    }
    srand(1);
    std::vector<int> order = IdentityOrder(n);
    ds.Permutation(order);
    EXPECT_EQ(order, expected) << n;
    EXPECT_EQ(rand(), draws[n]) << n;
  }
}

// The label of the last haplotype ends anywhere, about equally often.
TEST(Permutation, MovesTheLastLabel) {
  CDataPoints ds;
  srand(1);
  int endsAt[3] = {};
  for (int trial = 0; trial < 600; trial++) {
    std::vector<int> order = IdentityOrder(3);
    ds.Permutation(order);
    endsAt[std::find(order.begin(), order.end(), 2) - order.begin()]++;
  }
  for (int at : endsAt) {
    EXPECT_GT(at, 150);
    EXPECT_LT(at, 250);
  }
}

// The shuffles of the replicates, drawn one after the other from the state
// srand(seed) sets, each continuing from the previous arrangement.
std::vector<std::vector<int>> ChainedShuffles(CDataPoints& ds, unsigned seed) {
  srand(seed);
  std::vector<std::vector<int>> shuffles;
  std::vector<int> order = IdentityOrder(ds.num);
  for (int r = 0; r < ds.permutationTimes; r++) {
    ds.Permutation(order);
    shuffles.push_back(order);
  }
  return shuffles;
}

double FractionAtLeast(const std::vector<double>& maxima, double observed) {
  return std::count_if(maxima.begin(), maxima.end(), [&](double m) { return m >= observed; }) /
         static_cast<double>(maxima.size());
}

TEST(PermutationTest, CaseControlReplicateKeepsItsShuffleAtEveryPosition) {
  CDataPoints ds;
  ReadText(ds, "h\n1 a 1\n2 a 1\n3 a 2\n4 a 1\n5 a 2\n6 a 2\n7 c 1\n8 c 2\n9 c 2\n10 c 1\n11 c 1\n12 c 2\n");
  ds.permutationTimes = 25;
  const std::vector<std::vector<int>> shuffles = ChainedShuffles(ds, 5);
  const int next = rand();
  srand(5);
  ds.DrawReplicates();
  EXPECT_EQ(rand(), next);  // R x n draws

  const INT2Set clusters[] = {{{1, {0, 1, 2, 3}}}, {{1, {6, 7, 8}}, {2, {2, 3, 9, 10}}}};
  std::vector<double> maxima(ds.permutationTimes, -kInf);
  for (int pos = 0; pos < 2; pos++) {
    ds.clusters = clusters[pos];
    ds.ScoreReplicates(pos);
    for (int r = 0; r < ds.permutationTimes; r++)
      maxima[r] = std::max(maxima[r], ds.LocalScore(shuffles[r].data()));
  }
  for (double observed : {maxima[0], maxima[7], maxima[13], 0.0, 10.0}) {
    double p1 = -1, p2 = 7, p3 = 7;
    ds.PermutationTests(0, observed, p1, 0, 1.0, p2, 0, 1.0, p3);
    EXPECT_DOUBLE_EQ(p1, FractionAtLeast(maxima, observed)) << observed;
    EXPECT_EQ(p2, 7);  // the single-marker p-values belong to the trait mode
    EXPECT_EQ(p3, 7);
  }
}

TEST(PermutationTest, TraitReplicatesSkipStatisticsThatAreNotNumbers) {
  CDataPoints ds;
  ds.q = 1;  // marker 0 carries no allele 1, so its single-marker statistics are not numbers
  ReadText(ds, "h\n1 0.5 2 1\n2 1.5 2 1\n3 2.0 2 2\n4 3.5 2 1\n5 0.1 2 2\n6 2.5 2 2\n7 4.0 2 1\n8 1.0 2 2\n");
  ds.permutationTimes = 12;
  const std::vector<std::vector<int>> shuffles = ChainedShuffles(ds, 3);
  srand(3);
  ds.DrawReplicates();
  ds.UpdateAverage();
  ds.Reset();
  ds.ScoreReplicates(0);  // no cluster and no number yet
  double p1, p2, p3;
  ds.PermutationTests(0, -20000000.0, p1, 0, -1e300, p2, 0, -1e300, p3);
  EXPECT_EQ(p1, 1.0);
  EXPECT_EQ(p2, 0.0);
  EXPECT_EQ(p3, 0.0);

  ds.clusters = {{1, {0, 1, 2}}};
  ds.ScoreReplicates(1);
  std::vector<double> cluster, T, Z;
  for (const std::vector<int>& order : shuffles) {
    int best = -1;
    cluster.push_back(std::max(-10000000.0, ds.LocalQScore(best, order.data())));
    T.push_back(ds.StatScore(1, order.data()).T);
    Z.push_back(ds.StatScore(1, order.data()).Z);
  }
  for (int r : {0, 5, 11}) {
    ds.PermutationTests(0, cluster[r], p1, 0, T[r], p2, 0, Z[r], p3);
    EXPECT_DOUBLE_EQ(p1, FractionAtLeast(cluster, cluster[r]));
    EXPECT_DOUBLE_EQ(p2, FractionAtLeast(T, T[r]));
    EXPECT_DOUBLE_EQ(p3, FractionAtLeast(Z, Z[r]));
  }
}

}  // namespace
