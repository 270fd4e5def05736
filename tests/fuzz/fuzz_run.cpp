// A whole run, in process, on tiny inputs: a mode byte ('s' or 'q', 'S' or
// 'Q' with an interval file; any other byte: bit 0 the trait mode, bit 1 the
// interval file), then the parameter, data and interval files separated by
// '|'. Runs of more than 30 haplotypes or markers or 5 replicates are skipped.
// In a scratch folder holding an earlier "output" and results file, the run
// must exit 0 or 1 and leave no temporary report; on 1 both earlier files stay
// byte for byte, on 0 the results file gains one whole block (a header, a line
// per marker, two summary lines). A fatal numerical error exits the process:
// libFuzzer keeps that input too, as no input this small should reach one.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dbscan.h"
#include "fuzz_common.h"

int VeltraneMain(int argc, char** argv);  // src/cmd/main.cpp, compiled with -Dmain=VeltraneMain

namespace {

constexpr int kMaxHaplotypes = 30;
constexpr int kMaxMarkers = 30;
constexpr int kMaxReplicates = 5;

const char kEarlierReport[] = "report of an earlier run\n";
const char kEarlierResults[] = "results of an earlier run\n";

std::string ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  fuzz::Require(static_cast<bool>(in), "both output files exist after the run");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool TemporaryReportLeft() {
  for (const auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().filename().string().rfind("output.tmp", 0) == 0) return true;
  return false;
}

// Works in the scratch folder while it lives.
struct InScratchFolder {
  const std::filesystem::path home = std::filesystem::current_path();
  InScratchFolder() { std::filesystem::current_path(fuzz::ScratchDir()); }
  ~InScratchFolder() { std::filesystem::current_path(home); }
};

// Reads the inputs the way the driver will; false if a reader rejects them.
bool Parse(CDataPoints& ds, bool trait, const std::vector<std::string>& parts, bool withIntervals) {
  ds.q = trait;
  try {
    std::istringstream p(parts[0]), d(parts[1]);
    const std::string intervals = "intervals.txt";
    ds.ReadParameter(p, "params.txt");
    ds.Read(d, withIntervals ? &intervals : nullptr, 0, "data.txt");
  } catch (const RunError&) {
    return false;
  }
  return true;
}

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const char mode = static_cast<char>(bytes[0]);
  bool trait = (mode & 1) != 0, withIntervals = (mode & 2) != 0;
  if (mode == 's' || mode == 'q' || mode == 'S' || mode == 'Q') {
    trait = mode == 'q' || mode == 'Q';
    withIntervals = mode == 'S' || mode == 'Q';
  }
  std::vector<std::string> parts = {std::string(fuzz::AsText(bytes + 1, size - 1))};
  for (int k = 0; k < 2; k++) {
    const std::size_t bar = std::min(parts.back().find('|'), parts.back().size());
    parts.push_back(parts.back().substr(std::min(bar + 1, parts.back().size())));
    parts[k].resize(bar);
  }

  const InScratchFolder scratch;
  fuzz::WriteFile("params.txt", parts[0]);
  fuzz::WriteFile("data.txt", parts[1]);
  fuzz::WriteFile("intervals.txt", parts[2]);
  // Only tiny runs; inputs the readers reject still run: the failure path is under test too.
  CDataPoints ds;
  const bool parsed = Parse(ds, trait, parts, withIntervals);
  if (parsed && (ds.num > kMaxHaplotypes || ds.dim > kMaxMarkers || ds.permutationTimes > kMaxReplicates))
    return -1;  // not worth keeping in the corpus
  fuzz::WriteFile("output", kEarlierReport);
  fuzz::WriteFile("data.txt-results", kEarlierResults);

  std::string a0 = "veltrane", a1 = trait ? "-q" : "-s", a2 = "data.txt", a3 = "params.txt", a4 = "intervals.txt";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
  srand(1);  // every run starts the unseeded random sequence afresh, as a process would
  const int status = VeltraneMain(withIntervals ? 5 : 4, argv);

  const std::string report = ReadWhole("output"), results = ReadWhole("data.txt-results");
  fuzz::Require(status == 0 || status == 1, "exit status 0 or 1");
  fuzz::Require(!TemporaryReportLeft(), "no temporary report left behind");
  if (status == 1) {
    fuzz::Require(report == kEarlierReport, "a failed run leaves the earlier report");
    fuzz::Require(results == kEarlierResults, "a failed run leaves the earlier results");
  } else {
    fuzz::Require(report != kEarlierReport, "a successful run replaces the report");
    const std::string earlier = kEarlierResults;
    fuzz::Require(results.rfind(earlier, 0) == 0, "a successful run keeps the earlier results");
    const std::string block = results.substr(earlier.size());
    fuzz::Require(block.rfind("GeneticDistance\tMarkers\t", 0) == 0, "the results block starts with its header");
    fuzz::Require(!block.empty() && block.back() == '\n', "the results block ends with a line break");
    fuzz::Require(parsed, "a successful run had inputs the readers accept");
    fuzz::Require(CountLines(block) == 1 + ds.dim + 2, "one results line per marker and two summary lines");
  }
  return 0;
}
