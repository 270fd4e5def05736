// Locus weights, the window distance between two haplotypes, and the
// neighbourhood radius and density threshold of a position.
//
// Speed without changing a bit: the weights of a window depend only on the
// centre, so they are computed once per position, and the total weight S does
// not depend on the alleles at all. The sums are still formed in the order of
// the pairwise definition (centre, right side outwards adding W1 then W2, left
// side outwards), because a distance that differs in its last bit can cross the
// radius. Haplotypes with the same alleles over the window have the same
// distance to everyone, so distances are computed per pair of such window
// classes, and only for the pairs a position needs.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dbscan.h"

namespace {

constexpr int kBins = 11;

// Histogram bin of a distance: trunc(10 d) formed in extended precision, so
// that the double nearest 0.3 lands in bin 2. Values outside [0, 1] go to the
// end bins.
int DistanceBin(double d) {
  if (!(d <= 1.0)) return kBins - 1;  // above 1, or not a number
  if (d < 0.0) return 0;
  return static_cast<int>(static_cast<long double>(d) * 10.0L);
}

}  // namespace

// The map distance is the direct sum of the intervals from the smaller index
// up; differences of running totals would change its last bits.
double CDataPoints::MapDistance(int a, int c) const {
  double d = 0.0;
  for (int k = std::min(a, c); k < std::max(a, c); k++) d += markerIntervalDist[k];
  return d;
}

double CDataPoints::WeightFunction1(int anothermarker, int currentmarker) const {
  if (anothermarker == currentmarker) return 1.0;
  const double* p = weightFuntionParm;
  if (weightFuntionClass == 6) return p[0];
  const double d = MapDistance(anothermarker, currentmarker);
  switch (weightFuntionClass) {
    case 1: case 4: return std::exp(p[0] * d) * p[1];
    case 2: case 5: {
      const double v = p[0] * d + p[1];
      return v < 0 ? 0.0 : v;
    }
    default: return d;
  }
}

double CDataPoints::WeightFunction2(int anothermarker, int currentmarker) const {
  if (anothermarker == currentmarker) return 1.0;
  const double* p = weightFuntionParm;
  if (weightFuntionClass == 6) return p[1];
  const double d = MapDistance(anothermarker, currentmarker);
  double v;
  switch (weightFuntionClass) {
    case 1: return std::exp(p[0] * d) * p[1];
    case 4: return std::exp(p[2] * d) * p[3];
    case 2: v = p[0] * d + p[1]; break;
    case 5: v = p[2] * d + p[3]; break;
    default: return d;
  }
  return v < 0 ? 0.0 : v;
}

double CDataPoints::WeightFunction1LD(int anothermarker, int currentmarker) const {
  if (anothermarker == currentmarker) return 1.0;
  const int a = std::min(anothermarker, currentmarker), c = std::max(anothermarker, currentmarker);
  return LDMatrix[static_cast<std::size_t>(a) * curdim + (c - a)];
}

double CDataPoints::WeightFunction2LD(int anothermarker, int currentmarker) const {
  return WeightFunction1LD(anothermarker, currentmarker);
}

void CDataPoints::SetWindow(PositionState& s, int pos) const {
  s.pos = pos;
  s.curpos = pos - curdim / 2;
  if (s.curpos < 0)
    s.curpos = 0;
  else if (s.curpos + curdim >= dim)
    s.curpos = dim - curdim;
}

template <class W1, class W2>
WindowWeights CDataPoints::WindowWeightsOf(int pos, int curpos, W1 weight1, W2 weight2) const {
  WindowWeights w;
  w.pos = pos;
  w.first = curpos;
  w.last = curpos + curdim - 1;
  w.lo = std::min(w.first, pos);
  const int hi = std::max(w.last, pos);
  for (int k = w.lo; k <= hi; k++) {
    w.w1.push_back(weight1(pos, k));
    w.w2.push_back(weight2(pos, k));
  }
  // Totals in the order in which the pairwise sums visit the markers.
  w.total = 0.0;
  w.total += w.W1(pos);
  w.sum1 = 0.0;
  w.sum1 += w.W1(pos);
  w.sum2 = 0.0;
  auto addMarker = [&w](int k) {
    w.total += w.W1(k);
    w.total += w.W2(k);
    w.sum1 += w.W1(k);
    w.sum2 += w.W2(k);
  };
  for (int k = pos + 1; k <= w.last; k++) addMarker(k);
  for (int k = pos - 1; k >= w.first; k--) addMarker(k);
  return w;
}

WindowWeights CDataPoints::MapWeights(int pos, int curpos) const {
  return WindowWeightsOf(
      pos, curpos, [this](int a, int c) { return WeightFunction1(a, c); },
      [this](int a, int c) { return WeightFunction2(a, c); });
}

WindowWeights CDataPoints::LDWeights(int pos, int curpos) const {
  return WindowWeightsOf(
      pos, curpos, [this](int a, int c) { return WeightFunction1LD(a, c); },
      [this](int a, int c) { return WeightFunction2LD(a, c); });
}

