// The scan over marker positions, and the classic run built on it: read and
// check the inputs, prepare the markers, scan every position, then write the
// summary and put the output files in place.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "dbscan.h"
#include "results_file.h"

// What a classic run reads and writes.
struct ScanRequest {
  bool quantitative = false;
  std::string dataFile, parameterFile;
  std::optional<std::string> intervalFile;
  std::string reportPath = "output";
  std::string resultsPath;  // empty: the data file's name followed by "-results"
  int threads = 0;          // 0: OMP_NUM_THREADS, else every core the process may use
  bool quiet = false;       // neither warnings nor a progress line
};

// Reads the inputs into a data set and checks that the run fits in memory;
// phenotypeFields, when given, receives each haplotype's phenotype field.
void LoadInputs(CDataPoints& ds, const ScanRequest& request, std::vector<std::string>* phenotypeFields = nullptr);

// Missing alleles, the permutation shuffles and the marker tables: everything
// the positions share.
void Prepare(CDataPoints& ds);

// Clusters the haplotypes at one position, as the scan does.
void ClusterPosition(const CDataPoints& ds, PositionState& s, int pos);

// The best position of one statistic so far: the last position holding the
// largest score. A score that is not a number never counts.
struct BestPosition {
  int pos = -1;  // -1: none yet
  double score = 0.0;
  void Offer(int p, double s);
};

// What the scan of a row of positions leaves besides its report blocks and
// results lines. Tallies of consecutive rows merge into the tally of both.
struct ScanTally {
  // Cluster score; single-marker chi-square (mode s) or pooled T (mode q);
  // Mann-Whitney Z (mode q).
  BestPosition cluster, single, singleU;
  ReplicateMaxima maxima;
  int positions = 0, zeroRadius = 0, noCluster = 0;

  // Appends the tally of the positions that follow these.
  void Merge(const ScanTally& later);
};

// The results line of one position: its fields as the results file writes
// them (stream defaults), and the same values as numbers for the writers of a
// one-shot run.
struct ResultsLine {
  std::vector<std::string> fields;
  std::vector<double> values;
  template <class Number>
  ResultsLine& operator<<(Number value);
  // The line as the results file holds it, line end included.
  std::string Text() const;
};

// Called after each position, in position order, once its report block is written.
using PositionDone = std::function<void(int pos)>;

// Called on the scanning thread once a position is clustered and scored, in
// no set order; several calls may run at once.
using PositionClustered = std::function<void(const PositionState& s, int pos)>;

// The threads a scan of workItems blocks runs on: the count asked for, else
// OMP_NUM_THREADS when set, else every core the process may use; never more
// than the cores or the work items. A request beyond the cores is noted on
// standard error.
int ScanThreads(int requested, int workItems);

// Scans the positions from .. to-1 on ScanThreads(threads, blocks) threads, writing
// their report blocks and results lines in position order. The output does
// not depend on the thread count.
// When rows is given, the results lines are also added to it as marker lines;
// when clustered is, it sees every position's clusters.
ScanTally ScanPositions(const CDataPoints& ds, int from, int to, std::ostream& report, std::ostream& results,
                        const PositionDone& done, int threads = 0, ResultsBlock* rows = nullptr,
                        const PositionClustered& clustered = nullptr);

// The first line of a results block.
const char* ResultsHeader(bool quantitative);

// The values of the summary line of a results block: per statistic its best
// position, score, -log10 p and, for those the permutation test covers, the
// permutation p-value.
std::vector<double> SummaryValues(bool quantitative, int haplotypes, const ScanTally& tally);

// The two summary lines that end a results block, with the permutation
// p-values when there were replicates.
std::string SummaryLines(bool quantitative, int haplotypes, const ScanTally& tally);

// The score that 5% of the replicates' maxima (NaN: none) reach or pass: a
// score above it has a permutation p-value under 0.05. Nothing with fewer
// than 20 replicates.
std::optional<double> FivePercentMaximum(const std::vector<double>& maxima);

// -log10 p of the cluster score at the FivePercentMaximum of the permutation
// replicates' maxima.
std::optional<double> PermutationThreshold(bool quantitative, int haplotypes, const ScanTally& tally);

// An empty results block of the mode, with its columns, to be given to ScanPositions.
ResultsBlock EmptyResultsBlock(bool quantitative);

// Stops before the scan when the run would need more memory than the machine
// has, rather than being killed part-way.
void CheckMemory(const CDataPoints& ds);

// Warnings about parameters under which nothing could cluster; nothing when
// the scan clustered normally.
std::vector<std::string> ScanWarnings(const ScanTally& tally);
// The same on standard error, one "veltrane: warning:" line each.
void PrintScanWarnings(const ScanTally& tally);

// The whole classic run. Raises a RunError for bad inputs or unwritable outputs.
void RunScan(const ScanRequest& request);
