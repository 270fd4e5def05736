// DBSCAN over the distances of the current position.
#include <algorithm>
#include <deque>

#include "dbscan.h"

void CDataPoints::Reset() {
  numCluster = 0;
  numNoise = 0;
  clusters.clear();
  for (CMyPoint& point : data) {
    point.type = 0;
    point.core = false;
  }
}

// The neighbours of a haplotype are the members of the window classes closer
// than the radius, so a query gathers whole classes instead of testing every
// haplotype.
int CDataPoints::RegionQuery(int index, CIntArray& seeds) const {
  const int C = numWindowClasses;
  const double* row = &distMatrix[static_cast<std::size_t>(windowClass[index]) * C];
  const std::size_t from = seeds.size();
  int classesTaken = 0;
  for (int c = 0; c < C; c++) {
    if (!(row[c] < epslion)) continue;
    for (int k = classStart[c]; k < classStart[c + 1]; k++)
      if (classMembers[k] != index) seeds.push_back(classMembers[k]);
    classesTaken++;
  }
  if (classesTaken > 1) std::sort(seeds.begin() + from, seeds.end());
  return 0;
}

int CDataPoints::ClusteringDBSCAN() {
  int clusterID = 1;
  for (int i = 0; i < num; i++)
    if (data[i].type == 0 && ExpandCluster(i, clusterID) == 0) clusterID++;
  numCluster = clusterID;
  return numCluster;
}

// The neighbour count plus the point itself must reach the (possibly
// fractional) density threshold.
static bool IsCore(const CIntArray& neighbours, double minNumPts) {
  return static_cast<int>(neighbours.size()) + 1 >= minNumPts;
}

int CDataPoints::ExpandCluster(int index, int clusterID) {
  CIntArray start;
  RegionQuery(index, start);
  if (!IsCore(start, minNumPts)) {
    data[index].type = -1;
    numNoise++;
    return -1;
  }
  CSetInt& members = clusters[clusterID];
  data[index].type = clusterID;
  data[index].core = true;
  members.insert(index);
  // Every neighbour of the start point joins, whatever its label, even one
  // already in an earlier cluster's member set.
  for (int seed : start) {
    data[seed].type = clusterID;
    members.insert(seed);
  }
  std::deque<int> seeds(start.begin(), start.end());
  CIntArray results;
  while (!seeds.empty()) {
    const int c = seeds.front();
    data[c].type = clusterID;
    members.insert(c);
    results.clear();
    RegionQuery(c, results);
    if (IsCore(results, minNumPts)) {
      data[c].core = true;
      for (int r : results) {
        if (data[r].type == 0) {
          // A label-0 point has never been in a seed list, so no duplicate check is needed.
          data[r].type = clusterID;
          members.insert(r);
          seeds.push_back(r);
        } else if (data[r].type == -1) {
          // Noise reached from a core point other than the start takes the
          // label but stays out of the member set.
          data[r].type = clusterID;
        }
      }
    }
    seeds.pop_front();
  }
  return 0;
}
