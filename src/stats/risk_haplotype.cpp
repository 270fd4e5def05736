#include "risk_haplotype.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "chisq.h"
#include "credible_set.h"
#include "scan.h"

namespace {

constexpr double kNormal975 = 1.959963984540054;

// 1 when most of the haplotypes carry ALT at the marker (a tie counts as REF).
int MajorityAllele(const Conversion& conversion, const std::vector<int>& haplotypes, int marker) {
  const BitRow& alt = conversion.genotypes.alt[marker];
  int carriers = 0;
  for (int h : haplotypes) carriers += alt[h];
  return 2 * carriers > static_cast<int>(haplotypes.size()) ? 1 : 0;
}

// The segments each member shares with the members' majority around the centre.
void FindSharedSegments(const Conversion& conversion, RiskHaplotype& risk) {
  const int markers = static_cast<int>(conversion.genotypes.alt.size());
  std::vector<int> majority(markers, -1);
  auto majorityAt = [&](int k) {
    if (majority[k] < 0) majority[k] = MajorityAllele(conversion, risk.members, k);
    return majority[k];
  };
  auto carries = [&](int h, int k) { return conversion.genotypes.alt[k][h] == majorityAt(k); };
  std::vector<int> from, to;
  for (int h : risk.members) {
    int l = risk.position, r = risk.position - 1;
    if (carries(h, risk.position)) {
      while (l > 0 && carries(h, l - 1)) l--;
      for (r = risk.position; r + 1 < markers && carries(h, r + 1);) r++;
      from.push_back(l);
      to.push_back(r);
    }
    risk.shared.emplace_back(l, r);
  }
  risk.sharedFirst = risk.sharedLast = risk.position;
  if (from.empty()) return;
  std::nth_element(from.begin(), from.begin() + from.size() / 2, from.end());
  std::nth_element(to.begin(), to.begin() + to.size() / 2, to.end());
  risk.sharedFirst = from[from.size() / 2];
  risk.sharedLast = to[to.size() / 2];
}

void CaseControlEffect(const CDataPoints& ds, RiskHaplotype& risk) {
  for (int h = 0; h < ds.num; h++) (ds.data[h].affected ? risk.cases : risk.controls)++;
  for (int h : risk.members) (ds.data[h].affected ? risk.caseMembers : risk.controlMembers)++;
  const MarkerEffect e =
      LogOddsRatio(risk.caseMembers, risk.cases - risk.caseMembers, risk.controlMembers, risk.controls - risk.controlMembers);
  risk.effect = std::exp(e.beta);
  risk.low = std::exp(e.beta - kNormal975 * e.se);
  risk.high = std::exp(e.beta + kNormal975 * e.se);
}

void TraitEffect(const CDataPoints& ds, RiskHaplotype& risk) {
  std::vector<int> inside(ds.num, 0);
  for (int h : risk.members) inside[h] = 1;
  double sum[2] = {0, 0}, squares[2] = {0, 0};
  int count[2] = {0, 0};
  for (int h = 0; h < ds.num; h++) {
    const double t = ds.data[h].traitvalue;
    sum[inside[h]] += t;
    count[inside[h]]++;
  }
  risk.meanOutside = sum[0] / count[0];
  risk.meanInside = sum[1] / count[1];
  for (int h = 0; h < ds.num; h++) {
    const double d = ds.data[h].traitvalue - (inside[h] ? risk.meanInside : risk.meanOutside);
    squares[inside[h]] += d * d;
  }
  const int dof = ds.num - 2;
  const double pooled = std::sqrt((squares[0] + squares[1]) / dof);
  const double margin = StudentQuantile975(dof) * pooled * std::sqrt(1.0 / count[0] + 1.0 / count[1]);
  risk.effect = risk.meanInside - risk.meanOutside;
  risk.low = risk.effect - margin;
  risk.high = risk.effect + margin;
}

}  // namespace

double StudentQuantile975(int dof) {
  if (dof < 1) return std::nan("");
  // qStudentT gives the two-sided tail, which falls as t grows.
  double low = 0, high = 1000;
  for (int step = 0; step < 200; step++) {
    const double mid = (low + high) / 2;
    (qStudentT(mid, dof) > 0.05 ? low : high) = mid;
  }
  return (low + high) / 2;
}

std::optional<RiskHaplotype> FindRiskHaplotype(const CDataPoints& ds, const Conversion& conversion, int position) {
  PositionState s;
  ClusterPosition(ds, s, position);
  const int best = ds.BestCluster(s);
  if (best < 0) return std::nullopt;
  const Cluster& cluster = s.clusters[best];
  RiskHaplotype risk;
  risk.position = position;
  risk.clusterId = cluster.id;
  risk.first = s.curpos;
  risk.width = std::min(ds.curdim, ds.dim - s.curpos);
  ForEachHaplotype(cluster.members, [&](int h) {
    risk.members.push_back(h);
    risk.core.push_back(s.core[h]);
  });
  for (int k = risk.first; k < risk.first + risk.width; k++)
    risk.consensus.push_back(MajorityAllele(conversion, risk.members, k));
  FindSharedSegments(conversion, risk);
  if (ds.q)
    TraitEffect(ds, risk);
  else
    CaseControlEffect(ds, risk);
  return risk;
}

void WriteRiskHaplotype(const Conversion& conversion, const std::optional<RiskHaplotype>& risk, std::ostream& out) {
  out << "sample\thaplotype\tphenotype\tcore\tsharedFrom\tsharedTo\n";
  if (!risk) return;
  const std::vector<Marker>& markers = conversion.genotypes.markers;
  for (std::size_t m = 0; m < risk->members.size(); m++) {
    const int h = risk->members[m];
    const std::string& phenotype = conversion.phenotypes[h / 2];
    out << conversion.genotypes.samples[h / 2] << '\t' << h % 2 + 1 << '\t'
        << (conversion.quantitative ? phenotype : phenotype == "a" ? "case" : "control") << '\t'
        << int{risk->core[m]} << '\t';
    const auto [from, to] = risk->shared[m];
    if (from <= to)
      out << markers[from].pos << '\t' << markers[to].pos << '\n';
    else
      out << "NA\tNA\n";
  }
}
