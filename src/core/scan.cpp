#include "scan.h"

#include <omp.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>

#include "chisq.h"
#include "output_files.h"
#include "progress.h"

namespace {

constexpr double kNoClusterScore = -10000000.0;

double ChisqMinusLog10(double chi) { return -std::log10(qChisq(chi, 1)); }

// The pooled t statistics compare two groups of haplotypes, so their tail has
// num - 2 degrees of freedom; with fewer than one there is no p-value.
double StudentMinusLog10(double t, int haplotypes) {
  const int dof = haplotypes - 2;
  if (dof < 1) return std::numeric_limits<double>::quiet_NaN();
  return -std::log10(qStudentT(t, dof));
}

// The least of the machine's available memory, the cgroup limit and the
// address-space limit of the process.
std::uint64_t AvailableMemory() {
  std::uint64_t available = static_cast<std::uint64_t>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  while (meminfo >> key >> kib)
    if (key == "MemAvailable:") available = std::min(available, kib * 1024);
  std::ifstream cgroup("/sys/fs/cgroup/memory.max");
  std::uint64_t limit = 0;
  if (cgroup >> limit) available = std::min(available, limit);
  rlimit space;
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY)
    available = std::min<std::uint64_t>(available, space.rlim_cur);
  return available;
}

}  // namespace

// Only what the run will surely allocate from here on: the permutation
// labels, the marker tables and one clustering state. The window classes,
// and so the cost of a position, depend on the data and are not guessed at.
void CheckMemory(const CDataPoints& ds) {
  const std::uint64_t n = ds.data.size(), dim = ds.dim, setBytes = (n + 63) / 64 * sizeof(std::uint64_t);
  const std::uint64_t replicates = ds.permutationTimes > 0 ? ds.permutationTimes : 0;
  const std::uint64_t labels = replicates * (n * sizeof(int) + (ds.q ? 0 : setBytes));
  const std::uint64_t ldPairs = ds.weightFuntionClass == 3 ? dim * ds.curdim * sizeof(double) : 0;
  const std::uint64_t markerTables = dim * setBytes + ldPairs;
  // Per haplotype its class, its place among the class members, its label,
  // its core flag and at least one word of window key.
  const std::uint64_t clustering = n * (3 * sizeof(int) + 1 + sizeof(std::uint64_t));
  const std::uint64_t needed = labels + markerTables + clustering;
  const std::uint64_t available = AvailableMemory();
  if (needed <= available) return;
  auto gib = [](std::uint64_t bytes) {
    std::ostringstream s;
    s.precision(3);
    s << bytes / 1073741824.0 << " GiB";
    return s.str();
  };
  throw RunError("the run needs at least " + gib(needed) + " more memory (permutation labels " + gib(labels) +
                 ", marker tables " + gib(markerTables) + ", clustering " + gib(clustering) + ") but only " +
                 gib(available) + " is available");
}

namespace {

// Genetic distances of the positions from .. to-1 from the first marker: the
// intervals added one by one from the start, as a running total over the
// whole row would.
std::vector<double> GeneticDistances(const CDataPoints& ds, int from, int to) {
  double sum = 0;
  for (int k = 0; k < from; k++) sum += ds.markerIntervalDist[k];
  std::vector<double> distances;
  for (int pos = from; pos < to; pos++) {
    distances.push_back(sum);
    if (pos + 1 < ds.dim) sum += ds.markerIntervalDist[pos];
  }
  return distances;
}

// One position: cluster it, write its report block and results line, and
// offer its scores to the tally.
void ScanPosition(const CDataPoints& ds, PositionState& s, int pos, double geneticDistance, std::ostream& report,
                  ResultsLine& results, ScanTally& tally, const PositionClustered& clustered) {
  ClusterPosition(ds, s, pos);
  tally.positions++;
  if (!(s.epslion > 0)) tally.zeroRadius++;
  if (s.clusters.empty()) tally.noCluster++;

  results << geneticDistance;
  if (ds.q) {
    const double zscore = ds.WriteQTLScore(s, report);
    tally.cluster.Offer(pos, zscore);
    const TraitTests single = ds.StatScore(s, pos, ds.ObservedOrder());
    // A position without a cluster that has a t statistic keeps the starting
    // score -1e7; it has nothing to test, so p = 1.
    const double minusLogP = zscore == kNoClusterScore ? -std::log10(1.0) : StudentMinusLog10(zscore, ds.num);
    results << pos << zscore << minusLogP << single.T << single.WelthT << single.dofWelthT << single.U << single.Z;
    tally.single.Offer(pos, single.T);
    tally.singleU.Offer(pos, single.Z);
  } else {
    const double zscore = ds.Write(s, report);
    tally.cluster.Offer(pos, zscore);
    const double singleChiSQ = ds.ChiSQ(pos);
    const double singleMinusLogPvalue = singleChiSQ != 0 ? ChisqMinusLog10(singleChiSQ) : 0.0;
    tally.single.Offer(pos, singleChiSQ);
    results << pos << zscore << ChisqMinusLog10(zscore * zscore) << singleChiSQ << singleMinusLogPvalue;
  }
  ds.ScoreReplicates(s, tally.maxima);
  if (clustered) clustered(s, pos);
}

}  // namespace

