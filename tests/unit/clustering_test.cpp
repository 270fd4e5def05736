// DBSCAN over the distances of one position.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "test_util.h"

namespace {

struct Clustering {
  std::map<int, std::set<int>> clusters;
  std::vector<int> labels;
  std::vector<bool> core;
  int numNoise = 0;
};

// Textbook DBSCAN: start points in index order, breadth-first growth through
// core points. The start point's neighbours all join its member set; noise
// reached later takes the label but not the membership.
Clustering ReferenceDbscan(const CDataPoints& ds, const PositionState& s) {
  const int n = ds.num;
  Clustering r{{}, std::vector<int>(n, 0), std::vector<bool>(n, false)};
  auto neighbours = [&](int p) {
    std::vector<int> found;
    for (int i = 0; i < n; i++)
      if (i != p && ds.Distance(s, p, i) < s.epslion) found.push_back(i);
    return found;
  };
  for (int p = 0, next = 1; p < n; p++) {
    if (r.labels[p] != 0) continue;
    std::vector<int> queue = neighbours(p);
    if (queue.size() + 1 < s.minNumPts) {
      r.labels[p] = -1;
      r.numNoise++;
      continue;
    }
    const int id = next++;
    queue.insert(queue.begin(), p);
    for (int q : queue) r.labels[q] = id;
    std::set<int>& members = r.clusters[id];
    members.insert(queue.begin(), queue.end());
    for (std::size_t head = 0; head < queue.size(); head++) {
      const std::vector<int> found = neighbours(queue[head]);
      if (found.size() + 1 < s.minNumPts) continue;
      r.core[queue[head]] = true;
      for (int q : found) {
        if (r.labels[q] == 0) {
          members.insert(q);
          queue.push_back(q);
        }
        if (r.labels[q] <= 0) r.labels[q] = id;
      }
    }
  }
  return r;
}

TEST(Dbscan, AgreesWithATextbookReferenceOnRandomData) {
  ForEachRandomPosition(40, 80, 12, 2, [](CDataPoints& ds, PositionState& s, std::mt19937& rng, auto& uniform,
                                          unsigned seed, int pos) {
    ds.DeterminEpslion(s);
    ds.DensityOfNB(s);
    if (rng() % 3 == 0) s.minNumPts = uniform(rng) * 6;  // also thresholds below the lower bound
    ds.Reset(s);
    ds.ClusteringDBSCAN(s);
    const Clustering expected = ReferenceDbscan(ds, s);
    SCOPED_TRACE(testing::Message() << "seed " << seed << " pos " << pos);
    std::map<int, std::set<int>> clusters;
    for (const Cluster& cluster : s.clusters) {
      ForEachHaplotype(cluster.members, [&](int h) { clusters[cluster.id].insert(h); });
      EXPECT_EQ(cluster.size, static_cast<int>(clusters[cluster.id].size()));
    }
    EXPECT_EQ(clusters, expected.clusters);
    for (int i = 0; i < ds.num; i++) {
      EXPECT_EQ(s.type[i], expected.labels[i]) << i;
      EXPECT_EQ(s.core[i] != 0, expected.core[i]) << i;
    }
    EXPECT_EQ(s.numCluster, static_cast<int>(expected.clusters.size()) + 1);
    EXPECT_EQ(s.numNoise, expected.numNoise);
  });
}

}  // namespace
