// The covariate-adjusted scan: at each position, every cluster as a dosage
// (0, 1 or 2 of an individual's haplotypes among its members) and the marker's
// ALT count, each scored by the score test of the null model; and the same
// for replicates drawn under that model, for a max-statistic permutation test.
// It reads the clusters the scan has just formed, and leaves the classic
// scores, and the classic replicates' random sequence, untouched.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "bit_row.h"
#include "covariate_model.h"
#include "dbscan.h"
#include "scan.h"

// The seed of the adjusted replicates' own generator (std::mt19937_64).
constexpr std::uint64_t kAdjustedReplicateSeed = 20261207;

struct AdjustedScanResult {
  // Per position: the largest cluster Z (case excess, higher trait), and the
  // Z of the marker's ALT count (signed); not a number where nothing is scored.
  std::vector<double> clusterZ, singleZ;
  // The positions of the largest cluster Z and of the largest |single Z|.
  BestPosition cluster, single;
  // Fractions of the replicates whose maximum over positions reaches the
  // observed one (the largest cluster Z, the largest |single Z|, each at least 0).
  std::optional<double> clusterP, singleP;
  // Per replicate, its maximum over positions of each (from 0), for the plot's threshold.
  std::vector<double> clusterMaxima, singleMaxima;
};

// What the adjusted scan of a row of positions leaves for the result: per
// position its Z, per replicate the largest Z over the row. Tallies of
// consecutive rows merge into the tally of both.
struct AdjustedTally {
  std::vector<double> clusterZ, singleZ;            // per position of the row
  std::vector<double> clusterMaxima, singleMaxima;  // per replicate: cluster Z, |single Z|, each at least 0
  // Appends the tally of the positions that follow these.
  void Merge(const AdjustedTally& later);
};

// The result of the whole scan from the tally of every position.
AdjustedScanResult ResultOf(const AdjustedTally& whole);

// -log10 of the two-sided normal p-value of a Z; not a number for one.
double TwoSidedMinusLog10P(double z);
// The same for every Z of a scan.
std::vector<double> TwoSidedMinusLog10P(const std::vector<double>& z);

class AdjustedScan {
 public:
  // haplotypeAlt: per marker, per haplotype 1 for ALT; cases: per individual
  // 1 for a case (case-control only); strata: per individual its stratum
  // (empty: one). Replicates: mode s, case labels drawn from the fitted
  // probabilities; mode q, residuals permuted among the individuals of a stratum.
  AdjustedScan(const NullModel& model, const std::vector<BitRow>& haplotypeAlt,
               const std::vector<double>& cases, const std::vector<int>& strata, int replicates);
  // Scores one clustered position. Safe to call from several threads at once,
  // each position once.
  void Score(const PositionState& s, int pos);
  // The positions from .. to-1, when only they were scored.
  AdjustedTally Tally(int from, int to) const;
  AdjustedScanResult Result() const;

 private:
  // Z of the observed data and of every replicate for one dosage.
  double ObservedZ(const HaplotypeBits& members, const DosageScore& score) const;
  void ReplicateZ(const HaplotypeBits& members, const DosageScore& score, std::vector<double>& z) const;

  const NullModel& model_;
  const std::vector<BitRow>& alt_;
  int replicates_ = 0;
  std::size_t words_ = 0;
  HaplotypeBits observedCases_;                // mode s: both haplotypes of each case
  std::vector<HaplotypeBits> replicateCases_;  // mode s, per replicate
  std::vector<double> replicateResiduals_;     // mode q: per individual its residual in each replicate
  // What refitting the null model would absorb, for the data and each replicate.
  std::vector<double> observedShift_;
  std::vector<std::vector<double>> replicateShift_;
  std::vector<double> clusterZ_, singleZ_;
  std::vector<double> clusterMaxima_, singleMaxima_;
  std::mutex mergeLock_;
};

// The scan's hook that scores each clustered position in the adjusted scan;
// none without one.
PositionClustered ScoringEachPosition(std::optional<AdjustedScan>& adjusting);
