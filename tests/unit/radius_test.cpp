// Neighbourhood radius from the distance histogram, and the density threshold.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_util.h"

namespace {

// Haplotypes written as strings of '0' and '1' (alleles 1 and 2), with the
// distances of position 0 over all markers under constant weights w1 and w2.
// With the defaults, k differences out of 10 markers give the distance k / 10.0.
void ReadBitHaplotypes(CDataPoints& ds, PositionState& s, const std::vector<std::string>& haplotypes,
                       double w1 = 1.0, double w2 = 0.0) {
  std::string text = "header\n";
  for (std::size_t h = 0; h < haplotypes.size(); h++) {
    text += std::to_string(h) + " c";
    for (char bit : haplotypes[h]) text += bit == '1' ? " 2" : " 1";
    text += '\n';
  }
  ReadText(ds, text);
  ds.weightFuntionClass = 6;
  ds.weightFuntionParm[0] = w1;
  ds.weightFuntionParm[1] = w2;
  ds.curdim = ds.dim;
  ds.CalculateFreq();
  ds.SetWindow(s, 0);
  ds.CalculateDist(s);
}

// Histogram bin of a distance: trunc(10 d) in extended precision; not a
// number and values above 1 in the last bin, values below 0 in the first.
int Bin(double d) {
  return !(d <= 1.0) ? 10 : d < 0 ? 0 : static_cast<int>(static_cast<long double>(d) * 10.0L);
}

// The radius chosen when the target is the only pair: the lower edge of its bin.
double RadiusOfOnePair(const std::string& a, const std::string& b, double w1 = 1.0, double w2 = 0.0) {
  CDataPoints ds;
  PositionState s;
  ReadBitHaplotypes(ds, s, {a, b}, w1, w2);
  ds.epslionpercentile = 1.0;
  ds.DeterminEpslion(s);
  return s.epslion;
}

TEST(Radius, BinEdges) {
  const int bins[] = {0, 1, 2, 2, 4, 5, 5, 6, 8, 9, 10};  // 0.3, 0.6 and 0.7 times 10 lie just below 3, 6, 7
  for (int k = 0; k <= 10; k++) {
    const std::string b = std::string(k, '1') + std::string(10 - k, '0');
    EXPECT_EQ(RadiusOfOnePair("0000000000", b), bins[k] / 10.0) << k;
  }
  EXPECT_EQ(RadiusOfOnePair(std::string(20, '0'), std::string(7, '1') + std::string(13, '0')), 0.3);  // 0.35
  // Weights that give not a number, a distance above 1 and one below 0.
  EXPECT_EQ(RadiusOfOnePair("00", "00", -0.5, -0.5), 1.0);
  EXPECT_EQ(RadiusOfOnePair("00", "10", -0.25, 0.0), 1.0);
  EXPECT_EQ(RadiusOfOnePair("00", "10", -2.0, 0.0), 0.0);
}

TEST(RadiusAndDensity, ExtendedPrecisionTruncationAndBounds) {
  // Classes far apart (at least half the markers differ): with a radius of 0.5
  // the neighbours of a haplotype are the rest of its class.
  auto readClasses = [](CDataPoints& ds, PositionState& s, const std::vector<int>& sizes) {
    const std::string codes[] = {"0000000000", "1111111111", "1111100000"};
    std::vector<std::string> haplotypes;
    for (std::size_t c = 0; c < sizes.size(); c++) haplotypes.insert(haplotypes.end(), sizes[c], codes[c]);
    ReadBitHaplotypes(ds, s, haplotypes);
    ds.epslion = 0.5;
    ds.DeterminEpslion(s);
  };
  CDataPoints ds;
  PositionState s;
  ds.epslionpercentile = 0.3;
  readClasses(ds, s, {2, 2, 1});  // 10 pairs x 0.3 is just below 3: the 2 pairs at distance 0
  EXPECT_EQ(s.epslion, 0.0);
  CDataPoints counts;
  PositionState c;
  readClasses(counts, c, {30, 70});  // sorted counts: 29 at indices 0 to 29, 69 from 30 on
  counts.minNumPtspercentile = 0.3;
  for (auto [alleleFre, threshold] : {std::pair{1.0, 30.0}, {0.1, 5.0}, {0.0, 1.0}}) {
    counts.alleleFre.assign(counts.dim, alleleFre);  // bounded by 100 x 0.5 x alleleFre, then by 100 x 0.01
    counts.DensityOfNB(c);
    EXPECT_EQ(c.minNumPts, threshold) << alleleFre;
  }
}

TEST(RadiusAndDensity, AgreeWithADirectCountOverAllPairs) {
  ForEachRandomPosition(10, 60, 10, 1, [](CDataPoints& ds, PositionState& s, std::mt19937&, auto&, unsigned seed,
                                          int pos) {
    const int n = ds.num;
    long long bins[11] = {};
    for (int i = 0; i < n; i++)
      for (int j = i + 1; j < n; j++) bins[Bin(ds.Distance(s, i, j))]++;
    long long t = static_cast<long long>(static_cast<long double>(n * (n - 1) / 2) * ds.epslionpercentile);
    int b = 0;
    while (bins[b] < t) t -= bins[b++];  // t never exceeds the pair count
    const double radius = b / 10.0;
    std::vector<int> counts(n, 0);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) counts[i] += i != j && ds.Distance(s, i, j) < radius;
    std::sort(counts.begin(), counts.end());
    const auto index = static_cast<int>(static_cast<long double>(n) * ds.minNumPtspercentile);
    const double threshold = counts[index] + 1;

    ds.DeterminEpslion(s);
    ds.DensityOfNB(s);
    EXPECT_EQ(s.epslion, radius) << "seed " << seed << " pos " << pos;
    EXPECT_EQ(s.minNumPts, std::max(std::min(threshold, n * 0.5 * ds.alleleFre[pos]), n * 0.01))
        << "seed " << seed << " pos " << pos;
  });
}

}  // namespace
