// Permutation test: the phenotype labels are shuffled R times, each shuffle is
// scored at every position from the same clustering as the observed labels,
// and each best observed score gets the fraction of replicates whose best
// score over the positions is at least as large.
//
// The R shuffles are drawn right after the imputation, in order, each
// continuing from the arrangement the previous one left, and kept as label
// orders. Replicate r uses shuffle r at every position, with the scan's own
// window, so its maximum over positions belongs to one relabelled data set.
//
// A shuffle of haplotypes moves every label on its own. A shuffle of
// individuals moves the labels of a person's haplotypes together: the
// individuals are grouped by their number of haplotypes, and each replicate
// shuffles every group in turn, smallest first, with the same draw from
// rand() as a shuffle of haplotypes. When every identifier is unique the two
// shuffles are one.
//
// With strata, a unit (an individual, or a haplotype) is shuffled only among
// the units of its stratum: the groups are those of one stratum and one size,
// shuffled in turn by stratum, then size. A single stratum holds the groups
// and order of a run without strata, so it draws the same replicates.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <numeric>
#include <utility>

#include "dbscan.h"

void CDataPoints::Permutation(std::vector<int>& order) {
  const int n = static_cast<int>(order.size());
  for (int i = 0; i < n; i++) {
    const int r = rand();
    // Every partner from i to n - 1 can be drawn, the last haplotype included.
    int k = static_cast<int>(r / 2147483647.0 * (n - i));
    if (k > n - i - 1) k = n - i - 1;
    std::swap(order[i], order[i + k]);
  }
}

// Units in the order of their first haplotype, grouped by stratum and size,
// each group starting unshuffled.
std::vector<CDataPoints::ShuffleGroup> CDataPoints::ShuffleGroups() const {
  const bool individuals = permutationUnit == PermutationUnit::kIndividuals;
  std::map<int, std::vector<int>> haplotypesOf;
  std::vector<int> firstSeen;
  for (std::size_t h = 0; h < data.size(); h++) {
    const int unit = individuals ? data[h].id : static_cast<int>(h);
    std::vector<int>& haplotypes = haplotypesOf[unit];
    if (haplotypes.empty()) firstSeen.push_back(unit);
    haplotypes.push_back(static_cast<int>(h));
  }
  std::map<std::pair<int, std::size_t>, ShuffleGroup> byStratumAndSize;
  for (int unit : firstSeen) {
    std::vector<int>& haplotypes = haplotypesOf[unit];
    const int stratum = stratumOf.empty() ? 0 : stratumOf[haplotypes.front()];
    byStratumAndSize[{stratum, haplotypes.size()}].haplotypes.push_back(std::move(haplotypes));
  }
  std::vector<ShuffleGroup> groups;
  for (auto& [key, group] : byStratumAndSize) {
    group.arrangement.resize(group.haplotypes.size());
    std::iota(group.arrangement.begin(), group.arrangement.end(), 0);
    groups.push_back(std::move(group));
  }
  return groups;
}

// The k-th haplotype of each unit takes the label of the k-th haplotype of
// the unit it is arranged with.
void CDataPoints::ShuffleUnits(std::vector<ShuffleGroup>& groups, std::vector<int>& order) {
  for (ShuffleGroup& group : groups) {
    Permutation(group.arrangement);
    for (std::size_t i = 0; i < group.haplotypes.size(); i++) {
      const std::vector<int>& source = group.haplotypes[group.arrangement[i]];
      for (std::size_t k = 0; k < source.size(); k++) order[group.haplotypes[i][k]] = source[k];
    }
  }
}

void CDataPoints::DrawReplicates() {
  const int R = std::max(permutationTimes, 0);
  const std::size_t n = data.size();
  std::vector<int> order(identityOrder);
  // Without strata, single haplotypes are shuffled in the order itself, as the classic run does.
  const bool grouped = permutationUnit == PermutationUnit::kIndividuals || !stratumOf.empty();
  std::vector<ShuffleGroup> groups;
  if (grouped) groups = ShuffleGroups();
  replicateOrder.resize(R * n);
  for (int r = 0; r < R; r++) {
    if (grouped)
      ShuffleUnits(groups, order);
    else
      Permutation(order);
    std::copy(order.begin(), order.end(), replicateOrder.begin() + r * n);
  }
  if (q) return;
  // A case-control replicate needs only the haplotypes that carry a case label.
  replicateCases.assign(R, HaplotypeBits((n + 63) / 64, 0));
  for (int r = 0; r < R; r++)
    for (std::size_t h = 0; h < n; h++)
      if (data[replicateOrder[r * n + h]].affected == 1) replicateCases[r][h / 64] |= std::uint64_t{1} << (h % 64);
  replicateOrder = std::vector<int>();
}

ReplicateMaxima::ReplicateMaxima(int replicates, bool quantitative)
    : cluster(replicates, 0.0), singleT(quantitative ? replicates : 0, 0.0),
      singleZ(quantitative ? replicates : 0, 0.0) {}

static void KeepLarger(double& best, double value) {
  if (value > best) best = value;
}

void ReplicateMaxima::Merge(const ReplicateMaxima& other) {
  for (auto [mine, theirs] : {std::pair{&cluster, &other.cluster}, std::pair{&singleT, &other.singleT},
                              std::pair{&singleZ, &other.singleZ}})
    for (std::size_t r = 0; r < mine->size(); r++) KeepLarger((*mine)[r], (*theirs)[r]);
}

void CDataPoints::ScoreReplicates(PositionState& s, ReplicateMaxima& maxima) const {
  const std::size_t n = data.size();
  const AlleleGroups alleleOneGroups = q ? AlleleOneGroups(s.pos) : AlleleGroups();
  for (std::size_t r = 0; r < maxima.cluster.size(); r++) {
    if (q) {
      const int* order = &replicateOrder[r * n];
      int clusterIndex = -1;
      KeepLarger(maxima.cluster[r], LocalQScore(s, clusterIndex, order));
      const TraitTests single = GroupTraitTests(s, alleleOneGroups, order);
      KeepLarger(maxima.singleT[r], single.T);
      KeepLarger(maxima.singleZ[r], single.Z);
    } else {
      KeepLarger(maxima.cluster[r], LocalScore(s, replicateCases[r]));
    }
  }
}

double EmpiricalPValue(std::vector<double> maxima, double realscore) {
  std::sort(maxima.begin(), maxima.end());
  const auto c = std::lower_bound(maxima.begin(), maxima.end(), realscore) - maxima.begin();
  return 1 - static_cast<double>(c) / static_cast<double>(maxima.size());
}
