// The radius, the density threshold and DBSCAN of one position, against
// direct counts over all haplotype pairs and a textbook DBSCAN: the scan
// works on window classes, and these references see single haplotypes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "dbscan.h"

namespace {

struct Clustering {
  std::map<int, std::set<int>> clusters;
  std::vector<int> labels;
  std::vector<bool> core;
  int numNoise = 0;
};

std::vector<int> Neighbours(const CDataPoints& ds, const PositionState& s, int p, double radius) {
  std::vector<int> found;
  for (int i = 0; i < ds.num; i++)
    if (i != p && ds.Distance(s, p, i) < radius) found.push_back(i);
  return found;
}

// Start points in index order, breadth-first growth through core points. The
// start point's neighbours all join its member set; noise reached later
// takes the label but not the membership.
Clustering ReferenceDbscan(const CDataPoints& ds, const PositionState& s) {
  const int n = ds.num;
  Clustering r{{}, std::vector<int>(n, 0), std::vector<bool>(n, false)};
  for (int p = 0, next = 1; p < n; p++) {
    if (r.labels[p] != 0) continue;
    std::vector<int> queue = Neighbours(ds, s, p, s.epslion);
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
      const std::vector<int> found = Neighbours(ds, s, queue[head], s.epslion);
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

// Radius: the lower edge of the 0.1-wide bin where the pair count reaches
// trunc(pairs x fraction); bins by trunc(10 d) in extended precision.
double ReferenceRadius(const CDataPoints& ds, const PositionState& s) {
  long long bins[11] = {};
  for (int i = 0; i < ds.num; i++)
    for (int j = i + 1; j < ds.num; j++) {
      const double d = ds.Distance(s, i, j);
      bins[!(d <= 1.0) ? 10 : d < 0 ? 0 : static_cast<int>(static_cast<long double>(d) * 10.0L)]++;
    }
  const long long pairs = static_cast<long long>(ds.num) * (ds.num - 1) / 2;
  long long t = static_cast<long long>(static_cast<long double>(pairs) * ds.epslionpercentile);
  int b = 0;
  while (bins[b] < t) t -= bins[b++];
  return b / 10.0;
}

// Density threshold: 1 + the neighbour count at rank trunc(num x fraction),
// within num x 0.5 x the allele-1 frequency and at least num x 0.01.
double ReferenceThreshold(const CDataPoints& ds, const PositionState& s) {
  std::vector<int> counts;
  for (int i = 0; i < ds.num; i++) counts.push_back(static_cast<int>(Neighbours(ds, s, i, s.epslion).size()));
  std::sort(counts.begin(), counts.end());
  const double threshold = counts[static_cast<int>(static_cast<long double>(ds.num) * ds.minNumPtspercentile)] + 1;
  return std::max(std::min(threshold, ds.num * 0.5 * ds.alleleFre[s.pos]), ds.num * 0.01);
}

// Every pair tested: the classes within the radius of each class, ascending.
std::vector<std::vector<int>> AllPairsNeighbours(const CDataPoints& ds, const PositionState& s) {
  std::vector<std::vector<int>> lists(s.numWindowClasses);
  for (int c1 = 0; c1 < s.numWindowClasses; c1++)
    for (int c2 = 0; c2 < s.numWindowClasses; c2++)
      if (ds.ClassDistance(s, c1, c2) < s.epslion) lists[c1].push_back(c2);
  return lists;
}

std::vector<std::vector<int>> SearchedNeighbours(const PositionState& s) {
  std::vector<std::vector<int>> lists(s.numWindowClasses);
  for (int c = 0; c < s.numWindowClasses; c++)
    lists[c].assign(s.neighbourClasses.begin() + s.neighbourStart[c], s.neighbourClasses.begin() + s.neighbourStart[c + 1]);
  return lists;
}

// Every weighting scheme with its parameters drawn, negative weights
// included; windows at every position, so clipped at both ends; radii from
// none to all.
void ExpectSearchEqualsAllPairs(CDataPoints& ds, std::mt19937& rng, int positions) {
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  PositionState s;
  for (int n = 0; n < positions; n++) {
    const int pos = n * ds.dim / positions;
    ds.weightFuntionClass = 1 + rng() % 6;
    for (double& p : ds.weightFuntionParm) p = uniform(rng) * 3 - (rng() % 4 == 0 ? 1 : 0);
    ds.weightFuntionParm[0] = ds.weightFuntionClass == 3 ? 1 + rng() % 3 : -40 * uniform(rng);
    ds.LDdelta();
    ds.SetWindow(s, pos);
    if (ds.weightFuntionClass == 3)
      ds.CalculateDistUsingLD(s);
    else
      ds.CalculateDist(s);
    ds.epslion = rng() % 5 == 0 ? uniform(rng) * 1.5 : uniform(rng) * 0.5;
    ds.epslionpercentile = 0.0;
    ds.DeterminEpslion(s);
    ds.DensityOfNB(s);
    SCOPED_TRACE(testing::Message() << "pos " << pos << " scheme " << ds.weightFuntionClass << " radius "
                                    << s.epslion << " classes " << s.numWindowClasses);
    EXPECT_EQ(SearchedNeighbours(s), AllPairsNeighbours(ds, s));
  }
}

TEST(NeighbourSearch, EqualsAllPairsOnRandomHaplotypes) {
  for (unsigned seed = 1; seed <= 30; seed++) {
    std::mt19937 rng(seed);
    std::ostringstream text;
    text << "header\n";
    const int num = 2 + rng() % 150, dim = 2 + rng() % 40, codes = 2 + rng() % 3;
    // Haplotypes copied from a few founders with rare changes: close pairs.
    std::vector<std::vector<int>> founders(1 + rng() % 6, std::vector<int>(dim));
    for (auto& founder : founders)
      for (int& allele : founder) allele = rng() % codes;
    for (int h = 0; h < num; h++) {
      text << h << (rng() % 2 ? " a" : " c");
      const auto& founder = founders[rng() % founders.size()];
      for (int k = 0; k < dim; k++) text << ' ' << (rng() % 8 == 0 ? static_cast<int>(rng() % codes) : founder[k]);
      text << '\n';
    }
    std::istringstream in(text.str());
    CDataPoints ds;
    ds.Read(in, nullptr, 0);
    ds.curdim = 1 + rng() % ds.dim;
    ds.CalculateFreq();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    ExpectSearchEqualsAllPairs(ds, rng, std::min(ds.dim, 8));
  }
}

TEST(NeighbourSearch, EqualsAllPairsOnRealHaplotypes) {
  std::ifstream in(std::string(VELTRANE_SOURCE_DIR) + "/tests/data/chr20-slice/data.txt");
  ASSERT_TRUE(in);
  CDataPoints ds;
  ds.Read(in, nullptr, 0);
  ds.CalculateFreq();
  std::mt19937 rng(7);
  for (int width : {1, 9, 21, 61}) {
    ds.curdim = width;
    SCOPED_TRACE(testing::Message() << "window " << width);
    ExpectSearchEqualsAllPairs(ds, rng, 12);
  }
}

TEST(Dbscan, RadiusDensityAndClustersAgreeWithPairwiseReferences) {
  for (unsigned seed = 1; seed <= 40; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::ostringstream text;  // few markers and codes: many repeated windows
    text << "header\n";
    const int num = 2 + rng() % 80, dim = 2 + rng() % 12;
    for (int h = 0; h < num; h++) {
      text << h << (rng() % 2 ? " a" : " c");
      for (int k = 0; k < dim; k++) text << ' ' << rng() % 3;
      text << '\n';
    }
    std::istringstream in(text.str());
    CDataPoints ds;
    ds.Read(in, nullptr, 0);
    ds.CalculateFreq();
    ds.weightFuntionClass = 2;
    ds.weightFuntionParm[0] = -0.03 * (rng() % 1000);
    ds.weightFuntionParm[1] = 1;
    ds.curdim = 1 + rng() % ds.dim;
    PositionState s;
    for (int pos = 0; pos < ds.dim; pos++) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " pos " << pos);
      ds.SetWindow(s, pos);
      ds.CalculateDist(s);
      ds.epslionpercentile = uniform(rng);
      ds.minNumPtspercentile = uniform(rng);
      ds.DeterminEpslion(s);
      EXPECT_EQ(s.epslion, ReferenceRadius(ds, s));
      ds.DensityOfNB(s);
      EXPECT_EQ(s.minNumPts, ReferenceThreshold(ds, s));
      if (rng() % 3 == 0) s.minNumPts = uniform(rng) * 6;  // also thresholds below the lower bound
      ds.Reset(s);
      ds.ClusteringDBSCAN(s);
      const Clustering expected = ReferenceDbscan(ds, s);
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
    }
  }
}

}  // namespace
