// Cluster scores with the cluster report, and the single-marker tests.
#include <algorithm>
#include <bit>
#include <charconv>
#include <string>
#include <cmath>
#include <iterator>
#include <memory>
#include <numeric>
#include <ostream>

#include "chisq.h"
#include "dbscan.h"

namespace {

// Pearson chi-square of a 2x2 table without continuity correction, evaluated
// left to right as num / rowTotal1 * d / colTotal1 * d / colTotal2 / rowTotal2.
// The products a and b are formed in 64 bits, which only matters beyond
// about 2,000 haplotypes.
double TableChiSquare(int num, int rowTotal1, int rowTotal2, int colTotal1, int colTotal2, long long a,
                      long long b) {
  const double d = static_cast<double>(a - b);
  return static_cast<double>(num) / rowTotal1 * d / colTotal1 * d / colTotal2 / rowTotal2;
}

// Pooled two-sample t of an in-group (sum S1, sum of squares Q1, size n1)
// against all other haplotypes.
struct PooledT {
  double AveInCluster, AveRemain, inClusterVar, outClusterVar, T;
  PooledT(int num, double Avetraitvalue, double SumSqare, double S1, double Q1, int n1) {
    AveRemain = (num * Avetraitvalue - S1) / (num - n1);
    AveInCluster = S1 / n1;
    inClusterVar = Q1 - n1 * AveInCluster * AveInCluster;
    outClusterVar = (SumSqare - Q1) - (num - n1) * AveRemain * AveRemain;
    const int n2 = num - n1;
    T = (AveInCluster - AveRemain) * std::sqrt(static_cast<double>(n1) * n2 * (num - 2) / num) /
        std::sqrt(inClusterVar + outClusterVar);
  }
};

int TruncatedDegrees(double dof) {
  // A group of 0 or 1 haplotypes leaves the Welch degrees of freedom undefined.
  if (!std::isfinite(dof) || std::fabs(dof) >= 2147483647.0) return 0;
  return static_cast<int>(dof);
}

char* PutInt(char* at, int value) { return std::to_chars(at, at + 11, value).ptr; }

// As a stream with its default flags writes a double: %g, six digits.
char* PutStreamDouble(char* at, double value) {
  return std::to_chars(at, at + 32, value, std::chars_format::general, 6).ptr;
}

// The most bytes a member line of len alleles takes: three numbers, "(1):",
// and an int and a tab per allele.
std::size_t MemberLineBound(int len) { return 96 + 12 * static_cast<std::size_t>(len); }

}  // namespace

void CDataPoints::FormatMemberPrefixes() {
  memberPrefixes.clear();
  prefixStart.assign(1, 0);
  char line[96];
  for (const CMyPoint& point : data) {
    char* at = PutInt(line, point.id);
    *at++ = '\t';
    at = PutInt(at, point.affected);
    *at++ = '\t';
    at = PutStreamDouble(at, point.traitvalue);
    memberPrefixes.append(line, at);
    prefixStart.push_back(memberPrefixes.size());
  }
}

// Haplotypes of one window class have the same alleles over the window, so a
// class's text is formatted the first time one of its members is listed.
std::string_view CDataPoints::MemberAlleles(const PositionState& s, int h) const {
  const int c = s.windowClass[h];
  auto& [first, length] = s.memberTextSpan[c];
  if (length == 0) {
    first = s.memberText.size();
    char text[12];
    for (int k = s.curpos; k < s.curpos + curdim; k++) {
      const int allele = Allele(h, k);
      char* end = text;
      if (allele >= 0 && allele <= 9)
        *end++ = static_cast<char>('0' + allele);
      else
        end = PutInt(end, allele);
      *end++ = '\t';
      s.memberText.append(text, end);
    }
    s.memberText += '\n';
    length = s.memberText.size() - first;
  }
  return std::string_view(s.memberText).substr(first, length);
}

char* CDataPoints::PutMember(char* at, int h, std::string_view alleles, bool core) const {
  const std::size_t from = prefixStart[h], size = prefixStart[h + 1] - from;
  at = std::copy_n(memberPrefixes.data() + from, size, at);
  for (char c : {'(', core ? '1' : '0', ')', ':', '\t'}) *at++ = c;
  return std::copy(alleles.begin(), alleles.end(), at);
}

