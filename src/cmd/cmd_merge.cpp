// veltrane merge: the part files of a data set, in any order, put together
// into the cluster report and results block of one whole run.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "commands.h"
#include "options.h"
#include "output_files.h"
#include "part_file.h"
#include "run_report.h"
#include "scan.h"
#include "text.h"
#include "whole_files.h"

namespace {

struct NamedPart {
  std::string path;
  Part part;
};

std::vector<NamedPart> ReadParts(const std::vector<std::string>& paths) {
  std::vector<NamedPart> parts;
  for (const std::string& path : paths) {
    std::ifstream in = OpenInputFile(path, "part file");
    parts.push_back({path, ReadPartFile(in, path)});
  }
  return parts;
}

// What differs between the inputs of two parts, or nothing when they match;
// the part the difference is against follows.
std::string Difference(const PartInputs& a, const PartInputs& b) {
  if (a.quantitative != b.quantitative) return "a scan in another mode than";
  if (a.individuals != b.individuals) return "a scan with another shuffle (--permute) than";
  if (a.data != b.data) return "a scan of other data than";
  if (a.parameters != b.parameters) return "a scan with other parameters than";
  if (a.intervals != b.intervals) return "a scan with other marker intervals than";
  if (a.covariates.has_value() != b.covariates.has_value())
    return a.covariates ? "a scan adjusted for covariates, mixed with the unadjusted scan of"
                        : "a scan without covariates, mixed with the covariate-adjusted scan of";
  if (a.covariates != b.covariates) return "a scan adjusted with another covariate file (--covar) than";
  if (a.covariateNames != b.covariateNames) return "a scan adjusted for other covariates (--covar-name) than";
  if (!(a == b)) return "a scan of another data set than";
  return "";
}

void CheckSameInputs(const std::vector<NamedPart>& parts) {
  for (const NamedPart& p : parts) {
    const std::string difference = Difference(p.part.inputs, parts.front().part.inputs);
    if (!difference.empty()) throw RunError(p.path + ": " + difference + " " + parts.front().path);
  }
}

// The adjusted scan of the parts, in position order; nothing without covariates.
std::optional<AdjustedScanResult> AdjustedOf(const std::vector<NamedPart>& parts) {
  if (!parts.front().part.adjusted) return std::nullopt;
  AdjustedTally whole = *parts.front().part.adjusted;
  for (std::size_t i = 1; i < parts.size(); i++) whole.Merge(*parts[i].part.adjusted);
  return ResultOf(whole);
}

const char* Shuffled(bool individuals) { return individuals ? "individuals" : "haplotypes"; }

// Asked for a shuffle (--permute), every part must have shuffled so.
void CheckShuffle(const std::vector<NamedPart>& parts, std::optional<bool> individuals) {
  if (!individuals) return;
  for (const NamedPart& p : parts)
    if (p.part.inputs.individuals != individuals)
      throw RunError(p.path + ": its replicates shuffled " + Shuffled(p.part.inputs.individuals) + ", not " +
                     Shuffled(*individuals) + " as --permute asks");
}

std::string Positions(int first, int last) {
  return first == last ? "position " + std::to_string(first)
                       : "positions " + std::to_string(first) + " to " + std::to_string(last);
}

// Puts the parts in position order and checks that they hold every position
// once. Parts of no position fit anywhere.
void SortAndCheckCoverage(std::vector<NamedPart>& parts) {
  std::stable_sort(parts.begin(), parts.end(), [](const NamedPart& a, const NamedPart& b) {
    return std::pair(a.part.from, a.part.to) < std::pair(b.part.from, b.part.to);
  });
  int covered = 0;
  const NamedPart* previous = nullptr;
  for (const NamedPart& p : parts) {
    if (p.part.from == p.part.to) continue;
    if (p.part.from > covered)
      throw RunError(p.path + ": no part holds " + Positions(covered, p.part.from - 1) +
                     ", just before this part's positions: a part is missing");
    if (p.part.from < covered)
      throw RunError(p.path + ": " + Positions(p.part.from, std::min(p.part.to, covered) - 1) + " are also in " +
                     previous->path + ": the parts overlap");
    covered = p.part.to;
    previous = &p;
  }
  const int markers = parts.front().part.inputs.markers;
  if (covered < markers)
    throw RunError((previous ? previous->path : parts.back().path) + ": no part holds " +
                   Positions(covered, markers - 1) + ", after this part's positions: a part is missing");
}

// The adjusted scan's permutation p-values as run's summary gives them; a
// line saying there are none without replicates.
void WriteAdjustedSummary(const AdjustedScanResult& adjusted, std::ostream& out) {
  if (adjusted.clusterP)
    WriteAdjustedPValues(adjusted, out);
  else
    out << "Adjusted permutation p-value: none, the parts drew no replicates\n";
}

void MakeFolder(const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) throw RunError(dir + ": cannot make the folder: " + error.message());
}

}  // namespace

