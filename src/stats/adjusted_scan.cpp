#include "adjusted_scan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "chisq.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Both haplotypes of each individual i with chosen(i).
template <class Chosen>
HaplotypeBits IndividualBits(int individuals, std::size_t words, Chosen chosen) {
  HaplotypeBits bits(words, 0);
  for (int i = 0; i < individuals; i++)
    if (chosen(i))
      for (int h = 2 * i; h <= 2 * i + 1; h++) bits[static_cast<std::size_t>(h) / 64] |= std::uint64_t{1} << (h % 64);
  return bits;
}

int Common(const HaplotypeBits& a, const HaplotypeBits& b) {
  int count = 0;
  for (std::size_t w = 0; w < a.size(); w++) count += std::popcount(a[w] & b[w]);
  return count;
}

// A uniform draw in [0, 1) from the top 53 bits, the same on every platform.
double Uniform(std::mt19937_64& random) { return static_cast<double>(random() >> 11) * 0x1.0p-53; }

// The individuals of each stratum, ascending; everyone when there are no strata.
std::vector<std::vector<int>> IndividualsByStratum(int individuals, const std::vector<int>& strata) {
  std::vector<std::vector<int>> members(strata.empty() ? 1 : *std::max_element(strata.begin(), strata.end()) + 1);
  for (int i = 0; i < individuals; i++) members[strata.empty() ? 0 : strata[i]].push_back(i);
  return members;
}

void TakeLarger(double& maximum, double value) {
  if (value > maximum) maximum = value;  // a value that is not a number never wins
}

void TakeLarger(std::vector<double>& maxima, const std::vector<double>& values) {
  for (std::size_t b = 0; b < maxima.size(); b++) TakeLarger(maxima[b], values[b]);
}

}  // namespace

AdjustedScan::AdjustedScan(const NullModel& model, const std::vector<BitRow>& haplotypeAlt,
                           const std::vector<double>& cases, const std::vector<int>& strata, int replicates)
    : model_(model), alt_(haplotypeAlt), replicates_(std::max(replicates, 0)),
      words_((2 * static_cast<std::size_t>(model.individuals) + 63) / 64),
      clusterZ_(haplotypeAlt.size(), kNaN), singleZ_(haplotypeAlt.size(), kNaN),
      clusterMaxima_(replicates_, 0.0), singleMaxima_(replicates_, 0.0) {
  const int n = model.individuals;
  std::mt19937_64 random(kAdjustedReplicateSeed);
  std::vector<double> deviation(n);
  observedShift_ = RefitShift(model, model.residual);
  if (model.logistic) {
    observedCases_ = IndividualBits(n, words_, [&](int i) { return cases[i] == 1; });
    for (int b = 0; b < replicates_; b++) {
      replicateCases_.push_back(IndividualBits(n, words_, [&](int i) {
        const bool drawn = Uniform(random) < model.fitted[i];
        deviation[i] = drawn - model.fitted[i];
        return drawn;
      }));
      replicateShift_.push_back(RefitShift(model, deviation));
    }
    return;
  }
  const std::size_t r = static_cast<std::size_t>(replicates_);
  replicateResiduals_.resize(static_cast<std::size_t>(n) * r);
  // Individual i takes the residual of order[i], someone of its stratum.
  const std::vector<std::vector<int>> byStratum = IndividualsByStratum(n, strata);
  std::vector<int> order(n), shuffled;
  for (std::size_t b = 0; b < r; b++) {
    for (const std::vector<int>& members : byStratum) {
      shuffled = members;
      for (int i = static_cast<int>(shuffled.size()) - 1; i > 0; i--)
        std::swap(shuffled[i], shuffled[random() % static_cast<std::uint64_t>(i + 1)]);
      for (std::size_t k = 0; k < members.size(); k++) order[members[k]] = shuffled[k];
    }
    for (int i = 0; i < n; i++) {
      deviation[i] = model.residual[order[i]];
      replicateResiduals_[static_cast<std::size_t>(i) * r + b] = deviation[i];
    }
    replicateShift_.push_back(RefitShift(model, deviation));
  }
}

double AdjustedScan::ObservedZ(const HaplotypeBits& members, const DosageScore& score) const {
  if (!(score.variance > 0)) return kNaN;
  // Counted as a replicate's is, so that a replicate equal to the data ties with it exactly.
  const double sum = model_.logistic ? Common(members, observedCases_) - score.fittedSum : score.u;
  return ProjectedScore(score, sum, observedShift_) / std::sqrt(score.variance);
}

