// Entry point and scan driver: read and check the inputs, prepare the
// markers, scan every position, then write the summary and put the output
// files in place.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <optional>
#include <sstream>
#include <string>

#include "chisq.h"
#include "dbscan.h"
#include "output_files.h"

namespace {

int PrintUsage(const char* caseControlLine) {
  std::fputs("USAGE: Veltrane.exe -option datafile parameterfile [interDistFile]\n\n", stdout);
  std::fputs("options:\n", stdout);
  std::fputs(caseControlLine, stdout);
  std::fputs("q:\tQTL mapping\n", stdout);
  return 2;
}

// Best positions of the scan and their permutation p-values.
struct Predictions {
  double predictPos = 0, predictZScore = 0;
  double SpredictPos = 0, SpredictZScore = 0;
  double SpredictPosU = 0, SpredictZScoreU = 0;
  double pValuePermu = 0, pValuePermuT = 0, pValuePermuZ = 0;
};

// Greater or equal: among equal scores the later position wins, and a score
// that is not a number never does.
void KeepBest(double& bestPos, double& bestScore, int pos, double score) {
  if (score >= bestScore) {
    bestPos = pos;
    bestScore = score;
  }
}

double ChisqMinusLog10(double chi) { return -std::log10(qChisq(chi, 1)); }

// The pooled t statistics compare two groups of haplotypes, so their tail has
// num - 2 degrees of freedom; with fewer than one there is no p-value.
double StudentMinusLog10(double t, int haplotypes) {
  const int dof = haplotypes - 2;
  if (dof < 1) return std::numeric_limits<double>::quiet_NaN();
  return -std::log10(qStudentT(t, dof));
}

void ReadInputs(CDataPoints& ds, int argc, char** argv) {
  const std::string dataFile = argv[2], parameterFile = argv[3];
  std::optional<std::string> intervalFile;
  if (argc == 5) intervalFile = argv[4];
  std::ifstream parameters = OpenInputFile(parameterFile, "parameter file");
  ds.ReadParameter(parameters, parameterFile);
  std::ifstream haplotypes = OpenInputFile(dataFile, "data file");
  ds.Read(haplotypes, intervalFile ? &*intervalFile : nullptr, 0, dataFile);
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

// Stops before the scan when the run would need more memory than the machine
// has, rather than being killed part-way.
void CheckMemory(const CDataPoints& ds) {
  const std::uint64_t n = ds.data.size(), dim = ds.dim;
  const std::uint64_t replicates = ds.permutationTimes > 0 ? ds.permutationTimes : 0;
  const std::uint64_t pairTables = 4 * dim * dim * sizeof(double);  // three frequency tables and the LD matrix
  const std::uint64_t distances = n * n * sizeof(double);           // at most one class per haplotype
  const std::uint64_t labels = replicates * n * sizeof(int) + 3 * replicates * sizeof(double);
  const std::uint64_t alleles = n * dim * sizeof(int);
  const std::uint64_t needed = pairTables + distances + labels + alleles;
  const std::uint64_t available = AvailableMemory();
  if (needed <= available) return;
  auto gib = [](std::uint64_t bytes) {
    std::ostringstream s;
    s.precision(3);
    s << bytes / 1073741824.0 << " GiB";
    return s.str();
  };
  throw RunError("the run needs about " + gib(needed) + " of memory (marker-pair tables " + gib(pairTables) +
                 ", distances " + gib(distances) + ", permutation labels " + gib(labels) +
                 ") but only " + gib(available) + " is available");
}

// Missing alleles, then the permutation shuffles (which continue the same
// random sequence), then the frequency and LD tables.
void Prepare(CDataPoints& ds) {
  ds.ImputeMissing();
  ds.DrawReplicates();
  ds.CalculateFreq();
  ds.LDdelta();
}

void ScanPosition(CDataPoints& ds, int pos, std::ostream& report, std::ostream& results, Predictions& best) {
  ds.SetWindow(pos);
  if (ds.weightFuntionClass == 3)
    ds.CalculateDistUsingLD(pos);
  else
    ds.CalculateDist(pos);
  ds.DeterminEpslion();
  ds.DensityOfNB(pos);
  ds.Reset();
  ds.ClusteringDBSCAN();

  if (ds.q) {
    ds.UpdateAverage();
    const double zscore = ds.WriteQTLScore(report, pos);
    KeepBest(best.predictPos, best.predictZScore, pos, zscore);
    const TraitTests single = ds.StatScore(pos, ds.ObservedOrder());
    results << pos << '\t' << zscore << '\t' << StudentMinusLog10(zscore, ds.num) << '\t' << single.T << '\t'
            << single.WelthT << '\t' << single.dofWelthT << '\t' << single.U << '\t' << single.Z << '\n';
    KeepBest(best.SpredictPos, best.SpredictZScore, pos, single.T);
    KeepBest(best.SpredictPosU, best.SpredictZScoreU, pos, single.Z);
  } else {
    const double zscore = ds.Write(report, pos);
    KeepBest(best.predictPos, best.predictZScore, pos, zscore);
    const double singleChiSQ = ds.ChiSQ(pos);
    const double singleMinusLogPvalue = singleChiSQ != 0 ? ChisqMinusLog10(singleChiSQ) : 0.0;
    KeepBest(best.SpredictPos, best.SpredictZScore, pos, singleChiSQ);
    results << pos << '\t' << zscore << '\t' << ChisqMinusLog10(zscore * zscore) << '\t' << singleChiSQ << '\t'
            << singleMinusLogPvalue << '\n';
  }
  ds.ScoreReplicates(pos);
}

void WriteSummary(const CDataPoints& ds, const Predictions& b, std::ostream& results) {
  if (ds.q) {
    results << "Veltrane:predicted_Pos\tpredicted_QScore\t-log(p)\tpermutation_p-Value\t"
               "SingleSNP_predicted_Pos\tT statistic\t-log(p)\tpermutation_p-Value\t"
               "MWU_predicted_Pos\tpredict_ZScore\t-log(p)\tpermutation_p-Value\t\n"
            << b.predictPos << '\t' << b.predictZScore << '\t' << StudentMinusLog10(b.predictZScore, ds.num)
            << '\t' << b.pValuePermu << '\t' << b.SpredictPos << '\t' << b.SpredictZScore << '\t'
            << StudentMinusLog10(b.SpredictZScore, ds.num) << '\t' << b.pValuePermuT << '\t' << b.SpredictPosU
            << '\t' << b.SpredictZScoreU << '\t' << -std::log10(qNomral(b.SpredictZScoreU)) << '\t'
            << b.pValuePermuZ << "\t\n";
  } else {
    results << "Veltrane:predicted_Pos\tpredict_ZScore\t-LogPvalue\tpermutation_p-Value\t"
               "Single SNP:predicted_Pos\tpredict_ZScore\t-LogPvalue\n"
            << b.predictPos << '\t' << b.predictZScore << '\t' << ChisqMinusLog10(b.predictZScore * b.predictZScore)
            << '\t' << b.pValuePermu << '\t' << b.SpredictPos << '\t' << b.SpredictZScore << '\t'
            << ChisqMinusLog10(b.SpredictZScore) << '\n';
  }
}

}  // namespace

int DBScan(int argc, char** argv) {
  CDataPoints ds;
  ds.q = argv[1][1] == 'q' ? 1 : 0;
  ReadInputs(ds, argc, argv);
  CheckMemory(ds);

  InstallInterruptCleanup();
  OutputFiles files(std::string(argv[2]) + "-results");
  Prepare(ds);

  std::ostringstream results;
  results << (ds.q ? "GeneticDistance\tMarkers\tQ-score\tMinusLog10Pvalue\tT\tWelthT\tDoFWelthT\tU\tZ\n"
                   : "GeneticDistance\tMarkers\tZ-score\ttMinusLog10Pvalue\tSingleSNPChiSQ\tSingleSNPMinusLogP\n")
          << 0 << '\t';
  Predictions best;
  double sum = 0;
  for (int pos = 0; pos < ds.dim; pos++) {
    ScanPosition(ds, pos, files.Report(), results, best);
    files.CheckReport();
    if (pos == ds.dim - 1) break;
    sum += ds.markerIntervalDist[pos];
    results << sum << '\t';
  }
  if (ds.permutationTimes > 0)
    ds.PermutationTests(static_cast<int>(best.predictPos), best.predictZScore, best.pValuePermu,
                        static_cast<int>(best.SpredictPos), best.SpredictZScore, best.pValuePermuT,
                        static_cast<int>(best.SpredictPosU), best.SpredictZScoreU, best.pValuePermuZ);
  WriteSummary(ds, best, results);
  files.Commit(results.str());
  return 0;
}

int main(int argc, char** argv) {
  if (argc <= 3) return PrintUsage("s:\tsingle gene model\n");
  if (std::strlen(argv[1]) < 2 || (argv[1][1] != 'q' && argv[1][1] != 's')) return PrintUsage("s:\tsingle gene\n");
  try {
    return DBScan(argc, argv);
  } catch (const RunError& e) {
    std::fprintf(stderr, "veltrane: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "veltrane: out of memory\n");
  }
  return 1;
}
