// DBSCAN over the distances of one position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "test_util.h"

namespace {

void Cluster(CDataPoints& ds, double epslion, double minNumPts) {
  ds.epslion = epslion;
  ds.minNumPts = minNumPts;
  ds.Reset();
  ds.ClusteringDBSCAN();
}

std::vector<int> Labels(const CDataPoints& ds) {
  std::vector<int> labels;
  for (const CMyPoint& p : ds.data) labels.push_back(p.type);
  return labels;
}

std::vector<bool> CoreFlags(const CDataPoints& ds) {
  std::vector<bool> core;
  for (const CMyPoint& p : ds.data) core.push_back(p.core);
  return core;
}

// With a radius of 0.25, haplotypes of 10 markers are neighbours when they
// differ at no more than 2 markers.
TEST(Dbscan, NoiseReachedFromALaterCorePointTakesTheLabelOnly) {
  CDataPoints ds;  // neighbours: 0-2, 1-2, 1-3, 2-3
  ReadBitHaplotypes(ds, {"1100000000", "0011000000", "0000000000", "0010000000"});
  Cluster(ds, 0.25, 3);
  EXPECT_EQ(ds.clusters, (INT2Set{{1, {1, 2, 3}}}));
  EXPECT_EQ(CoreFlags(ds), (std::vector<bool>{false, true, true, true}));
  EXPECT_EQ(Labels(ds), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(ds.numCluster, 2);
  EXPECT_EQ(ds.numNoise, 1);
}

TEST(Dbscan, NoiseNextToALaterStartPointJoinsItsCluster) {
  CDataPoints ds;  // neighbours: 0-1, 1-2
  ReadBitHaplotypes(ds, {"1100000000", "0000000000", "0011000000"});
  Cluster(ds, 0.25, 3);
  EXPECT_EQ(ds.clusters, (INT2Set{{1, {0, 1, 2}}}));
  EXPECT_EQ(CoreFlags(ds), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(ds.numNoise, 1);
}

TEST(Dbscan, BorderOfAnEarlierClusterNextToALaterStartPointJoinsBoth) {
  CDataPoints ds;  // neighbours (2 of 12 markers differ): 0-1, 0-2, 0-3, 3-4, 4-5, 4-6
  ReadBitHaplotypes(ds, {"000000000000", "110000000000", "001100000000", "000011000000", "000011110000",
                         "000011111100", "000011110011"});
  Cluster(ds, 0.2, 4);
  EXPECT_EQ(ds.clusters, (INT2Set{{1, {0, 1, 2, 3}}, {2, {3, 4, 5, 6}}}));
  EXPECT_EQ(Labels(ds), (std::vector<int>{1, 1, 1, 2, 2, 2, 2}));
  EXPECT_EQ(CoreFlags(ds), (std::vector<bool>{true, false, false, false, true, false, false}));
  EXPECT_EQ(ds.numCluster, 3);
}

TEST(Dbscan, ThresholdAndRadiusEdges) {
  struct Case {
    const char* what;
    std::vector<std::string> haplotypes;
    double epslion, minNumPts;
    INT2Set clusters;
    int numNoise;
  };
  const std::vector<std::string> isolated = {"0000000000", "1111100000", "0000011111"};
  const std::vector<std::string> close = {"0000000000", "1000000000", "0100000000"};
  const std::vector<std::string> equal(3, "0000000000");
  const std::vector<std::string> atThreeTenths = {"0000000000", "1110000000"};
  const Case cases[] = {
      {"threshold 1: isolated points are clusters", isolated, 0.25, 1.0, {{1, {0}}, {2, {1}}, {3, {2}}}, 0},
      {"threshold below 1", isolated, 0.25, 0.5, {{1, {0}}, {2, {1}}, {3, {2}}}, 0},
      {"threshold above num", close, 0.25, 4.0, {}, 3},
      {"fractional threshold", {"0000000000", "1000000000", "0111110000"}, 0.25, 1.5, {{1, {0, 1}}}, 1},
      {"radius 0: equal haplotypes are not neighbours", equal, 0.0, 2.0, {}, 3},
      {"a pair at exactly the radius", atThreeTenths, 0.3, 2.0, {}, 2},
      {"a pair just inside the radius", atThreeTenths, std::nextafter(0.3, 1.0), 2.0, {{1, {0, 1}}}, 0},
  };
  for (const Case& c : cases) {
    CDataPoints ds;
    ReadBitHaplotypes(ds, c.haplotypes);
    Cluster(ds, c.epslion, c.minNumPts);
    EXPECT_EQ(ds.clusters, c.clusters) << c.what;
    EXPECT_EQ(ds.numNoise, c.numNoise) << c.what;
    EXPECT_EQ(ds.numCluster, static_cast<int>(c.clusters.size()) + 1) << c.what;
  }
}

struct Clustering {
  INT2Set clusters;
  std::vector<int> labels;
  std::vector<bool> core;
  int numCluster = 0, numNoise = 0;
};

// DBSCAN step by step: start points in index order, breadth-first growth
// through core points, with the member-set rules of the scan.
Clustering ReferenceDbscan(const CDataPoints& ds) {
  const int n = ds.num;
  Clustering r{{}, std::vector<int>(n, 0), std::vector<bool>(n, false)};
  auto neighbours = [&](int p) {
    std::vector<int> found;
    for (int i = 0; i < n; i++)
      if (i != p && ds.Distance(p, i) < ds.epslion) found.push_back(i);
    return found;
  };
  auto isCore = [&](const std::vector<int>& found) {
    return static_cast<int>(found.size()) + 1 >= ds.minNumPts;
  };
  int id = 1;
  for (int p = 0; p < n; p++) {
    if (r.labels[p] != 0) continue;
    std::vector<int> seeds = neighbours(p);
    if (!isCore(seeds)) {
      r.labels[p] = -1;
      r.numNoise++;
      continue;
    }
    CSetInt& members = r.clusters[id];
    r.labels[p] = id;
    r.core[p] = true;
    members.insert(p);
    for (int s : seeds) {
      r.labels[s] = id;
      members.insert(s);
    }
    for (std::size_t head = 0; head < seeds.size(); head++) {
      const int c = seeds[head];
      r.labels[c] = id;
      members.insert(c);
      const std::vector<int> results = neighbours(c);
      if (!isCore(results)) continue;
      r.core[c] = true;
      for (int q : results) {
        if (r.labels[q] == 0) {
          r.labels[q] = id;
          members.insert(q);
          if (std::find(seeds.begin() + head, seeds.end(), q) == seeds.end()) seeds.push_back(q);
        } else if (r.labels[q] == -1) {
          r.labels[q] = id;
        }
      }
    }
    id++;
  }
  r.numCluster = id;
  return r;
}

TEST(Dbscan, AgreesWithAStepByStepReferenceOnRandomData) {
  for (unsigned seed = 1; seed <= 12; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    CDataPoints ds;
    ReadText(ds, RandomDataText(rng, 2 + rng() % 80, 2 + rng() % 12, 3));
    ds.CalculateFreq();
    ds.weightFuntionClass = 2;
    ds.weightFuntionParm[0] = -20 * uniform(rng);
    ds.weightFuntionParm[1] = 1;
    ds.curdim = 1 + rng() % ds.dim;
    for (int pos = 0; pos < ds.dim; pos++) {
      ds.SetWindow(pos);
      ds.CalculateDist(pos);
      ds.epslionpercentile = uniform(rng);
      ds.minNumPtspercentile = uniform(rng);
      ds.DeterminEpslion();
      ds.DensityOfNB(pos);
      if (rng() % 3 == 0) ds.minNumPts = uniform(rng) * 6;  // also thresholds below the lower bound
      ds.Reset();
      ds.ClusteringDBSCAN();
      SCOPED_TRACE(testing::Message() << "seed " << seed << " pos " << pos);

      int id = 1;
      for (const auto& [key, members] : ds.clusters) {
        EXPECT_EQ(key, id++);
        EXPECT_FALSE(members.empty());
      }
      EXPECT_EQ(ds.numCluster, id);
      for (int i = 0; i < ds.num; i++) {
        int count = 0;
        for (int j = 0; j < ds.num; j++) count += j != i && ds.Distance(i, j) < ds.epslion;
        EXPECT_EQ(ds.data[i].core, count + 1 >= ds.minNumPts) << i;
      }
      const Clustering expected = ReferenceDbscan(ds);
      EXPECT_EQ(ds.clusters, expected.clusters);
      EXPECT_EQ(Labels(ds), expected.labels);
      EXPECT_EQ(CoreFlags(ds), expected.core);
      EXPECT_EQ(ds.numCluster, expected.numCluster);
      EXPECT_EQ(ds.numNoise, expected.numNoise);
    }
  }
}

}  // namespace