// The identity score and the run score of two haplotypes over the window: the
// weights of matching markers, and those of the unbroken match from the centre.
CDataPoints::Shared CDataPoints::SharedWeight(const int* a, const int* b, const WindowWeights& w) {
  Shared s;
  const int pos = w.pos;
  const bool centreMatch = a[pos - w.lo] == b[pos - w.lo];
  if (centreMatch) {
    s.both += w.W1(pos);
    s.identity += w.W1(pos);
  }
  auto side = [&](int k, bool& run) {
    if (a[k - w.lo] == b[k - w.lo]) {
      s.both += w.W1(k);
      s.identity += w.W1(k);
      if (run) {
        s.both += w.W2(k);
        s.run += w.W2(k);
      }
    } else {
      run = false;
    }
  };
  bool run = centreMatch;
  for (int k = pos + 1; k <= w.last; k++) side(k, run);
  run = centreMatch;
  for (int k = pos - 1; k >= w.first; k--) side(k, run);
  return s;
}

double CDataPoints::RunDistance(const int* a, const int* b, const WindowWeights& w) {
  const double R = SharedWeight(a, b, w).both;
  return (w.total - R) / w.total;
}

double CDataPoints::RunDistanceLD(const int* a, const int* b, const WindowWeights& w) const {
  const Shared s = SharedWeight(a, b, w);
  const double p0 = weightFuntionParm[0];
  if (p0 == 1.0) return (w.sum1 - s.identity) / w.sum1;
  if (p0 == 2.0) return (w.sum2 - s.run) / w.sum2;
  if (p0 == 3.0) return (w.sum1 + w.sum2 - s.identity - s.run) / (w.sum1 + w.sum2);
  return std::nan("");
}

std::vector<int> CDataPoints::WindowCodes(int h, const WindowWeights& w) const {
  std::vector<int> codes(w.w1.size());
  for (std::size_t k = 0; k < codes.size(); k++) codes[k] = static_cast<int>(AlleleCode(h, w.lo + static_cast<int>(k)));
  return codes;
}

double CDataPoints::distance_Ham_MIL_Weighted(int h1, int h2, int pos, int curpos) const {
  const WindowWeights w = MapWeights(pos, curpos);
  return RunDistance(WindowCodes(h1, w).data(), WindowCodes(h2, w).data(), w);
}

double CDataPoints::distance_Ham_MIL_WeightedLD(int h1, int h2, int pos, int curpos) const {
  if (weightFuntionClass != 3) {
    std::fputs("error in distance_Ham_MIL_WeightedLD", stdout);
    return 0.0;
  }
  const WindowWeights w = LDWeights(pos, curpos);
  return RunDistanceLD(WindowCodes(h1, w).data(), WindowCodes(h2, w).data(), w);
}

void CDataPoints::WindowKey(int h, int first, int count, std::uint64_t* words) const {
  long long bit = static_cast<long long>(first) * codeBits;
  long long left = static_cast<long long>(count) * codeBits;
  for (; left > 0; left -= 64, bit += 64, words++) {
    const int shift = static_cast<int>(bit % 64);
    const std::uint64_t* at = &packedAlleles[PackedIndex(h, bit / 64, packedWords)];
    std::uint64_t word = at[0] >> shift;
    if (shift) word |= at[64] << (64 - shift);  // the next word of the row, in the tile's next column
    if (left < 64) word &= (std::uint64_t{1} << left) - 1;
    *words = word;
  }
}

// Classes are formed over every marker the distance reads: the window, and the
// centre should a caller place it outside the window. Windows compare as
// packed keys in an open-addressing table that holds one key per class, side
// by side, so a probe reads the few classes instead of the haplotypes; classes
// are numbered in order of their first member.
void CDataPoints::GroupWindowClasses(PositionState& s, const WindowWeights& w) const {
  const int n = static_cast<int>(data.size());
  const int span = static_cast<int>(w.w1.size());
  const std::size_t K = (static_cast<std::size_t>(span) * codeBits + 63) / 64;
  std::size_t slots = 16;
  while (slots < 2 * static_cast<std::size_t>(n)) slots *= 2;
  s.classSlots.assign(slots, -1);
  s.windowClass.assign(n, 0);
  s.classSize.clear();
  s.classMember.clear();
  s.classKeys.clear();
  std::vector<std::uint64_t> key(K);
  auto sameKey = [&key, &s, K](int c) {
    const std::uint64_t* other = &s.classKeys[static_cast<std::size_t>(c) * K];
    for (std::size_t k = 0; k < K; k++)
      if (key[k] != other[k]) return false;
    return true;
  };
  for (int h = 0; h < n; h++) {
    WindowKey(h, w.lo, span, key.data());
    std::uint64_t hash = 0x9e3779b97f4a7c15ull;
    for (std::size_t k = 0; k < K; k++) hash = (hash ^ key[k]) * 0xff51afd7ed558ccdull;
    std::size_t slot = (hash ^ (hash >> 29)) & (slots - 1);
    int c;
    while ((c = s.classSlots[slot]) >= 0 && !sameKey(c)) slot = (slot + 1) & (slots - 1);
    if (c < 0) {
      c = s.classSlots[slot] = static_cast<int>(s.classSize.size());
      s.classSize.push_back(0);
      s.classMember.push_back(h);
      s.classKeys.insert(s.classKeys.end(), key.begin(), key.end());
    }
    s.windowClass[h] = c;
    s.classSize[c]++;
  }
  const int C = s.numWindowClasses = static_cast<int>(s.classSize.size());
  // Members of each class in ascending order, one block per class.
  s.classStart.assign(C + 1, 0);
  for (int c = 0; c < C; c++) s.classStart[c + 1] = s.classStart[c] + s.classSize[c];
  s.classMembers.resize(n);
  std::vector<int> next(s.classStart.begin(), s.classStart.end() - 1);
  for (int h = 0; h < n; h++) s.classMembers[next[s.windowClass[h]]++] = h;
  // Member-line texts of the previous position's classes are of another window.
  s.memberText.clear();
  s.memberTextSpan.assign(C, {0, 0});
}

