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
// from uniform(rng) before body(ds, rng, uniform, seed, pos) runs.
template <class Body>
void ForEachRandomPosition(unsigned seeds, int maxNum, int maxDim, int scheme, Body body) {
  for (unsigned seed = 1; seed <= seeds; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    CDataPoints ds;
    ReadRandomScan(ds, rng, maxNum, maxDim, scheme);
    for (int pos = 0; pos < ds.dim; pos++) {
      ds.SetWindow(pos);
      ds.CalculateDist(pos);
      ds.epslionpercentile = uniform(rng);
      ds.minNumPtspercentile = uniform(rng);
      body(ds, rng, uniform, seed, pos);
    }
  }
}
