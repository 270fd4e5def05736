// The risk haplotype: the cluster that gives the predicted position its
// score, as a geneticist reads it: the alleles its members share over the
// window, its carriers among cases and controls (or its trait mean against
// the rest), its effect with a 95% confidence interval, and how far around
// the centre its members carry the same alleles.
#pragma once

#include <iosfwd>
#include <optional>
#include <vector>

#include "conversion.h"
#include "dbscan.h"

struct RiskHaplotype {
  int position = 0;            // the centre marker
  int clusterId = 0;           // as the cluster report numbers it
  int first = 0, width = 0;    // the window's markers
  std::vector<int> members;    // haplotypes, ascending: haplotype h is number h % 2 + 1 of sample h / 2
  std::vector<char> core;      // per member
  std::vector<int> consensus;  // per marker of the window: 1 when most members carry ALT
  // Per member, the markers around the centre where it carries the members'
  // majority allele; empty (from > to) when it does not at the centre itself.
  std::vector<std::pair<int, int>> shared;
  int sharedFirst = 0, sharedLast = 0;  // the median of those segments' ends
  // Haplotypes: members and all, among the cases and among the controls (mode s).
  int caseMembers = 0, controlMembers = 0, cases = 0, controls = 0;
  // Trait means of the members and of the rest (mode q).
  double meanInside = 0, meanOutside = 0;
  // The odds ratio of membership (cases against controls), or the difference
  // of the trait means, with its 95% confidence interval: Woolf's, or the pooled t's.
  double effect = 0, low = 0, high = 0;
};

// The risk haplotype at a position of a scanned data set built from the
// conversion; nothing when no cluster formed there.
std::optional<RiskHaplotype> FindRiskHaplotype(const CDataPoints& ds, const Conversion& conversion, int position);

// The 0.975 point of Student's t on dof degrees of freedom.
double StudentQuantile975(int dof);

// risk-haplotype.tsv: one row per member, named by VCF sample and haplotype
// 1 or 2, with its phenotype, whether it is a core point and the stretch (bp)
// it shares around the centre.
void WriteRiskHaplotype(const Conversion& conversion, const std::optional<RiskHaplotype>& risk, std::ostream& out);
