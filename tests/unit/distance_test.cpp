// Window distances, with the locus weights they rest on. The window placement
// is checked through the binary by the end-to-end cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "test_util.h"

namespace {

TEST(WindowDistance, OneThirdExample) {
  CDataPoints ds;  // marker 3 differs: its two weights and the run weight of marker 4 are lost, 3 of 9
  ReadText(ds, "h\n1 a 1 1 1 1 1\n2 a 1 1 1 2 1\n");
  ds.weightFuntionClass = 6;
  ds.weightFuntionParm[0] = ds.weightFuntionParm[1] = 1;
  ds.curdim = 5;  // the window starts at marker 0
  ds.CalculateFreq();
  PositionState s;
  ds.SetWindow(s, 2);
  ds.CalculateDist(s);
  EXPECT_EQ(ds.Distance(s, 0, 1), 3.0 / 9.0);
  EXPECT_EQ(ds.Distance(s, 1, 1), 0.0);
}

// Weights W1 and W2 of marker k away from the centre pos: |D'| of the pair
// under scheme 3, else functions of the map distance d between them, summed
// from the left: exp(p d) q (schemes 1, 4), max(0, p d + q) (2, 5), the two
// constants (6) or d itself; schemes 4 and 5 take p and q of W2 from
// parameters 3 and 4.
std::pair<double, double> ReferenceWeights(const CDataPoints& ds, int pos, int k) {
  const int scheme = ds.weightFuntionClass, lo = std::min(k, pos), hi = std::max(k, pos);
  const double* p = ds.weightFuntionParm;
  if (scheme == 3) return {ds.WeightFunction1LD(lo, hi), ds.WeightFunction2LD(lo, hi)};
  if (scheme == 6) return {p[0], p[1]};
  double d = 0;
  for (int m = lo; m < hi; m++) d += ds.markerIntervalDist[m];
  auto weight = [&](double rate, double scale) {
    if (scheme == 1 || scheme == 4) return std::exp(rate * d) * scale;
    if (scheme == 2 || scheme == 5) return std::max(0.0, rate * d + scale);
    return d;
  };
  return {weight(p[0], p[1]), scheme > 3 ? weight(p[2], p[3]) : weight(p[0], p[1])};
}

// The window distance summed in its defined order: the centre (W1 = 1 only),
// the right side outwards adding W1 then W2, then the left side outwards,
// each side with its own run of matches from the centre.
double ReferenceDistance(const CDataPoints& ds, const CIntArray& a, const CIntArray& b, int pos, int curpos) {
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
    total += v1;
    total += v2;
    sum1 += v1;
    sum2 += v2;
  }
  if (ds.weightFuntionClass != 3) return (total - shared) / total;
  const double p0 = ds.weightFuntionParm[0];
  if (p0 == 1.0) return (sum1 - identity) / sum1;
  if (p0 == 2.0) return (sum2 - run) / sum2;
  return (sum1 + sum2 - identity - run) / (sum1 + sum2);
}

// Identical doubles; any two not-a-number values count as identical.
bool SameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(WindowDistance, MatrixEqualsThePairwiseAndTheReferenceDistanceOnRandomData) {
  for (unsigned seed = 1; seed <= 8; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    CDataPoints ds;
    const int dim = 2 + rng() % 9;
    ReadText(ds, RandomDataText(rng, 2 + rng() % 30, dim, 2 + rng() % 2));  // few markers: repeated windows
    for (double& interval : ds.markerIntervalDist) interval = 0.05 * uniform(rng);
    ds.CalculateFreq();
    PositionState s;
    for (int pos = 0; pos < dim; pos++) {
      ds.weightFuntionClass = rng() % 7;
      const bool ld = ds.weightFuntionClass == 3;
      for (double& p : ds.weightFuntionParm) p = uniform(rng) * 3 - 1;
      ds.weightFuntionParm[0] = ld ? 1 + rng() % 3 : -40 * uniform(rng);
      ds.curdim = 1 + rng() % dim;
      ds.LDdelta();
      const int lowest = std::max(0, pos - ds.curdim + 1), highest = std::min(pos, dim - ds.curdim);
      s.pos = pos;
      s.curpos = lowest + rng() % (highest - lowest + 1);  // any window holding the centre
      if (ld)
        ds.CalculateDistUsingLD(s);
      else
        ds.CalculateDist(s);
      for (int i = 0; i < ds.num; i++)
        for (int j = 0; j < ds.num; j++) {
          if (i == j) continue;
          const CMyPoint *x = &ds.data[i], *y = &ds.data[j];
          const double pairwise =
              ld ? ds.distance_Ham_MIL_WeightedLD(x, y, pos, s.curpos) : ds.distance_Ham_MIL_Weighted(x, y, pos, s.curpos);
          SCOPED_TRACE(testing::Message() << "seed " << seed << " pos " << pos << " scheme "
                                          << ds.weightFuntionClass << " pair " << i << "," << j);
          EXPECT_PRED2(SameBits, ds.Distance(s, i, j), pairwise);
          EXPECT_PRED2(SameBits, pairwise, ReferenceDistance(ds, x->value, y->value, pos, s.curpos));
        }
    }
  }
}

}  // namespace
