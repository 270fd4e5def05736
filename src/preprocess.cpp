// Missing-allele imputation, allele and two-marker haplotype frequencies, and
// the linkage-disequilibrium matrix: computed once per run, before the scan.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

#include "dbscan.h"

namespace {

// Turns allele counts into frequencies over the group's observed alleles; a
// leading code-0 entry keeps the count of missing alleles.
void CountsToFrequencies(INT2double& table, int groupTotal) {
  if (table.empty()) return;
  auto entry = table.begin();
  int missing = 0;
  if (entry->first == 0) {
    missing = static_cast<int>(entry->second);
    ++entry;
  }
  const double observed = groupTotal - missing;
  for (; entry != table.end(); ++entry) entry->second /= observed;
}

// Walks the table in ascending code order and returns the first code whose
// cumulative frequency exceeds the draw, or 0 when none does.
int DrawAllele(const INT2double& table, double myrand) {
  auto entry = table.begin();
  if (entry != table.end() && entry->first == 0) ++entry;
  double sum = 0.0;
  for (; entry != table.end(); ++entry) {
    sum += entry->second;
    if (sum > myrand) return entry->first;
  }
  return 0;
}

}  // namespace

void CDataPoints::AlleleFreq(int pos, INT2double* alleleFreCase, INT2double* alleleFreCont) {
  for (const CMyPoint& point : data) {
    INT2double& table = point.affected == 1 ? *alleleFreCase : *alleleFreCont;
    table[point.value[pos]] += 1.0;
  }
  CountsToFrequencies(*alleleFreCase, nCase);
  // In the trait mode every haplotype is in the control group, whose total is
  // then the number of haplotypes.
  CountsToFrequencies(*alleleFreCont, q ? static_cast<int>(data.size()) : nCont);
}

void CDataPoints::ImputeMissing() {
  INT2double alleleFreCase, alleleFreCont;
  // Markers with a missing allele, found haplotype by haplotype (the order
  // the alleles lie in memory).
  std::vector<char> anyMissing(dim, 0);
  for (const CMyPoint& point : data)
    for (int i = 0; i < dim; i++) anyMissing[i] |= point.value[i] == 0;
  for (int i = 0; i < dim; i++) {
    if (!anyMissing[i]) continue;  // no draw, nothing to fill
    alleleFreCase.clear();
    alleleFreCont.clear();
    AlleleFreq(i, &alleleFreCase, &alleleFreCont);
    for (CMyPoint& point : data) {
      if (point.value[i] != 0) continue;
      const INT2double& table = point.affected == 1 ? alleleFreCase : alleleFreCont;
      const double myrand = rand() / 2147483647.0;
      point.value[i] = DrawAllele(table, myrand);
    }
  }
}

// The frequencies count haplotypes in bit sets: one set of allele-1 carriers
// per marker and one of cases. The counts are the same integers a haplotype
// loop adds up, so every frequency is the same double.
void CDataPoints::AlleleFrequency(int pos, double& freC, double& freA, double& fre) const {
  HapFrequency(pos, pos, freC, freA, fre);
}

void CDataPoints::HapFrequency(int pos1, int pos2, double& hfreC, double& hfreA, double& hfre) const {
  const std::size_t words = (data.size() + 63) / 64;
  const std::uint64_t* bits1 = &alleleOneBits[words * pos1];
  const std::uint64_t* bits2 = &alleleOneBits[words * pos2];
  int both = 0, bothInCases = 0;
  for (std::size_t w = 0; w < words; w++) {
    const std::uint64_t carriers = bits1[w] & bits2[w];
    both += std::popcount(carriers);
    bothInCases += std::popcount(carriers & caseBits[w]);
  }
  const int n = static_cast<int>(data.size());
  hfre = static_cast<double>(both) / n;
  hfreA = static_cast<double>(bothInCases) / casesCounted;
  hfreC = static_cast<double>(both - bothInCases) / (n - casesCounted);
}