// The allele codes of each class over the window, from its first member.
void CDataPoints::PrepareClasses(PositionState& s, WindowWeights&& w) const {
  GroupWindowClasses(s, w);
  const std::size_t span = w.w1.size();
  s.classCodes.resize(s.numWindowClasses * span);
  for (int c = 0; c < s.numWindowClasses; c++) {
    const std::vector<int> codes = WindowCodes(s.classMember[c], w);
    std::copy(codes.begin(), codes.end(), s.classCodes.begin() + c * span);
  }
  s.weights = std::move(w);
}

void CDataPoints::CalculateDist(PositionState& s) const { PrepareClasses(s, MapWeights(s.pos, s.curpos)); }

void CDataPoints::CalculateDistUsingLD(PositionState& s) const { PrepareClasses(s, LDWeights(s.pos, s.curpos)); }

double CDataPoints::ClassDistance(const PositionState& s, int c1, int c2) const {
  const std::size_t span = s.weights.w1.size();
  const int* a = &s.classCodes[c1 * span];
  const int* b = &s.classCodes[c2 * span];
  return weightFuntionClass == 3 ? RunDistanceLD(a, b, s.weights) : RunDistance(a, b, s.weights);
}

double CDataPoints::Distance(const PositionState& s, int i, int j) const {
  if (i == j) return 0.0;
  return ClassDistance(s, s.windowClass[i], s.windowClass[j]);
}

// Number of haplotype pairs whose class pair is (c1, c2).
long long CDataPoints::PairsBetween(const PositionState& s, int c1, int c2) {
  const long long s1 = s.classSize[c1], s2 = s.classSize[c2];
  return c1 == c2 ? s1 * (s1 - 1) / 2 : s1 * s2;
}

void CDataPoints::DeterminEpslion(PositionState& s) const {
  s.epslion = epslion;
  if (epslionpercentile == 0.0) return;
  long long dist[kBins] = {};
  const int C = s.numWindowClasses;
  for (int c1 = 0; c1 < C; c1++)
    for (int c2 = c1; c2 < C; c2++) dist[DistanceBin(ClassDistance(s, c1, c2))] += PairsBetween(s, c1, c2);
  const long long pairs = static_cast<long long>(num) * (num - 1) / 2;
  const long double target = static_cast<long double>(pairs) * static_cast<long double>(epslionpercentile);
  // Beyond the pair count no bin is reached, whatever the exact value, and
  // the radius stays as it was.
  long long t = target > pairs ? pairs + 1 : target < -1 ? -1 : static_cast<long long>(target);
  for (int b = 0; b < kBins; b++) {
    if (dist[b] < t) {
      t -= dist[b];
    } else {
      s.epslion = b / 10.0;
      return;
    }
  }
}

// The density threshold is 1 + the neighbour count at rank trunc(num x
// fraction) among the haplotypes. Every member of a class has the same
// count, so the rank is found among the classes sorted by count.
int CDataPoints::DensityOfNB(PositionState& s) const {
  FindNeighbourClasses(s);
  const int C = s.numWindowClasses;
  s.neighbourCount.assign(C, 0);
  std::vector<std::pair<int, int>> countAndSize(C);
  for (int c = 0; c < C; c++) {
    for (int k = s.neighbourStart[c]; k < s.neighbourStart[c + 1]; k++) {
      const int other = s.neighbourClasses[k];
      s.neighbourCount[c] += other == c ? s.classSize[other] - 1 : s.classSize[other];
    }
    countAndSize[c] = {s.neighbourCount[c], s.classSize[c]};
  }
  std::sort(countAndSize.begin(), countAndSize.end());
  const long double product = static_cast<long double>(num) * static_cast<long double>(minNumPtspercentile);
  auto quartail = static_cast<long long>(product);
  int quantile = countAndSize.back().first;
  for (const auto& [count, size] : countAndSize) {
    if (quartail < size) {
      quantile = count;
      break;
    }
    quartail -= size;
  }
  s.minNumPts = quantile + 1;
  const double upper = num * 0.5 * alleleFre[s.pos];
  if (s.minNumPts > upper) s.minNumPts = upper;
  if (num * 0.01 > s.minNumPts) s.minNumPts = num * 0.01;
  return 0;
}