void ClusterPosition(const CDataPoints& ds, PositionState& s, int pos) {
  ds.SetWindow(s, pos);
  if (ds.weightFuntionClass == 3)
    ds.CalculateDistUsingLD(s);
  else
    ds.CalculateDist(s);
  ds.DeterminEpslion(s);
  ds.DensityOfNB(s);
  ds.Reset(s);
  ds.ClusteringDBSCAN(s);
}

namespace {

ScanTally EmptyTally(const CDataPoints& ds) {
  ScanTally tally;
  tally.maxima = ReplicateMaxima(std::max(ds.permutationTimes, 0), ds.q);
  return tally;
}

// The number of processors this process may run on: its affinity mask,
// bounded by a cgroup CPU quota.
int AvailableCores() {
  cpu_set_t set;
  int cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  std::ifstream quota("/sys/fs/cgroup/cpu.max");
  std::string limit;
  long long period = 0;
  if (quota >> limit >> period && limit != "max" && period > 0) {
    const long long allowed = (std::stoll(limit) + period - 1) / period;
    if (allowed > 0 && allowed < cores) cores = static_cast<int>(allowed);
  }
  return std::max(cores, 1);
}

// The scan's results for a block of consecutive positions, kept until every
// earlier block has been written.
struct Block {
  std::string report;
  std::vector<ResultsLine> results;
  ScanTally tally;
  bool finished = false;
};

// A best position of the whole scan: the scan's start (position 0, score 0)
// unless a position scored at least as much.
BestPosition Final(const BestPosition& candidate) {
  BestPosition best{0, 0.0};
  if (candidate.pos >= 0 && candidate.score >= best.score) best = candidate;
  return best;
}

// Best positions are kept as doubles and written with the stream defaults.
double Position(const BestPosition& best) { return best.pos; }

double PermutationPValue(const std::vector<double>& maxima, double observed) {
  return maxima.empty() ? 0.0 : EmpiricalPValue(maxima, observed);
}

}  // namespace

void BestPosition::Offer(int p, double s) {
  if (pos < 0 ? !std::isnan(s) : s >= score) {
    pos = p;
    score = s;
  }
}

void ScanTally::Merge(const ScanTally& later) {
  for (auto [mine, theirs] : {std::pair{&cluster, &later.cluster}, std::pair{&single, &later.single},
                              std::pair{&singleU, &later.singleU}})
    if (theirs->pos >= 0) mine->Offer(theirs->pos, theirs->score);
  maxima.Merge(later.maxima);
  positions += later.positions;
  zeroRadius += later.zeroRadius;
  noCluster += later.noCluster;
}

void LoadInputs(CDataPoints& ds, const ScanRequest& request, std::vector<std::string>* phenotypeFields) {
  ds.q = request.quantitative ? 1 : 0;
  std::ifstream parameters = OpenInputFile(request.parameterFile, "parameter file");
  ds.ReadParameter(parameters, request.parameterFile);
  std::ifstream haplotypes = OpenInputFile(request.dataFile, "data file");
  ds.Read(haplotypes, request.intervalFile ? &*request.intervalFile : nullptr, 0, request.dataFile, phenotypeFields);
  CheckMemory(ds);
}

// The shuffles continue the random sequence of the imputation.
void Prepare(CDataPoints& ds) {
  ds.ImputeMissing();
  ds.DrawReplicates();
  ds.CalculateFreq();
  ds.LDdelta();
  if (ds.q) ds.UpdateAverage();
  if (ds.reportDetail == ReportDetail::kFull) ds.FormatMemberPrefixes();
}

// More threads than cores only share them, and more than work items idle; a
// very large team overflows the runtime's stack when it starts.
int ScanThreads(int requested, int workItems) {
  const int cores = AvailableCores();
  if (requested > cores)
    std::fprintf(stderr, "veltrane: note: %d threads asked for; using %d, the cores this process may use\n", requested,
                 cores);
  const int wanted = requested > 0 ? requested : std::getenv("OMP_NUM_THREADS") ? omp_get_max_threads() : cores;
  return std::max(std::min({wanted, cores, workItems}), 1);
}

