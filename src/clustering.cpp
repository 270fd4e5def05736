// DBSCAN over the distances of the current position.
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

int CDataPoints::RegionQuery(int index, CIntArray& seeds) const {
  const double* row = &distMatrix[static_cast<std::size_t>(windowClass[index]) * numWindowClasses];
  for (int i = 0; i < num; i++)
    if (i != index && row[windowClass[i]] < epslion) seeds.push_back(i);
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
