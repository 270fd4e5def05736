// Shared fixtures of the unit tests.
#pragma once

#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbscan.h"

inline std::vector<int> IdentityOrder(int n) {
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  return order;
}

// The haplotypes that carry a case label under a label order.
inline HaplotypeBits CasesOf(const CDataPoints& ds, const int* order) {
  HaplotypeBits cases((ds.num + 63) / 64, 0);
  for (int h = 0; h < ds.num; h++)
    if (ds.data[order[h]].affected == 1) cases[h / 64] |= std::uint64_t{1} << (h % 64);
  return cases;
}

// Adds a cluster with the given members to a position's clusters.
inline void AddCluster(PositionState& s, int num, const std::vector<int>& members) {
  Cluster& cluster = s.clusters.emplace_back();
  cluster.id = static_cast<int>(s.clusters.size());
  cluster.members.assign((num + 63) / 64, 0);
  for (int h : members) cluster.members[h / 64] |= std::uint64_t{1} << (h % 64);
  cluster.size = static_cast<int>(members.size());
  s.coreBits.assign(cluster.members.size(), 0);
}

// Reads a data file given as text, header line included.
inline void ReadText(CDataPoints& ds, const std::string& text) {
  std::istringstream in(text);
  ds.Read(in, nullptr, 0, "data.txt");
}

// num haplotypes of dim alleles drawn from 0..codes-1, each a case or a
// control, or in the trait mode with a trait from 0..4 (so ties are common).
inline std::string RandomDataText(std::mt19937& rng, int num, int dim, int codes, bool trait = false) {
  std::ostringstream text;
  text << "header\n";
  for (int h = 0; h < num; h++) {
    text << h << ' ' << (trait ? std::to_string(rng() % 5) : rng() % 2 ? "a" : "c");
    for (int k = 0; k < dim; k++) text << ' ' << rng() % codes;
    text << '\n';
  }
  return text.str();
}

// A random case-control data set with a random window and a random decay of
// a distance-based weighting scheme (1 exponential, 2 linear).
inline void ReadRandomScan(CDataPoints& ds, std::mt19937& rng, int maxNum, int maxDim, int scheme) {
  ReadText(ds, RandomDataText(rng, 2 + rng() % maxNum, 2 + rng() % maxDim, 3));
  ds.CalculateFreq();
  ds.weightFuntionClass = scheme;
  ds.weightFuntionParm[0] = -0.03 * (rng() % 1000);
  ds.weightFuntionParm[1] = 1;
  ds.curdim = 1 + rng() % ds.dim;
}

// For each seed 1..seeds, a random scan as above; at each of its positions the
// window and distances are set and the radius and density percentiles drawn
// from uniform(rng) before body(ds, state, rng, uniform, seed, pos) runs.
template <class Body>
void ForEachRandomPosition(unsigned seeds, int maxNum, int maxDim, int scheme, Body body) {
  for (unsigned seed = 1; seed <= seeds; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    CDataPoints ds;
    ReadRandomScan(ds, rng, maxNum, maxDim, scheme);
    PositionState state;
    for (int pos = 0; pos < ds.dim; pos++) {
      ds.SetWindow(state, pos);
      ds.CalculateDist(state);
      ds.epslionpercentile = uniform(rng);
      ds.minNumPtspercentile = uniform(rng);
      body(ds, state, rng, uniform, seed, pos);
    }
  }
}