// Positions are scanned in blocks by every thread, each with a clustering
// state of its own. The blocks are written, and their tallies merged, in
// position order by one thread at a time: the thread that finishes a block
// while nobody writes becomes the writer and writes every block that is next
// in order, while the others go on scanning. The kernel's copy of a large
// report then overlaps the scan instead of holding every thread at a lock.
ScanTally ScanPositions(const CDataPoints& ds, int from, int to, std::ostream& report, std::ostream& results,
                        const PositionDone& done, int threads, ResultsBlock* rows, const PositionClustered& clustered) {
  const int count = std::max(to - from, 0);
  const int blockSize = 4;
  const int blocks = (count + blockSize - 1) / blockSize;
  const std::vector<double> geneticDistance = GeneticDistances(ds, from, to);
  std::vector<Block> out(blocks);
  ScanTally tally = EmptyTally(ds);
  // Guarded by the lock: the blocks handed over, how many are written, the
  // writer's turn and the first failure.
  std::mutex lock;
  std::condition_variable drained;
  int written = 0;
  bool writing = false;
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
  const int team = ScanThreads(threads, blocks);
  // Written reports go back to the threads as the buffers of their next
  // blocks: a report is not allocated, faulted in and grown afresh each time.
  std::vector<std::string> spareReports;
  auto writeBlock = [&](Block& block, int b) {
    report << block.report;
    for (ResultsLine& line : block.results) {
      results << line.Text();
      if (rows) rows->AddRow(std::move(line.fields), std::move(line.values));
    }
    tally.Merge(block.tally);
    if (done)
      for (int pos = from + b * blockSize; pos < std::min(to, from + (b + 1) * blockSize); pos++) done(pos);
  };
  auto fail = [&](std::exception_ptr error) {
    if (!failure) failure = error;
    failed = true;
  };
  // The writer's turn: the blocks next in order, taken a batch at a time.
  auto writeReady = [&] {
    for (;;) {
      std::vector<Block> ready;
      int first = 0;
      {
        std::lock_guard<std::mutex> guard(lock);
        drained.notify_all();
        for (first = written; !failure && written < blocks && out[written].finished; written++)
          ready.push_back(std::move(out[written]));
        if (ready.empty()) {
          writing = false;
          return;
        }
      }
      try {
        for (std::size_t k = 0; k < ready.size(); k++) writeBlock(ready[k], first + static_cast<int>(k));
        std::lock_guard<std::mutex> guard(lock);
        for (Block& block : ready)
          if (spareReports.size() < static_cast<std::size_t>(2 * team)) spareReports.push_back(std::move(block.report));
      } catch (...) {
        std::lock_guard<std::mutex> guard(lock);
        fail(std::current_exception());
      }
    }
  };
#pragma omp parallel num_threads(team)
  {
    PositionState state;
#pragma omp for schedule(dynamic, 1)
    for (int b = 0; b < blocks; b++) {
      Block block;
      std::exception_ptr error;
      try {
        block.tally = EmptyTally(ds);
        {
          std::lock_guard<std::mutex> guard(lock);
          if (!spareReports.empty()) {
            block.report = std::move(spareReports.back());
            block.report.clear();
            spareReports.pop_back();
          }
        }
        std::ostringstream blockReport(std::move(block.report));
        for (int pos = from + b * blockSize; pos < std::min(to, from + (b + 1) * blockSize) && !failed; pos++)
          ScanPosition(ds, state, pos, geneticDistance[pos - from], blockReport, block.results.emplace_back(),
                       block.tally, clustered);
        block.report = std::move(blockReport).str();
        block.finished = true;
      } catch (...) {
        error = std::current_exception();
      }
      bool writer = false;
      {
        std::unique_lock<std::mutex> guard(lock);
        if (error) fail(error);
        if (!failure) {
          out[b] = std::move(block);
          writer = !writing;
          writing = true;
        }
        // Reports a writer cannot keep up with are not piled up in memory: a
        // thread waits once it is a block per thread ahead of the writer.
        if (!writer) drained.wait(guard, [&] { return !writing || failure || b - written < team; });
      }
      if (writer) writeReady();
    }
  }
  if (failure) std::rethrow_exception(failure);
  return tally;
}

const char* ResultsHeader(bool quantitative) {
  return quantitative ? "GeneticDistance\tMarkers\tQ-score\tMinusLog10Pvalue\tT\tWelthT\tDoFWelthT\tU\tZ\n"
                      : "GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\tSingleSNPMinusLogP\n";
}