// The member lines, the bulk of a large report, are formatted into a buffer
// and written a chunk at a time: through the stream one field at a time they
// took half of the classic command's time.
void CDataPoints::WriteMembers(const PositionState& s, const Cluster& cluster, std::ostream& report) const {
  report << "Cluster number " << cluster.id << "\n";
  if (reportDetail == ReportDetail::kClusters) return;
  const std::size_t line = MemberLineBound(curdim), size = std::max<std::size_t>(1 << 16, 2 * line);
  const std::unique_ptr<char[]> buffer(new char[size]);
  char* at = buffer.get();
  auto flush = [&] {
    report.write(buffer.get(), at - buffer.get());
    at = buffer.get();
  };
  ForEachHaplotype(cluster.members, [&](int m) {
    if (static_cast<std::size_t>(at - buffer.get()) + line > size) flush();
    at = PutMember(at, m, MemberAlleles(s, m), s.core[m]);
  });
  flush();
}

static int CommonCount(const HaplotypeBits& a, const HaplotypeBits& b) {
  int count = 0;
  for (std::size_t w = 0; w < a.size(); w++) count += std::popcount(a[w] & b[w]);
  return count;
}

CDataPoints::CaseControlScore CDataPoints::ScoreCaseControlCluster(const PositionState& s, const Cluster& cluster,
                                                                   const HaplotypeBits& cases) const {
  CaseControlScore c;
  c.numHap = cluster.size;
  c.n11 = CommonCount(cluster.members, cases);
  c.n12 = c.numHap - c.n11;
  c.numCore = CommonCount(cluster.members, s.coreBits);
  const int n21 = nCase - c.n11, n22 = nCont - c.n12;
  const long long a = static_cast<long long>(c.n11) * n22, b = static_cast<long long>(c.n12) * n21;
  c.emptyMargin = nCase == 0 || c.n11 + c.n12 == 0 || n21 + n22 == 0 || nCont == 0;
  if (!c.emptyMargin) c.chi = TableChiSquare(num, nCase, nCont, c.n11 + c.n12, n21 + n22, a, b);
  c.ZScore = std::sqrt(c.chi);
  if (a < b) {
    c.chi = -c.chi;
    c.ZScore = -c.ZScore;
  }
  return c;
}

double CDataPoints::CaseControlPositionScore(const PositionState& s, const HaplotypeBits& cases,
                                             std::ostream* report, int* bestIndex) const {
  double largestChi = 0.0, largestZScore = 0.0;
  for (const Cluster& cluster : s.clusters) {
    const CaseControlScore c = ScoreCaseControlCluster(s, cluster, cases);
    if (std::fabs(c.chi) > largestChi) {
      largestChi = std::fabs(c.chi);
      largestZScore = c.ZScore;
      if (bestIndex) *bestIndex = static_cast<int>(&cluster - s.clusters.data());
    }
    if (!report || !(c.ZScore > zsocreT)) continue;
    const double minusLogPvalue = c.emptyMargin ? 0.0 : -std::log10(qChisq(std::fabs(c.chi), 1));
    WriteMembers(s, cluster, *report);
    *report << "ChiSquare\tZ_Score\tnHaplotypes\tnCore\t-Log10Pvalue\n"
            << c.chi << '\t' << c.ZScore << '\t' << c.numHap << '\t' << c.numCore << '\t' << minusLogPvalue
            << '\n';
  }
  return largestZScore;
}

double CDataPoints::Write(const PositionState& s, std::ostream& fout) const {
  if (reportDetail == ReportDetail::kNone) return CaseControlPositionScore(s, caseBits, nullptr, nullptr);
  fout << "Position: " << s.pos << '\n';
  const double score = CaseControlPositionScore(s, caseBits, &fout, nullptr);
  fout << '\n';
  return score;
}

int CDataPoints::BestCluster(const PositionState& s) const {
  int best = -1;
  if (q)
    TraitPositionScore(s, ObservedOrder(), nullptr, &best);
  else
    CaseControlPositionScore(s, caseBits, nullptr, &best);
  return best;
}

