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
  for (int h = 0; h < static_cast<int>(data.size()); h++) {
    INT2double& table = data[h].affected == 1 ? *alleleFreCase : *alleleFreCont;
    table[Allele(h, pos)] += 1.0;
  }
  CountsToFrequencies(*alleleFreCase, nCase);
  // In the trait mode every haplotype is in the control group, whose total is
  // then the number of haplotypes.
  CountsToFrequencies(*alleleFreCont, q ? static_cast<int>(data.size()) : nCont);
}

void CDataPoints::ImputeMissing() {
  INT2double alleleFreCase, alleleFreCont;
  for (int i = 0; i < dim; i++) {
    // A marker lists allele 0 once a haplotype is missing its allele there.
    const std::vector<int>& alleles = markerAlleles[i];
    if (std::find(alleles.begin(), alleles.end(), 0) == alleles.end()) continue;  // no draw, nothing to fill
    alleleFreCase.clear();
    alleleFreCont.clear();
    AlleleFreq(i, &alleleFreCase, &alleleFreCont);
    for (int h = 0; h < static_cast<int>(data.size()); h++) {
      if (Allele(h, i) != 0) continue;
      const INT2double& table = data[h].affected == 1 ? alleleFreCase : alleleFreCont;
      const double myrand = rand() / 2147483647.0;
      SetAllele(h, i, DrawAllele(table, myrand));
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
  for (std::size_t h = 0; h < data.size(); h++)
    if (data[h].affected == 1) {
      caseBits[h / 64] |= std::uint64_t{1} << (h % 64);
      casesCounted++;
    }
  // A word of carriers at a time, from the tile of its 64 haplotypes, where
  // their codes of a marker lie side by side.
  const std::uint64_t mask = CodeMask();
  std::vector<int> one(dim);
  for (int k = 0; k < dim; k++) one[k] = AlleleOneCode(k);
  for (std::size_t w = 0; w < words; w++) {
    const std::size_t rows = std::min<std::size_t>(64, data.size() - w * 64);
    for (int k = 0; k < dim; k++) {
      if (one[k] < 0) continue;
      const std::uint64_t bit = static_cast<std::uint64_t>(k) * codeBits, shift = bit % 64;
      const std::uint64_t* tile = &packedAlleles[PackedIndex(w * 64, bit / 64, packedWords)];
      const auto code = static_cast<std::uint64_t>(one[k]);
      std::uint64_t carriers = 0;
      for (std::size_t j = 0; j < rows; j++) carriers |= static_cast<std::uint64_t>(((tile[j] >> shift) & mask) == code) << j;
      alleleOneBits[words * k + w] = carriers;
    }
  }
}

int CDataPoints::AlleleOneCode(int k) const {
  const std::vector<int>& alleles = markerAlleles[k];
  const auto one = std::find(alleles.begin(), alleles.end(), 1);
  return one == alleles.end() ? -1 : static_cast<int>(one - alleles.begin());
}

// The scan reads the frequency of allele 1 at each marker; two-marker
// frequencies are formed where the LD weights need them. The alleles are
// also put in the compact forms the scan works on.
void CDataPoints::CalculateFreq() {
  BuildAlleleBits();
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

std::uint32_t CDataPoints::NewCode(int k, int allele) {
  std::vector<int>& alleles = markerAlleles[k];
  if (allele >= 0 && allele < kSmallAlleles)
    smallAlleleCodes[static_cast<std::size_t>(k) * kSmallAlleles + allele] = static_cast<std::int32_t>(alleles.size());
  alleles.push_back(allele);
  if (alleles.size() > (std::size_t{1} << codeBits)) WidenCodes(codeBits * 2);
  return static_cast<std::uint32_t>(alleles.size() - 1);
}

// Repacks the rows stored so far with codes of the given width.
void CDataPoints::WidenCodes(int bits) {
  const int rows = static_cast<int>(data.size()), markers = static_cast<int>(markerAlleles.size());
  std::vector<std::uint64_t> narrow = std::move(packedAlleles);
  const int narrowBits = codeBits, narrowWords = packedWords;
  codeBits = bits;
  packedWords = static_cast<int>((static_cast<long long>(markers) * codeBits + 63) / 64) + 1;
  packedAlleles.assign(static_cast<std::size_t>(rows + 63) / 64 * 64 * packedWords, 0);
  const std::uint64_t narrowMask = (std::uint64_t{1} << narrowBits) - 1;
  for (int h = 0; h < rows; h++)
    for (int k = 0; k < markers; k++) {
      const std::uint64_t bit = static_cast<std::uint64_t>(k) * narrowBits;
      const std::uint64_t word = narrow[PackedIndex(h, bit / 64, narrowWords)];
      PutCode(h, k, static_cast<std::uint32_t>((word >> (bit % 64)) & narrowMask));
    }
}

void CDataPoints::SetAllele(int h, int k, int allele) { PutCode(h, k, CodeOf(k, allele)); }
