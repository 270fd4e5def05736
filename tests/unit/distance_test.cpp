// Locus weights, window placement and the window distances.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <tuple>

#include "test_util.h"

namespace {

// Identical doubles; any two not-a-number values count as identical.
bool SameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Map distance between markers a < c: the intervals summed from a upwards.
double MapDistance(const CDataPoints& ds, int a, int c) {
  double d = 0.0;
  for (int k = a; k < c; k++) d += ds.markerIntervalDist[k];
  return d;
}

TEST(WeightFunctions, SchemeTable) {
  using Weight = std::function<double(double)>;
  const Weight map = [](double d) { return d; };
  auto exponential = [](double p, double q) -> Weight {
    return [=](double d) { return std::exp(p * d) * q; };
  };
  auto linear = [](double p, double q) -> Weight {
    return [=](double d) { return std::max(0.0, p * d + q); };
  };
  auto constant = [](double p) -> Weight { return [=](double) { return p; }; };
  struct Case {
    int scheme;
    double p[4];
    Weight w1, w2;
  };
  const Case cases[] = {
      {0, {}, map, map},
      {1, {-30, 2}, exponential(-30, 2), exponential(-30, 2)},
      {2, {-10, 1}, linear(-10, 1), linear(-10, 1)},
      {3, {3}, map, map},
      {4, {-30, 2, -5, 0.5}, exponential(-30, 2), exponential(-5, 0.5)},
      {5, {-10, 1, -2, 0.7}, linear(-10, 1), linear(-2, 0.7)},
      {6, {0.3, 0.8}, constant(0.3), constant(0.8)},
      {6, {0, 0}, constant(0), constant(0)},
      {7, {1, 1, 1, 1}, map, map},
      {-1, {1, 1, 1, 1}, map, map},
  };
  CDataPoints ds;
  ds.dim = 6;
  ds.markerIntervalDist = {0.01, 0.02, 0.03, 0.04, 0.09};
  for (const Case& c : cases) {
    ds.weightFuntionClass = c.scheme;
    std::copy(c.p, c.p + 4, ds.weightFuntionParm);
    for (int a = 0; a < ds.dim; a++) {
      EXPECT_EQ(ds.WeightFunction1(a, a), 1.0);
      EXPECT_EQ(ds.WeightFunction2(a, a), 1.0);
      for (int b = a + 1; b < ds.dim; b++) {
        const double d = MapDistance(ds, a, b);
        EXPECT_EQ(ds.WeightFunction1(a, b), c.w1(d)) << c.scheme << " " << a << " " << b;
        EXPECT_EQ(ds.WeightFunction2(a, b), c.w2(d)) << c.scheme << " " << a << " " << b;
        EXPECT_EQ(ds.WeightFunction1(b, a), ds.WeightFunction1(a, b));
        EXPECT_EQ(ds.WeightFunction2(b, a), ds.WeightFunction2(a, b));
      }
    }
  }
  ds.weightFuntionClass = 2;  // beyond 0.1 from the centre the linear weight is cut at 0
  ds.weightFuntionParm[0] = -10;
  ds.weightFuntionParm[1] = 1;
  EXPECT_EQ(ds.WeightFunction1(5, 2), 0.0);
}

TEST(WeightFunctions, LinkageDisequilibriumWeightsReadTheUpperTriangle) {
  CDataPoints ds;
  ds.dim = 3;
  ds.LDMatrix = {-1, 0.25, 0.5, -1, -1, 0.75};  // entries (0,1), (0,2) and (1,2)
  const double expected[3][3] = {{1, 0.25, 0.5}, {0.25, 1, 0.75}, {0.5, 0.75, 1}};
  for (int a = 0; a < 3; a++)
    for (int b = 0; b < 3; b++) {
      EXPECT_EQ(ds.WeightFunction1LD(a, b), expected[a][b]);
      EXPECT_EQ(ds.WeightFunction2LD(a, b), expected[a][b]);
    }
}

TEST(Window, PlacementAtTheEndsOfTheRow) {
  CDataPoints ds;
  ds.dim = 50;
  const std::tuple<int, int, int> cases[] = {{21, 0, 0},   {21, 10, 0},  {21, 11, 1},
                                             {21, 38, 28}, {21, 39, 29}, {21, 49, 29},
                                             {20, 25, 15}, {50, 49, 0},  {1, 49, 49}};
  for (auto [width, pos, start] : cases) {
    ds.curdim = width;
    ds.SetWindow(pos);
    EXPECT_EQ(ds.curpos, start) << width << " " << pos;
  }
}

TEST(WindowDistance, OneThirdExample) {
  CDataPoints ds;
  ReadText(ds, "h\n1 a 1 1 1 1 1\n2 a 1 1 1 2 1\n");
  ds.weightFuntionClass = 6;
  ds.weightFuntionParm[0] = ds.weightFuntionParm[1] = 1;
  ds.curpos = 0;
  ds.curdim = 5;
  EXPECT_EQ(ds.distance_Ham_MIL_Weighted(&ds.data[0], &ds.data[1], 2), 3.0 / 9.0);
  ds.CalculateDist(2);
  EXPECT_EQ(ds.Distance(0, 1), 3.0 / 9.0);
  EXPECT_EQ(ds.Distance(1, 0), 3.0 / 9.0);
  EXPECT_EQ(ds.Distance(1, 1), 0.0);
}

// The window distance summed in its defined order: the centre, the right side
// outwards adding W1 then W2 to the total, then the left side outwards.
double ReferenceDistance(const CDataPoints& ds, const CMyPoint& x, const CMyPoint& y, int pos) {
  const bool ld = ds.weightFuntionClass == 3;
  auto w1 = [&](int k) { return ld ? ds.WeightFunction1LD(pos, k) : ds.WeightFunction1(pos, k); };
  auto w2 = [&](int k) { return ld ? ds.WeightFunction2LD(pos, k) : ds.WeightFunction2(pos, k); };
  const CIntArray &a = x.value, &b = y.value;
  double total = 0, shared = 0, sum1 = 0, identity = 0, sum2 = 0, run = 0;
  bool inRun = a[pos] == b[pos];
  if (inRun) {
    shared += w1(pos);
    identity += w1(pos);
  }
  total += w1(pos);
  sum1 += w1(pos);
  auto visit = [&](int k) {
    if (a[k] == b[k]) {
      shared += w1(k);
      identity += w1(k);
      if (inRun) {
        shared += w2(k);
        run += w2(k);
      }
    } else {
      inRun = false;
    }
    total += w1(k);
    total += w2(k);
    sum1 += w1(k);
    sum2 += w2(k);
  };
  for (int k = pos + 1; k < ds.curpos + ds.curdim; k++) visit(k);
  inRun = a[pos] == b[pos];
  for (int k = pos - 1; k >= ds.curpos; k--) visit(k);
  if (!ld) return (total - shared) / total;
  const double p0 = ds.weightFuntionParm[0];
  if (p0 == 1.0) return (sum1 - identity) / sum1;
  if (p0 == 2.0) return (sum2 - run) / sum2;
  return (sum1 + sum2 - identity - run) / (sum1 + sum2);
}

TEST(WindowDistance, MatrixEqualsThePairwiseDistanceOnRandomData) {
  for (unsigned seed = 1; seed <= 8; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    CDataPoints ds;
    const int dim = 2 + rng() % 9;
    ReadText(ds, RandomDataText(rng, 2 + rng() % 30, dim, 2 + rng() % 2));  // few markers: repeated windows
    for (double& interval : ds.markerIntervalDist) interval = 0.05 * uniform(rng);
    ds.CalculateFreq();
    ds.LDdelta();
    for (int pos = 0; pos < dim; pos++) {
      ds.weightFuntionClass = rng() % 7;
      for (double& p : ds.weightFuntionParm) p = uniform(rng) * 3 - 1;
      ds.weightFuntionParm[0] = ds.weightFuntionClass == 3 ? 1 + rng() % 3 : -40 * uniform(rng);
      ds.curdim = 1 + rng() % dim;
      const int lowest = std::max(0, pos - ds.curdim + 1), highest = std::min(pos, dim - ds.curdim);
      ds.curpos = lowest + rng() % (highest - lowest + 1);  // any window holding the centre
      const bool ld = ds.weightFuntionClass == 3;
      if (ld)
        ds.CalculateDistUsingLD(pos);
      else
        ds.CalculateDist(pos);
      for (int i = 0; i < ds.num; i++) {
        EXPECT_EQ(ds.Distance(i, i), 0.0);
        for (int j = 0; j < ds.num; j++) {
          if (i == j) continue;
          const CMyPoint *x = &ds.data[i], *y = &ds.data[j];
          const double pairwise =
              ld ? ds.distance_Ham_MIL_WeightedLD(x, y, pos) : ds.distance_Ham_MIL_Weighted(x, y, pos);
          SCOPED_TRACE(testing::Message() << "seed " << seed << " pos " << pos << " scheme "
                                          << ds.weightFuntionClass << " pair " << i << "," << j);
          EXPECT_PRED2(SameBits, ds.Distance(i, j), pairwise);
          EXPECT_PRED2(SameBits, ds.Distance(i, j), ds.Distance(j, i));
          EXPECT_PRED2(SameBits, pairwise, ReferenceDistance(ds, *x, *y, pos));
        }
      }
    }
  }
}

TEST(WindowDistance, LinkageWeightsOfOneEqualConstantWeightsOfOne) {
  std::mt19937 rng(7);
  CDataPoints ds;
  ReadText(ds, RandomDataText(rng, 25, 9, 3));
  ds.LDMatrix.assign((ds.dim - 1) * ds.dim, 1.0);
  ds.curdim = 5;
  for (int pos = 0; pos < ds.dim; pos++) {
    ds.SetWindow(pos);
    ds.weightFuntionClass = 3;
    ds.weightFuntionParm[0] = 3;
    ds.CalculateDistUsingLD(pos);
    std::vector<double> withLD;
    for (int i = 0; i < ds.num; i++)
      for (int j = 0; j < ds.num; j++) withLD.push_back(ds.Distance(i, j));
    ds.weightFuntionClass = 6;
    ds.weightFuntionParm[0] = ds.weightFuntionParm[1] = 1;
    ds.CalculateDist(pos);
    for (int i = 0; i < ds.num; i++)
      for (int j = 0; j < ds.num; j++) EXPECT_EQ(ds.Distance(i, j), withLD[i * ds.num + j]);
  }
}

}  // namespace
