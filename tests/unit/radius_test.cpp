// Neighbourhood radius from the distance histogram, and the density threshold.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_util.h"

namespace {

// Histogram bin of a distance: trunc(10 d) in extended precision; not a
// number and values above 1 in the last bin, values below 0 in the first.
int Bin(double d) {
  if (!(d <= 1.0)) return 10;
  return d < 0 ? 0 : static_cast<int>(static_cast<long double>(d) * 10.0L);
}

// The radius chosen for two haplotypes when the target is their only pair:
// the lower edge of the pair's bin.
double RadiusOfOnePair(const std::string& a, const std::string& b, double w1 = 1.0, double w2 = 0.0) {
  CDataPoints ds;
  ReadBitHaplotypes(ds, {a, b}, w1, w2);
  ds.epslionpercentile = 1.0;
  ds.epslion = 0.77;
  ds.DeterminEpslion();
  return ds.epslion;
}

TEST(Radius, BinEdges) {
  const int bins[] = {0, 1, 2, 2, 4, 5, 5, 6, 8, 9, 10};  // 0.3, 0.6 and 0.7 times 10 lie just below 3, 6, 7
  for (int k = 0; k <= 10; k++) {
    const std::string b = std::string(k, '1') + std::string(10 - k, '0');
    CDataPoints ds;
    ReadBitHaplotypes(ds, {"0000000000", b});
    ASSERT_EQ(ds.Distance(0, 1), k / 10.0);
    EXPECT_EQ(RadiusOfOnePair("0000000000", b), bins[k] / 10.0) << k;
  }
  EXPECT_EQ(RadiusOfOnePair(std::string(20, '0'), std::string(7, '1') + std::string(13, '0')), 0.3);  // 0.35
  // Weights that give not a number, a distance above 1 and one below 0.
  EXPECT_EQ(RadiusOfOnePair("00", "00", -0.5, -0.5), 1.0);
  EXPECT_EQ(RadiusOfOnePair("00", "10", -0.25, 0.0), 1.0);
  EXPECT_EQ(RadiusOfOnePair("00", "10", -2.0, 0.0), 0.0);
}

TEST(Radius, FixedOrZeroTarget) {
  CDataPoints ds;
  ReadBitHaplotypes(ds, {"0000000000", "1111111110"});
  ds.epslion = 0.77;
  ds.DeterminEpslion();
  EXPECT_EQ(ds.epslion, 0.77);  // no percentile: the radius stays as read
  ds.epslionpercentile = 0.5;   // trunc(1 x 0.5) = 0 pairs
  ds.DeterminEpslion();
  EXPECT_EQ(ds.epslion, 0.0);
}

// Copies of 10-marker haplotypes: class c is the binary code of c + 1, so
// distinct classes lie at least 0.1 apart.
std::vector<std::string> Classes(const std::vector<int>& sizes) {
  std::vector<std::string> haplotypes;
  for (std::size_t c = 0; c < sizes.size(); c++) {
    std::string code(10, '0');
    for (int bit = 0; bit < 10; bit++)
      if ((c + 1) >> bit & 1) code[bit] = '1';
    haplotypes.insert(haplotypes.end(), sizes[c], code);
  }
  return haplotypes;
}

// 4950 pairs x 0.3 is just below 1485 in extended precision, so the target is
// 1484 pairs: exactly the pairs at distance 0.
TEST(Radius, TargetIsTruncatedInExtendedPrecision) {
  std::vector<int> sizes = {54, 10, 4, 2, 2};  // 1431 + 45 + 6 + 1 + 1 pairs within classes
  sizes.resize(sizes.size() + 28, 1);
  CDataPoints ds;
  ReadBitHaplotypes(ds, Classes(sizes));
  ASSERT_EQ(ds.num, 100);
  ds.epslionpercentile = 0.3;
  ds.DeterminEpslion();
  EXPECT_EQ(ds.epslion, 0.0);
}

// Classes far apart (at least half the markers differ), so that with a radius
// of 0.5 the neighbours of a haplotype are the rest of its class.
void ReadFarClasses(CDataPoints& ds, const std::vector<int>& sizes, double alleleFre) {
  const std::string codes[] = {"0000000000", "1111111111", "1111100000", "0000011111"};
  std::vector<std::string> haplotypes;
  for (std::size_t c = 0; c < sizes.size(); c++) haplotypes.insert(haplotypes.end(), sizes[c], codes[c]);
  ReadBitHaplotypes(ds, haplotypes);
  ds.epslion = 0.5;
  ds.alleleFre.assign(ds.dim, alleleFre);
}

TEST(DensityThreshold, IndexOfTheSortedCountsIsTruncatedInExtendedPrecision) {
  CDataPoints ds;
  ReadFarClasses(ds, {30, 70}, 1.0);  // sorted counts: 29 at indices 0 to 29, 69 from 30 on
  ds.minNumPtspercentile = 0.3;
  EXPECT_EQ(ds.DensityOfNB(0), 0);
  EXPECT_EQ(ds.minNumPts, 30.0);
}

TEST(DensityThreshold, BoundedByAlleleFrequencyThenBySampleSize) {
  CDataPoints ds;
  ReadFarClasses(ds, {31, 31, 31, 7}, 0.1);  // sorted counts: 6 at indices 0 to 6, 30 from 7 on
  ds.minNumPtspercentile = 0.1;
  ds.DensityOfNB(0);
  EXPECT_EQ(ds.minNumPts, 100 * 0.5 * 0.1);  // min(31, 5.0)
  ds.alleleFre.assign(ds.dim, 0.0);
  ds.DensityOfNB(0);
  EXPECT_EQ(ds.minNumPts, 1.0);
  CDataPoints same;
  ReadFarClasses(same, {300}, 1.0);
  same.epslion = 0.0;  // nobody is a neighbour: 0 + 1, lifted to 300 x 0.01
  same.DensityOfNB(0);
  EXPECT_EQ(same.minNumPts, 3.0);
}

TEST(RadiusAndDensity, AgreeWithADirectCountOverAllPairs) {
  for (unsigned seed = 1; seed <= 10; seed++) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    CDataPoints ds;
    ReadText(ds, RandomDataText(rng, 2 + rng() % 60, 2 + rng() % 10, 3));
    ds.CalculateFreq();
    ds.weightFuntionClass = 1;
    ds.weightFuntionParm[0] = -30 * uniform(rng);
    ds.weightFuntionParm[1] = 1;
    ds.curdim = 1 + rng() % ds.dim;
    const int n = ds.num;
    for (int pos = 0; pos < ds.dim; pos++) {
      ds.SetWindow(pos);
      ds.CalculateDist(pos);
      ds.epslionpercentile = uniform(rng);
      ds.minNumPtspercentile = uniform(rng);
      long long bins[11] = {};
      for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) bins[Bin(ds.Distance(i, j))]++;
      const long long pairs = static_cast<long long>(n) * (n - 1) / 2;
      long long t = static_cast<long long>(static_cast<long double>(pairs) * ds.epslionpercentile);
      double radius = ds.epslion;
      for (int b = 0; b < 11; b++) {
        if (bins[b] >= t) {
          radius = b / 10.0;
          break;
        }
        t -= bins[b];
      }
      std::vector<int> counts(n, 0);
      for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) counts[i] += i != j && ds.Distance(i, j) < radius;
      std::sort(counts.begin(), counts.end());
      double threshold = counts[static_cast<int>(static_cast<long double>(n) * ds.minNumPtspercentile)] + 1;
      threshold = std::min(threshold, n * 0.5 * ds.alleleFre[pos]);
      threshold = std::max(threshold, n * 0.01);

      ds.DeterminEpslion();
      ds.DensityOfNB(pos);
      EXPECT_EQ(ds.epslion, radius) << "seed " << seed << " pos " << pos;
      EXPECT_EQ(ds.minNumPts, threshold) << "seed " << seed << " pos " << pos;
    }
  }
}

}  // namespace