std::vector<double> SummaryValues(bool quantitative, int haplotypes, const ScanTally& tally) {
  const BestPosition c = Final(tally.cluster), s = Final(tally.single), u = Final(tally.singleU);
  const double pValuePermu = PermutationPValue(tally.maxima.cluster, c.score);
  if (quantitative)
    return {Position(c), c.score, StudentMinusLog10(c.score, haplotypes), pValuePermu,
            Position(s), s.score, StudentMinusLog10(s.score, haplotypes), PermutationPValue(tally.maxima.singleT, s.score),
            Position(u), u.score, -std::log10(qNomral(u.score)), PermutationPValue(tally.maxima.singleZ, u.score)};
  return {Position(c), c.score, ChisqMinusLog10(c.score * c.score), pValuePermu,
          Position(s), s.score, ChisqMinusLog10(s.score)};
}

std::string SummaryLines(bool quantitative, int haplotypes, const ScanTally& tally) {
  std::ostringstream out;
  out << (quantitative ? "Veltrane:predicted_Pos\tpredicted_QScore\t-log(p)\tpermutation_p-Value\t"
                         "SingleSNP_predicted_Pos\tT statistic\t-log(p)\tpermutation_p-Value\t"
                         "MWU_predicted_Pos\tpredict_ZScore\t-log(p)\tpermutation_p-Value\t\n"
                       : "Veltrane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
                         "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n");
  const std::vector<double> values = SummaryValues(quantitative, haplotypes, tally);
  for (std::size_t k = 0; k < values.size(); k++) out << (k ? "\t" : "") << values[k];
  out << (quantitative ? "\t\n" : "\n");
  return out.str();
}

std::optional<double> FivePercentMaximum(const std::vector<double>& maxima) {
  std::vector<double> scored;
  for (double m : maxima)
    if (!std::isnan(m)) scored.push_back(m);
  if (scored.size() < 20) return std::nullopt;
  const std::size_t within = scored.size() / 20;  // replicates that may lie above the threshold
  std::nth_element(scored.begin(), scored.begin() + within, scored.end(), std::greater<>());
  return scored[within];
}

std::optional<double> PermutationThreshold(bool quantitative, int haplotypes, const ScanTally& tally) {
  const std::optional<double> score = FivePercentMaximum(tally.maxima.cluster);
  if (!score) return std::nullopt;
  return quantitative ? StudentMinusLog10(*score, haplotypes) : ChisqMinusLog10(*score * *score);
}

ResultsBlock EmptyResultsBlock(bool quantitative) {
  ResultsBlock block;
  block.quantitative = quantitative;
  std::string header = ResultsHeader(quantitative);
  header.pop_back();
  for (std::string_view column : SplitFields(header, "\t")) block.columns.emplace_back(column);
  return block;
}

template <class Number>
ResultsLine& ResultsLine::operator<<(Number value) {
  std::ostringstream text;
  text << value;
  fields.push_back(std::move(text).str());
  values.push_back(static_cast<double>(value));
  return *this;
}

std::string ResultsLine::Text() const {
  std::string line;
  for (const std::string& field : fields) (line += line.empty() ? "" : "\t") += field;
  return line + '\n';
}

std::vector<std::string> ScanWarnings(const ScanTally& tally) {
  std::vector<std::string> warnings;
  const std::string of = " of " + std::to_string(tally.positions) + " positions";
  if (tally.zeroRadius > 0)
    warnings.push_back("the radius was 0 at " + std::to_string(tally.zeroRadius) + of +
                       ", where no haplotype has a neighbour and a cluster is one haplotype at most; use a "
                       "fixed radius (radius mode 1) or a larger fraction");
  if (2 * tally.noCluster > tally.positions)
    warnings.push_back("no cluster formed at " + std::to_string(tally.noCluster) + of +
                       "; use a larger radius or a smaller density fraction");
  return warnings;
}

void PrintScanWarnings(const ScanTally& tally) {
  for (const std::string& warning : ScanWarnings(tally)) std::fprintf(stderr, "veltrane: warning: %s\n", warning.c_str());
}

void RunScan(const ScanRequest& request) {
  CDataPoints ds;
  LoadInputs(ds, request);
  InstallInterruptCleanup();
  OutputFiles files(request.resultsPath.empty() ? request.dataFile + "-results" : request.resultsPath,
                    request.reportPath);
  Prepare(ds);

  std::ostringstream results;
  results << ResultsHeader(ds.q);
  Progress progress("positions", ds.dim, !request.quiet);
  const ScanTally tally = ScanPositions(
      ds, 0, ds.dim, files.Report(), results,
      [&](int pos) {
        files.CheckReport();
        progress.Update(pos + 1);
      },
      request.threads);
  results << SummaryLines(ds.q, ds.num, tally);
  files.Commit(results.str());
  if (!request.quiet) PrintScanWarnings(tally);
}
