// Locus weights, the window distance between two haplotypes, and the
// neighbourhood radius and density threshold of a position.
//
// Speed without changing a bit: the weights of a window depend only on the
// centre, so they are computed once per position, and the total weight S does
// not depend on the alleles at all. The sums are still formed in the order of
// the pairwise definition (centre, right side outwards adding W1 then W2, left
// side outwards), because a distance that differs in its last bit can cross the
// radius. Haplotypes with the same alleles over the window have the same
// distance to everyone, so distances are computed and stored once per pair of
// such window classes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <unordered_map>

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
  return LDMatrix[static_cast<std::size_t>(a) * dim + c];
}

double CDataPoints::WeightFunction2LD(int anothermarker, int currentmarker) const {
  return WeightFunction1LD(anothermarker, currentmarker);
}

void CDataPoints::SetWindow(int pos) {
  curpos = pos - curdim / 2;
  if (curpos < 0)
    curpos = 0;
  else if (curpos + curdim >= dim)
    curpos = dim - curdim;
}

template <class W1, class W2>
CDataPoints::WindowWeights CDataPoints::WindowWeightsOf(int pos, W1 weight1, W2 weight2) const {
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

CDataPoints::WindowWeights CDataPoints::MapWeights(int pos) const {
  return WindowWeightsOf(
      pos, [this](int a, int c) { return WeightFunction1(a, c); },
      [this](int a, int c) { return WeightFunction2(a, c); });
}

CDataPoints::WindowWeights CDataPoints::LDWeights(int pos) const {
  return WindowWeightsOf(
      pos, [this](int a, int c) { return WeightFunction1LD(a, c); },
      [this](int a, int c) { return WeightFunction2LD(a, c); });
}

// The identity score and the run score of two haplotypes over the window: the
// weights of matching markers, and those of the unbroken match from the centre.
CDataPoints::Shared CDataPoints::SharedWeight(const int* a, const int* b, const WindowWeights& w) {
  Shared s;
  const int pos = w.pos;
  const bool centreMatch = a[pos] == b[pos];
  if (centreMatch) {
    s.both += w.W1(pos);
    s.identity += w.W1(pos);
  }
  auto side = [&](int k, bool& run) {
    if (a[k] == b[k]) {
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

double CDataPoints::distance_Ham_MIL_Weighted(const CMyPoint* pt1, const CMyPoint* pt2, int pos) const {
  return RunDistance(pt1->value.data(), pt2->value.data(), MapWeights(pos));
}

double CDataPoints::distance_Ham_MIL_WeightedLD(const CMyPoint* pt1, const CMyPoint* pt2, int pos) const {
  if (weightFuntionClass != 3) {
    std::fputs("error in distance_Ham_MIL_WeightedLD", stdout);
    return 0.0;
  }
  return RunDistanceLD(pt1->value.data(), pt2->value.data(), LDWeights(pos));
}

// Classes are formed over every marker the distance reads: the window, and the
// centre should a caller place it outside the window.
void CDataPoints::GroupWindowClasses(const WindowWeights& w) {
  const int n = static_cast<int>(data.size());
  const int span = static_cast<int>(w.w1.size());
  windowClass.assign(n, 0);
  classSize.clear();
  classMember.clear();
  std::unordered_map<std::string_view, int> classOf;
  classOf.reserve(2 * n);
  for (int h = 0; h < n; h++) {
    const std::string_view window(reinterpret_cast<const char*>(data[h].value.data() + w.lo),
                                  sizeof(int) * span);
    auto [entry, added] = classOf.emplace(window, static_cast<int>(classSize.size()));
    if (added) {
      classSize.push_back(0);
      classMember.push_back(h);
    }
    windowClass[h] = entry->second;
    classSize[entry->second]++;
  }
  numWindowClasses = static_cast<int>(classSize.size());
  // Members of each class in ascending order, one block per class.
  classStart.assign(numWindowClasses + 1, 0);
  for (int c = 0; c < numWindowClasses; c++) classStart[c + 1] = classStart[c] + classSize[c];
  classMembers.resize(n);
  std::vector<int> next(classStart.begin(), classStart.end() - 1);
  for (int h = 0; h < n; h++) classMembers[next[windowClass[h]]++] = h;
}

template <class PairDistance>
void CDataPoints::FillClassDistances(const WindowWeights& w, PairDistance pairDistance) {
  GroupWindowClasses(w);
  const int C = numWindowClasses;
  distMatrix.assign(static_cast<std::size_t>(C) * C, 0.0);
  for (int c1 = 0; c1 < C; c1++)
    for (int c2 = c1; c2 < C; c2++) {
      const double d = pairDistance(data[classMember[c1]].value.data(), data[classMember[c2]].value.data());
      distMatrix[static_cast<std::size_t>(c1) * C + c2] = d;
      distMatrix[static_cast<std::size_t>(c2) * C + c1] = d;
    }
}

void CDataPoints::CalculateDist(int pos) {
  const WindowWeights w = MapWeights(pos);
  FillClassDistances(w, [&w](const int* a, const int* b) { return RunDistance(a, b, w); });
}

void CDataPoints::CalculateDistUsingLD(int pos) {
  const WindowWeights w = LDWeights(pos);
  FillClassDistances(w, [this, &w](const int* a, const int* b) { return RunDistanceLD(a, b, w); });
}

double CDataPoints::Distance(int i, int j) const {
  if (i == j) return 0.0;
  return distMatrix[static_cast<std::size_t>(windowClass[i]) * numWindowClasses + windowClass[j]];
}

// Number of haplotype pairs whose class pair is (c1, c2).
long long CDataPoints::PairsBetween(int c1, int c2) const {
  const long long s1 = classSize[c1], s2 = classSize[c2];
  return c1 == c2 ? s1 * (s1 - 1) / 2 : s1 * s2;
}

void CDataPoints::DeterminEpslion() {
  if (epslionpercentile == 0.0) return;
  long long dist[kBins] = {};
  const int C = numWindowClasses;
  for (int c1 = 0; c1 < C; c1++)
    for (int c2 = c1; c2 < C; c2++)
      dist[DistanceBin(distMatrix[static_cast<std::size_t>(c1) * C + c2])] += PairsBetween(c1, c2);
  const long long pairs = static_cast<long long>(num) * (num - 1) / 2;
  const long double target = static_cast<long double>(pairs) * static_cast<long double>(epslionpercentile);
  // Beyond the pair count no bin is reached, whatever the exact value.
  long long t = target > pairs ? pairs + 1 : target < -1 ? -1 : static_cast<long long>(target);
  for (int b = 0; b < kBins; b++) {
    if (dist[b] < t) {
      t -= dist[b];
    } else {
      epslion = b / 10.0;
      return;
    }
  }
}

std::vector<int> CDataPoints::NeighbourCounts() const {
  const int C = numWindowClasses;
  std::vector<int> ofClass(C, 0);
  for (int c1 = 0; c1 < C; c1++) {
    const double* row = &distMatrix[static_cast<std::size_t>(c1) * C];
    for (int c2 = 0; c2 < C; c2++)
      if (row[c2] < epslion) ofClass[c1] += c1 == c2 ? classSize[c2] - 1 : classSize[c2];
  }
  std::vector<int> numbers(data.size());
  for (std::size_t h = 0; h < data.size(); h++) numbers[h] = ofClass[windowClass[h]];
  return numbers;
}

int CDataPoints::DensityOfNB(int pos) {
  std::vector<int> numbers = NeighbourCounts();
  const long double product = static_cast<long double>(num) * static_cast<long double>(minNumPtspercentile);
  const auto quartail = static_cast<std::size_t>(product);
  std::nth_element(numbers.begin(), numbers.begin() + quartail, numbers.end());
  minNumPts = numbers[quartail] + 1;
  const double upper = num * 0.5 * alleleFre[pos];
  if (minNumPts > upper) minNumPts = upper;
  if (num * 0.01 > minNumPts) minNumPts = num * 0.01;
  return 0;
}