int MergeCommand(int argc, char** argv) {
  CommandLine cl("merge", "--out DIR PART...",
                 "Puts the part files of one data set (from 'veltrane part'), given in any order, together\n"
                 "into DIR/output and DIR/results: the cluster report and the results block of one whole\n"
                 "run, byte for byte. Parts adjusted for covariates (part --covar) add DIR/adjusted-scan.tsv\n"
                 "and DIR/adjusted-summary.txt, the adjusted scan as 'veltrane run --covar' gives it. The\n"
                 "files are replaced whole, as 'veltrane run' replaces its folder's. Parts that miss or repeat\n"
                 "positions, or come from other data, parameters, shuffles or covariates, are refused.",
                 {{"out", "DIR", "the folder that receives 'output' and 'results' (made if missing)"},
                  {"permute", "individuals|haplotypes",
                   "refuse parts whose replicates shuffled otherwise (default: take the parts' shuffle)"},
                  {"quiet", nullptr, "no warnings"}});
  cl.AcceptOperands();
  if (!cl.Parse(argc, argv)) return 0;
  const std::string dir = cl.Required("out");
  if (cl.Operands().empty()) cl.Fail("no part file given");
  const std::optional<bool> individuals = cl.Has("permute") ? std::optional(cl.PermutesIndividuals()) : std::nullopt;

  std::vector<NamedPart> parts = ReadParts(cl.Operands());
  CheckShuffle(parts, individuals);
  CheckSameInputs(parts);
  SortAndCheckCoverage(parts);
  const PartInputs& inputs = parts.front().part.inputs;
  ScanTally tally = parts.front().part.tally;
  for (std::size_t i = 1; i < parts.size(); i++) tally.Merge(parts[i].part.tally);
  const std::optional<AdjustedScanResult> adjusted = AdjustedOf(parts);

  MakeFolder(dir);
  InstallInterruptCleanup();
  // As run does, the folder's two files are replaced whole: merging twice
  // gives the same folder.
  WholeFiles files;
  files.Add(dir + "/output", [&](std::ostream& out) {
    for (const NamedPart& p : parts) out << p.part.report;
  });
  files.Add(dir + "/results", [&](std::ostream& out) {
    out << ResultsHeader(inputs.quantitative);
    for (const NamedPart& p : parts) out << p.part.results;
    out << SummaryLines(inputs.quantitative, inputs.haplotypes, tally);
  });
  if (adjusted) {
    files.Add(dir + "/adjusted-scan.tsv", [&](std::ostream& out) { WriteAdjustedScanTable(*adjusted, out); });
    files.Add(dir + "/adjusted-summary.txt", [&](std::ostream& out) { WriteAdjustedSummary(*adjusted, out); });
  } else {
    // An earlier merge's adjusted scan is not this one's.
    files.Retire(dir + "/adjusted-scan.tsv");
    files.Retire(dir + "/adjusted-summary.txt");
  }
  files.Commit();
  if (!cl.Quiet())
    for (const std::string& warning : ScanWarnings(tally)) std::fprintf(stderr, "veltrane: warning: %s\n", warning.c_str());
  return 0;
}