void AdjustedScan::ReplicateZ(const HaplotypeBits& members, const DosageScore& score, std::vector<double>& z) const {
  z.assign(replicates_, kNaN);
  if (!(score.variance > 0)) return;
  const double sd = std::sqrt(score.variance);
  if (model_.logistic) {
    for (int b = 0; b < replicates_; b++)
      z[b] = ProjectedScore(score, Common(members, replicateCases_[b]) - score.fittedSum, replicateShift_[b]) / sd;
    return;
  }
  std::vector<double> u(replicates_, 0.0);
  const std::size_t r = static_cast<std::size_t>(replicates_);
  ForEachHaplotype(members, [&](int h) {
    const double* row = &replicateResiduals_[static_cast<std::size_t>(h / 2) * r];
    for (std::size_t b = 0; b < r; b++) u[b] += row[b];
  });
  for (std::size_t b = 0; b < r; b++) z[b] = ProjectedScore(score, u[b], replicateShift_[b]) / sd;
}

void AdjustedScan::Score(const PositionState& s, int pos) {
  std::vector<double> clusterMaxima(replicates_, -std::numeric_limits<double>::infinity()), z;
  double best = kNaN;
  for (const Cluster& cluster : s.clusters) {
    const DosageScore score = ScoreDosage(model_, cluster.members);
    const double observed = ObservedZ(cluster.members, score);
    if (std::isnan(best) || observed > best) best = observed;
    ReplicateZ(cluster.members, score, z);
    for (int b = 0; b < replicates_; b++) TakeLarger(clusterMaxima[b], z[b]);
  }
  const HaplotypeBits& carriers = alt_[pos].Words();
  const DosageScore single = ScoreDosage(model_, carriers);
  ReplicateZ(carriers, single, z);
  for (double& value : z) value = std::fabs(value);
  // Each position is written by one thread only; the maxima are shared.
  clusterZ_[pos] = best;
  singleZ_[pos] = ObservedZ(carriers, single);
  const std::lock_guard<std::mutex> hold(mergeLock_);
  TakeLarger(clusterMaxima_, clusterMaxima);
  TakeLarger(singleMaxima_, z);
}

AdjustedTally AdjustedScan::Tally(int from, int to) const {
  return {{clusterZ_.begin() + from, clusterZ_.begin() + to}, {singleZ_.begin() + from, singleZ_.begin() + to},
          clusterMaxima_, singleMaxima_};
}

AdjustedScanResult AdjustedScan::Result() const { return ResultOf(Tally(0, static_cast<int>(clusterZ_.size()))); }

void AdjustedTally::Merge(const AdjustedTally& later) {
  clusterZ.insert(clusterZ.end(), later.clusterZ.begin(), later.clusterZ.end());
  singleZ.insert(singleZ.end(), later.singleZ.begin(), later.singleZ.end());
  TakeLarger(clusterMaxima, later.clusterMaxima);
  TakeLarger(singleMaxima, later.singleMaxima);
}

AdjustedScanResult ResultOf(const AdjustedTally& whole) {
  AdjustedScanResult result{whole.clusterZ, whole.singleZ, {}, {}, std::nullopt, std::nullopt, whole.clusterMaxima,
                            whole.singleMaxima};
  for (std::size_t pos = 0; pos < whole.clusterZ.size(); pos++) {
    result.cluster.Offer(static_cast<int>(pos), whole.clusterZ[pos]);
    result.single.Offer(static_cast<int>(pos), std::fabs(whole.singleZ[pos]));
  }
  if (!whole.clusterMaxima.empty()) {
    auto observed = [](const BestPosition& best) { return best.pos >= 0 ? std::max(best.score, 0.0) : 0.0; };
    result.clusterP = EmpiricalPValue(whole.clusterMaxima, observed(result.cluster));
    result.singleP = EmpiricalPValue(whole.singleMaxima, observed(result.single));
  }
  return result;
}

double TwoSidedMinusLog10P(double z) { return std::isnan(z) ? kNaN : -std::log10(qChisq(z * z, 1)); }

std::vector<double> TwoSidedMinusLog10P(const std::vector<double>& z) {
  std::vector<double> values;
  for (double value : z) values.push_back(TwoSidedMinusLog10P(value));
  return values;
}

PositionClustered ScoringEachPosition(std::optional<AdjustedScan>& adjusting) {
  if (!adjusting) return PositionClustered();
  return [&adjusting](const PositionState& s, int pos) { adjusting->Score(s, pos); };
}
