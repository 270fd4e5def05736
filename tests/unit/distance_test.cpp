// The window distance against a plain reference written from its definition,
// bit for bit: a sum formed in another order can cross the radius.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <sstream>

#include "dbscan.h"

namespace {

// |D'| of two markers from the counts of allele 1: D over the smaller of its two bounds.
double ReferenceLD(const CDataPoints& ds, int a, int b) {
  int nA = 0, nB = 0, nAB = 0;
  for (int h = 0; h < ds.num; h++) {
    nA += ds.Allele(h, a) == 1;
    nB += ds.Allele(h, b) == 1;
    nAB += ds.Allele(h, a) == 1 && ds.Allele(h, b) == 1;
  }
  const double n = ds.data.size(), pA = nA / n, pB = nB / n, D = nAB / n - pA * pB;
  return std::fabs(D / (D > 0 ? std::min(pA * (1 - pB), (1 - pA) * pB) : std::min(pA * pB, (1 - pA) * (1 - pB))));
}

// Weights W1, W2 of marker k: |D'| with the centre under scheme 3, the two
// constants under 6, else functions of the map distance d (intervals summed
// from the left): exp(p d) q (1, 4), max(0, p d + q) (2, 5) or d itself;
// schemes 4 and 5 take W2's p and q from parameters 3 and 4.
std::pair<double, double> ReferenceWeights(const CDataPoints& ds, int pos, int k) {
  const int scheme = ds.weightFuntionClass, lo = std::min(k, pos), hi = std::max(k, pos);
  const double* p = ds.weightFuntionParm;
  if (scheme == 3) return {ReferenceLD(ds, lo, hi), ReferenceLD(ds, lo, hi)};
  if (scheme == 6) return {p[0], p[1]};
  double d = 0;
  for (int m = lo; m < hi; m++) d += ds.markerIntervalDist[m];
  auto weight = [&](double rate, double scale) {
    if (scheme == 1 || scheme == 4) return std::exp(rate * d) * scale;
    return scheme == 2 || scheme == 5 ? std::max(0.0, rate * d + scale) : d;
  };
  return {weight(p[0], p[1]), scheme > 3 ? weight(p[2], p[3]) : weight(p[0], p[1])};
}

// 1 - R / S summed in the defined order: the centre (W1 = 1 only), then the
// right side outwards adding W1 and W2, then the left side outwards, each side
// with its own run of matches from the centre. Scheme 3 keeps the identity
// part (p0 = 1), the run part (2) or both (3).
double ReferenceDistance(const CDataPoints& ds, int h1, int h2, int pos, int curpos) {
  std::vector<int> a(ds.dim), b(ds.dim);
  for (int k = 0; k < ds.dim; k++) a[k] = ds.Allele(h1, k), b[k] = ds.Allele(h2, k);
  std::vector<int> markers = {pos};
  for (int k = pos + 1; k < curpos + ds.curdim; k++) markers.push_back(k);
  for (int k = pos - 1; k >= curpos; k--) markers.push_back(k);
  double total = 0, shared = 0, sum1 = 0, identity = 0, sum2 = 0, run = 0;
  bool inRun = true;
  for (int k : markers) {
    if (k == pos - 1) inRun = a[pos] == b[pos];
    inRun = inRun && a[k] == b[k];
    const auto [v1, v2] = k == pos ? std::pair{1.0, 0.0} : ReferenceWeights(ds, pos, k);
    if (a[k] == b[k]) shared += v1, identity += v1;
    if (inRun) shared += v2, run += v2;
    total += v1, total += v2, sum1 += v1, sum2 += v2;
  }
  const double p0 = ds.weightFuntionParm[0];
  if (ds.weightFuntionClass != 3) return (total - shared) / total;
  if (p0 == 1.0) return (sum1 - identity) / sum1;
  if (p0 == 2.0) return (sum2 - run) / sum2;
  return (sum1 + sum2 - identity - run) / (sum1 + sum2);
}

bool SameBits(double a, double b) {  // two not-a-number values count as the same
  return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Random haplotypes (few markers and codes: repeated windows, monomorphic
// markers), intervals, schemes, parameters and windows holding the centre.
TEST(WindowDistance, EqualsTheReferenceBitForBit) {
  for (unsigned seed = 1; seed <= 12; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const int num = 2 + rng() % 30, dim = 2 + rng() % 9, codes = 2 + rng() % 2;
    std::ostringstream text;
    text << "header\n";
    for (int h = 0; h < num; h++) {
      text << h << (rng() % 2 ? " a" : " c");
      for (int k = 0; k < dim; k++) text << ' ' << rng() % codes;
      text << '\n';
    }
    std::istringstream in(text.str());
    CDataPoints ds;
    ds.Read(in, nullptr, 0);
    for (double& interval : ds.markerIntervalDist) interval = 0.05 * uniform(rng);
    ds.CalculateFreq();  // also the packed alleles the window classes compare
    PositionState s;
    for (int pos = 0; pos < dim; pos++) {
      ds.weightFuntionClass = rng() % 8;
      const bool ld = ds.weightFuntionClass == 3;
      for (double& p : ds.weightFuntionParm) p = uniform(rng) * 3 - 1;
      ds.weightFuntionParm[0] = ld ? 1 + rng() % 3 : -40 * uniform(rng);
      ds.curdim = 1 + rng() % dim;
      ds.LDdelta();  // |D'| of the pairs a window of this width holds
      const int lowest = std::max(0, pos - ds.curdim + 1), highest = std::min(pos, dim - ds.curdim);
      s.pos = pos;
      s.curpos = lowest + rng() % (highest - lowest + 1);
      // The scan's distances between window classes, read per haplotype pair.
      if (ld)
        ds.CalculateDistUsingLD(s);
      else
        ds.CalculateDist(s);
      for (int i = 0; i < ds.num; i++)
        for (int j = 0; j < ds.num; j++) {
          const double d = ld ? ds.distance_Ham_MIL_WeightedLD(i, j, pos, s.curpos)
                              : ds.distance_Ham_MIL_Weighted(i, j, pos, s.curpos);
          SCOPED_TRACE(testing::Message() << "seed " << seed << " pos " << pos << " scheme " << ds.weightFuntionClass);
          EXPECT_PRED2(SameBits, d, ReferenceDistance(ds, i, j, pos, s.curpos));
          if (i != j) {
            EXPECT_PRED2(SameBits, ds.Distance(s, i, j), d);
          }
        }
    }
  }
}

// Hundreds of haplotypes and markers, so that rows span several words and
// haplotypes several tiles of the packed store, and alleles that first appear
// late, so that rows already stored are widened: every allele reads back as
// written, and two haplotypes share a window class exactly when they agree
// on every marker of the window.
TEST(PackedAlleles, ReadBackAndGroupWindowsAcrossWordsAndTiles) {
  for (unsigned seed = 1; seed <= 4; seed++) {
    std::mt19937 rng(seed);
    const int num = 100 + rng() % 150, dim = 60 + rng() % 200;
    std::vector<std::vector<int>> alleles(num, std::vector<int>(dim));
    std::ostringstream text;
    text << "header\n";
    for (int h = 0; h < num; h++) {
      text << h << (rng() % 2 ? " a" : " c");
      // Mostly two alleles; up to 5 after two thirds of the haplotypes; long shared stretches.
      const int codes = h < 2 * num / 3 ? 2 : 2 + rng() % 4;
      for (int k = 0; k < dim; k++) {
        alleles[h][k] = h > 0 && rng() % 4 ? alleles[h - 1][k] : 1 + static_cast<int>(rng() % codes);
        text << ' ' << alleles[h][k];
      }
      text << '\n';
    }
    std::istringstream in(text.str());
    CDataPoints ds;
    ds.Read(in, nullptr, 0);
    ds.CalculateFreq();
    for (int h = 0; h < num; h++)
      for (int k = 0; k < dim; k++) ASSERT_EQ(ds.Allele(h, k), alleles[h][k]) << "seed " << seed;
    PositionState s;
    for (int trial = 0; trial < 20; trial++) {
      ds.curdim = 1 + rng() % std::min(dim, 70);
      s.curpos = rng() % (dim - ds.curdim + 1);
      s.pos = s.curpos + rng() % ds.curdim;
      ds.CalculateDist(s);
      for (int i = 0; i < num; i++)
        for (int j = i + 1; j < num; j++) {
          const auto from = alleles[i].begin() + s.curpos, to = from + ds.curdim;
          const bool same = std::equal(from, to, alleles[j].begin() + s.curpos);
          ASSERT_EQ(s.windowClass[i] == s.windowClass[j], same) << "seed " << seed << " haplotypes " << i << ", " << j;
        }
    }
  }
}

}  // namespace
