// DBSCAN over the distances of the current position.
//
// The members of a window class share their neighbours and their core
// status, so the expansion works class by class while producing exactly the
// labels, member sets and core flags of the point-by-point algorithm:
// - a start point that is not core becomes noise;
// - every neighbour of a core start point joins its cluster, whatever its
//   label (so a border point can belong to two clusters);
// - every point reached from a core point joins if it was never labelled,
//   and takes the label without joining if it was noise.
// Once a class has been swept, none of its members is unlabelled or noise,
// so no class needs sweeping twice in a position.
#include <algorithm>

#include "dbscan.h"

void CDataPoints::Reset(PositionState& s) const {
  s.numCluster = 0;
  s.numNoise = 0;
  s.clusters.clear();
  s.type.assign(num, 0);
  s.core.assign(num, 0);
  s.swept.assign(s.numWindowClasses, 0);
  s.expandedIn.assign(s.numWindowClasses, 0);
}

int CDataPoints::ClusteringDBSCAN(PositionState& s) const {
  // The neighbour count plus the point itself must reach the (possibly
  // fractional) threshold.
  s.classCore.resize(s.numWindowClasses);
  for (int c = 0; c < s.numWindowClasses; c++) s.classCore[c] = s.neighbourCount[c] + 1 >= s.minNumPts;
  int clusterID = 1;
  for (int i = 0; i < num; i++)
    if (s.type[i] == 0 && ExpandCluster(s, i, clusterID) == 0) clusterID++;
  s.numCluster = clusterID;
  s.coreBits.assign((num + 63) / 64, 0);
  for (int h = 0; h < num; h++)
    if (s.core[h]) s.coreBits[h / 64] |= std::uint64_t{1} << (h % 64);
  return s.numCluster;
}

namespace {

// Adds a haplotype to the cluster; a member of a core class is a core point.
void Join(PositionState& s, Cluster& cluster, int h, bool coreClass) {
  std::uint64_t& word = cluster.members[h / 64];
  const std::uint64_t bit = std::uint64_t{1} << (h % 64);
  if (!(word & bit)) cluster.size++;
  word |= bit;
  s.type[h] = cluster.id;
  if (coreClass) s.core[h] = 1;
}

// A core class with a member in the cluster has its neighbours reached, once.
void QueueForExpansion(PositionState& s, int c, int clusterID) {
  if (!s.classCore[c] || s.expandedIn[c] == clusterID) return;
  s.expandedIn[c] = clusterID;
  s.classQueue.push_back(c);
}

// Reaches the members of class c from a core point of the cluster.
void Sweep(PositionState& s, Cluster& cluster, int c) {
  if (s.swept[c]) return;
  s.swept[c] = 1;
  bool joined = false;
  for (int k = s.classStart[c]; k < s.classStart[c + 1]; k++) {
    const int h = s.classMembers[k];
    if (s.type[h] == 0) {
      Join(s, cluster, h, s.classCore[c]);
      joined = true;
    } else if (s.type[h] == -1) {
      s.type[h] = cluster.id;  // noise takes the label but stays out of the member set
    }
  }
  if (joined) QueueForExpansion(s, c, cluster.id);
}

}  // namespace

int CDataPoints::ExpandCluster(PositionState& s, int index, int clusterID) const {
  const int start = s.windowClass[index];
  if (!s.classCore[start]) {
    s.type[index] = -1;
    s.numNoise++;
    return -1;
  }
  Cluster& cluster = s.clusters.emplace_back();
  cluster.id = clusterID;
  cluster.members.assign((num + 63) / 64, 0);
  Join(s, cluster, index, true);
  s.classQueue.clear();
  // Every neighbour of the start point joins, whatever its label.
  for (int k = s.neighbourStart[start]; k < s.neighbourStart[start + 1]; k++) {
    const int c = s.neighbourClasses[k];
    bool joined = false;
    for (int m = s.classStart[c]; m < s.classStart[c + 1]; m++) {
      const int h = s.classMembers[m];
      if (h == index) continue;
      Join(s, cluster, h, s.classCore[c]);
      joined = true;
    }
    s.swept[c] = 1;
    if (joined) QueueForExpansion(s, c, clusterID);
  }
  for (std::size_t next = 0; next < s.classQueue.size(); next++) {
    const int c = s.classQueue[next];
    for (int k = s.neighbourStart[c]; k < s.neighbourStart[c + 1]; k++) Sweep(s, cluster, s.neighbourClasses[k]);
  }
  return 0;
}
