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

// Reads a data file given as text (header line included).
inline void ReadText(CDataPoints& ds, const std::string& text, const std::string* intervalFile = nullptr) {
  std::istringstream in(text);
  ds.Read(in, intervalFile, 0, "data.txt");
}

// A random data file: num haplotypes of dim alleles drawn from 0..codes-1,
// each a case or a control at random, or in the trait mode with a trait drawn
// from 0..4 (so that ties are common).
inline std::string RandomDataText(std::mt19937& rng, int num, int dim, int codes, bool trait = false) {
  std::ostringstream text;
  text << "header\n";
  for (int h = 0; h < num; h++) {
    text << h << ' ';
    if (trait)
      text << rng() % 5;
    else
      text << (rng() % 2 ? 'a' : 'c');
    for (int k = 0; k < dim; k++) text << ' ' << rng() % codes;
    text << '\n';
  }
  return text.str();
}

// Haplotypes written as strings of '0' and '1' (alleles 1 and 2), scanned at
// position 0 with a window over all their markers and constant weights w1 and
// w2. With the defaults the distance of two haplotypes is the fraction of
// markers at which they differ, exactly: k differences of 10 give the double
// nearest k / 10.
inline void ReadBitHaplotypes(CDataPoints& ds, const std::vector<std::string>& haplotypes, double w1 = 1.0,
                              double w2 = 0.0) {
  std::ostringstream text;
  text << "header\n";
  for (std::size_t h = 0; h < haplotypes.size(); h++) {
    text << h << " c";
    for (char bit : haplotypes[h]) text << ' ' << (bit == '1' ? 2 : 1);
    text << '\n';
  }
  ReadText(ds, text.str());
  ds.weightFuntionClass = 6;
  ds.weightFuntionParm[0] = w1;
  ds.weightFuntionParm[1] = w2;
  ds.curdim = ds.dim;
  ds.SetWindow(0);
  ds.CalculateDist(0);
}