double CDataPoints::LocalScore(const PositionState& s, const HaplotypeBits& cases) const {
  return CaseControlPositionScore(s, cases, nullptr, nullptr);
}

// Trait values never change after reading (replicates move labels through
// their orders), so the totals and ranks are computed once.
void CDataPoints::UpdateAverage() {
  Avetraitvalue = 0.0;
  SumSqare = 0.0;
  traits.resize(data.size());
  for (std::size_t h = 0; h < data.size(); h++) {
    const double t = traits[h] = data[h].traitvalue;
    Avetraitvalue += t;
    SumSqare += t * t;
  }
  Avetraitvalue /= static_cast<double>(data.size());
  PrepareTraitRanks();
}

double CDataPoints::T_StatOfACluster(const PositionState& s, const Cluster& cluster, int& numCore, double& mean,
                                     double& var, const int* order) const {
  double S1 = 0.0, Q1 = 0.0;
  ForEachHaplotype(cluster.members, [&](int m) {
    const double t = traits[order[m]];
    S1 += t;
    Q1 += t * t;
  });
  numCore += CommonCount(cluster.members, s.coreBits);
  const PooledT pooled(num, Avetraitvalue, SumSqare, S1, Q1, cluster.size);
  mean = pooled.AveInCluster;
  var = pooled.inClusterVar / cluster.size;
  return pooled.T;
}

double CDataPoints::TraitPositionScore(const PositionState& s, const int* order, std::ostream* report,
                                       int* bestOrdinal) const {
  double largestTScore = -10000000.0;
  int ordinal = 0;
  for (const Cluster& cluster : s.clusters) {
    int numCore = 0;
    double mean, var;
    const double T = T_StatOfACluster(s, cluster, numCore, mean, var, order);
    if (T > largestTScore) {
      largestTScore = T;
      if (bestOrdinal) *bestOrdinal = ordinal;
    }
    ordinal++;
    if (!report || !(T > zsocreT)) continue;
    WriteMembers(s, cluster, *report);
    *report << "T_Score\tnHaplotypes\tnCore\tClusterMean\tClusterVar\n"
            << T << '\t' << cluster.size << '\t' << numCore << '\t' << mean << '\t' << var << '\n';
  }
  return largestTScore;
}

double CDataPoints::WriteQTLScore(const PositionState& s, std::ostream& fout) const {
  if (reportDetail == ReportDetail::kNone) return TraitPositionScore(s, ObservedOrder(), nullptr, nullptr);
  fout << "Position: " << s.pos << '\n';
  const double score = TraitPositionScore(s, ObservedOrder(), &fout, nullptr);
  fout << '\n';
  return score;
}

double CDataPoints::LocalQScore(const PositionState& s, int& clusterIndex, const int* order) const {
  if (clusterIndex == -1) return TraitPositionScore(s, order, nullptr, &clusterIndex);
  if (clusterIndex < 0 || clusterIndex >= static_cast<int>(s.clusters.size())) return 0.0;
  int numCore = 0;
  double mean, var;
  return T_StatOfACluster(s, s.clusters[clusterIndex], numCore, mean, var, order);
}

// Allele-1 carriers among the cases and the controls, counted on the bit sets.
double CDataPoints::ChiSQ(int index) const {
  const std::size_t words = caseBits.size();
  const std::uint64_t* carriers = &alleleOneBits[words * index];
  int carrying = 0, n11 = 0;
  for (std::size_t w = 0; w < words; w++) {
    carrying += std::popcount(carriers[w]);
    n11 += std::popcount(carriers[w] & caseBits[w]);
  }
  const int n12 = casesCounted - n11, n21 = carrying - n11, n22 = num - casesCounted - n21;
  const long long a = static_cast<long long>(n11) * n22, b = static_cast<long long>(n12) * n21;
  if (nCase == 0 || n11 + n21 == 0 || n12 + n22 == 0 || nCont == 0) return 0.0;
  return TableChiSquare(num, nCase, nCont, n11 + n21, n12 + n22, a, b);
}