void CDataPoints::BuildAlleleBits() {
  const std::size_t words = (data.size() + 63) / 64;
  alleleOneBits.assign(words * dim, 0);
  caseBits.assign(words, 0);
  casesCounted = 0;
  for (std::size_t h = 0; h < data.size(); h++) {
    const std::uint64_t bit = std::uint64_t{1} << (h % 64);
    if (data[h].affected == 1) {
      caseBits[h / 64] |= bit;
      casesCounted++;
    }
    for (int k = 0; k < dim; k++)
      if (data[h].value[k] == 1) alleleOneBits[words * k + h / 64] |= bit;
  }
}

// The scan reads the frequency of allele 1 at each marker; two-marker
// frequencies are formed where the LD weights need them. The alleles are
// also put in the compact forms the scan works on.
void CDataPoints::CalculateFreq() {
  BuildAlleleBits();
  PackAlleles();
  alleleFreC.assign(dim, 0.0);
  alleleFreA.assign(dim, 0.0);
  alleleFre.assign(dim, 0.0);
  for (int i = 0; i < dim; i++) AlleleFrequency(i, alleleFreC[i], alleleFreA[i], alleleFre[i]);
}

// |D'| of the marker pairs that share a window, for the LD-weighted scheme
// only. Both orders of a pair give the same quotient (the smaller of the two
// bounds), so each pair is computed once.
void CDataPoints::LDdelta() {
  LDMatrix.clear();
  if (weightFuntionClass != 3) return;
  LDMatrix.assign(static_cast<std::size_t>(dim) * curdim, 0.0);
  for (int a = 0; a + 1 < dim; a++)
    for (int b = a + 1; b < dim && b - a < curdim; b++) {
      double hfreC, hfreA, hfre;
      HapFrequency(a, b, hfreC, hfreA, hfre);
      const double pA = alleleFre[a], pB = alleleFre[b];
      double D = hfre - pA * pB;
      if (D > 0) {
        if ((1 - pA) * pB > pA * (1 - pB))
          D /= pA * (1 - pB);
        else
          D /= (1 - pA) * pB;
      } else {
        if ((1 - pA) * (1 - pB) > pA * pB)
          D /= pA * pB;
        else
          D /= (1 - pA) * (1 - pB);
      }
      LDMatrix[static_cast<std::size_t>(a) * curdim + (b - a)] = std::fabs(D);
    }
}

void CDataPoints::PackAlleles() {
  const int n = static_cast<int>(data.size());
  std::vector<std::vector<int>> codes(dim);  // allele values of each marker, in order of appearance
  for (const CMyPoint& point : data)
    for (int k = 0; k < dim; k++)
      if (std::find(codes[k].begin(), codes[k].end(), point.value[k]) == codes[k].end())
        codes[k].push_back(point.value[k]);
  std::size_t most = 1;
  for (const std::vector<int>& values : codes) most = std::max(most, values.size());
  codeBits = std::max(1, static_cast<int>(std::bit_width(most - 1)));
  // One spare word, so that a window can be read two words at a time.
  packedWords = static_cast<int>((static_cast<long long>(dim) * codeBits + 63) / 64) + 1;
  packedAlleles.assign(static_cast<std::size_t>(n) * packedWords, 0);
  for (int h = 0; h < n; h++) {
    std::uint64_t* row = &packedAlleles[static_cast<std::size_t>(h) * packedWords];
    for (int k = 0; k < dim; k++) {
      const auto code = static_cast<std::uint64_t>(
          std::find(codes[k].begin(), codes[k].end(), data[h].value[k]) - codes[k].begin());
      const long long bit = static_cast<long long>(k) * codeBits;
      row[bit / 64] |= code << (bit % 64);
      if (bit % 64 + codeBits > 64) row[bit / 64 + 1] |= code >> (64 - bit % 64);
    }
  }
}