// Dense ranks of the trait values and, per haplotype, how many haplotypes
// have a strictly greater and a strictly smaller trait. A permutation only
// moves the values, so these serve every replicate through its label order.
void CDataPoints::PrepareTraitRanks() {
  const int n = static_cast<int>(data.size());
  std::vector<int> byTrait(n);
  std::iota(byTrait.begin(), byTrait.end(), 0);
  std::sort(byTrait.begin(), byTrait.end(),
            [this](int x, int y) { return data[x].traitvalue < data[y].traitvalue; });
  traitsAbove.assign(n, 0);
  traitsBelow.assign(n, 0);
  traitRank.assign(n, 0);
  int rank = 0;
  for (int first = 0; first < n;) {
    int last = first;
    while (last < n && data[byTrait[last]].traitvalue == data[byTrait[first]].traitvalue) last++;
    for (int k = first; k < last; k++) {
      traitsAbove[byTrait[k]] = n - last;
      traitsBelow[byTrait[k]] = first;
      traitRank[byTrait[k]] = rank;
    }
    rank++;
    first = last;
  }
}

// The sum of countOf over a group, less the strictly ordered pairs inside it.
long long CDataPoints::PairsLeavingGroup(PositionState& s, const std::vector<int>& group,
                                         const std::vector<int>& countOf, const int* order) const {
  std::vector<int>& rankTally = s.rankTally;
  if (rankTally.size() != data.size()) rankTally.assign(data.size(), 0);
  long long counted = 0, tiedPairs = 0;
  for (int h : group) {
    counted += countOf[order[h]];
    tiedPairs += rankTally[traitRank[order[h]]]++;
  }
  for (int h : group) rankTally[traitRank[order[h]]] = 0;
  const long long size = static_cast<long long>(group.size());
  return counted - (size * (size - 1) / 2 - tiedPairs);
}

// Mann-Whitney count of (allele-1 haplotype, other haplotype) pairs whose
// other trait is strictly greater: the strictly greater traits of every
// allele-1 haplotype less the ordered pairs inside the allele-1 group, or,
// counted from the smaller side, the strictly smaller traits of every other
// haplotype less the ordered pairs among them.
long long CDataPoints::MannWhitneyU(PositionState& s, const AlleleGroups& groups, const int* order) const {
  if (groups.in.size() <= groups.out.size()) return PairsLeavingGroup(s, groups.in, traitsAbove, order);
  return PairsLeavingGroup(s, groups.out, traitsBelow, order);
}

CDataPoints::AlleleGroups CDataPoints::AlleleOneGroups(int index) const {
  AlleleGroups groups;
  for (int h = 0; h < num; h++) (Allele(h, index) == 1 ? groups.in : groups.out).push_back(h);
  return groups;
}

TraitTests CDataPoints::StatScore(PositionState& s, int index, const int* order) const {
  return GroupTraitTests(s, AlleleOneGroups(index), order);
}

TraitTests CDataPoints::GroupTraitTests(PositionState& s, const AlleleGroups& groups, const int* order) const {
  double S1 = 0.0, Q1 = 0.0;
  for (int h : groups.in) {
    const double t = traits[order[h]];
    S1 += t;
    Q1 += t * t;
  }
  const int n1 = static_cast<int>(groups.in.size());
  const PooledT pooled(num, Avetraitvalue, SumSqare, S1, Q1, n1);
  const int n2 = num - n1;
  TraitTests r;
  r.T = pooled.T;
  const double A1 = pooled.inClusterVar / n1 / n1;
  const double A2 = pooled.outClusterVar / n2 / n2;
  r.WelthT = (pooled.AveInCluster - pooled.AveRemain) / std::sqrt(A1 + A2);
  r.dofWelthT = TruncatedDegrees((A1 + A2) * (A1 + A2) / (A1 * A1 / (n1 - 1) + A2 * A2 / (n2 - 1)));
  r.U = MannWhitneyU(s, groups, order);
  const long long n1n2 = static_cast<long long>(n1) * n2;
  r.Z = (0.5 * static_cast<double>(n1n2) - static_cast<double>(r.U)) /
        std::sqrt(static_cast<double>(n1n2 * (n1 + n2 + 1)) / 12.0);
  return r;
}
