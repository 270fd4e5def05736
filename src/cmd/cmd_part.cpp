// veltrane part: the scan of a row of positions, written as a part file for
// veltrane merge. It reads and prepares the whole data set, so that the
// imputation, the replicate shuffles and the genetic distances are those of
// a whole run.
#include <algorithm>
#include <optional>
#include <sstream>

#include "adjusted_inputs.h"
#include "adjusted_scan.h"
#include "commands.h"
#include "options.h"
#include "output_files.h"
#include "part_file.h"
#include "progress.h"
#include "scan.h"
#include "text.h"

namespace {

struct PositionRange {
  int from = 0, to = 0;
};

CommandLine PartCommandLine() {
  return CommandLine(
      "part", "--data FILE --params FILE [--intervals FILE] [--mode s|q] [--permute U] [--covar FILE] (--from A --to B | --chunk K --chunks N) --out FILE",
      "Scans the positions A to B-1 (numbered from 0, as in the results file), or the K-th of N\n"
      "chunks of even size, and writes a part file. 'veltrane merge' puts the part files of all\n"
      "positions together into the 'output' and results block of one whole run. A replicate\n"
      "shuffles individuals, the haplotypes that share an identifier, unless --permute haplotypes.\n"
      "With --covar, the part holds the covariate-adjusted scan of its positions too.",
      {{"data", "FILE", "the haplotype data file"},
       {"params", "FILE", "the parameter file"},
       {"intervals", "FILE", "the marker-interval file (optional, as in the classic run)"},
       {"mode", "s|q", "s: case-control (default), q: quantitative trait"},
       kPermuteOption,
       {"covar", "FILE", "the covariates of each identifier of the data file (PREFIX.covar.tsv of veltrane convert --covar)"},
       {"covar-name", "NAMES", "the covariates, as PC1-PC4,AGE (default: every column after the ids)"},
       {"from", "A", "first position of the part (default 0)"},
       {"to", "B", "the position after the last (default: the number of markers)"},
       {"chunk", "K", "the chunk to scan, from 1 to N"},
       {"chunks", "N", "the number of chunks the positions are split into"},
       {"out", "FILE", "the part file to write"},
       kThreadsOption,
       {"quiet", nullptr, "no progress line"}});
}

ScanRequest RequestOf(const CommandLine& cl) {
  ScanRequest request;
  request.quantitative = cl.Quantitative();
  request.dataFile = cl.Required("data");
  request.parameterFile = cl.Required("params");
  if (cl.Has("intervals")) request.intervalFile = cl.Value("intervals");
  request.threads = cl.Threads();
  request.quiet = cl.Quiet();
  return request;
}

// Checks the choice of positions before any file is read.
void CheckRangeOptions(const CommandLine& cl) {
  const bool byChunk = cl.Has("chunk") || cl.Has("chunks");
  if (byChunk && (cl.Has("from") || cl.Has("to"))) cl.Fail("give --from and --to, or --chunk and --chunks, not both");
  if (!byChunk) return;
  const int k = cl.Integer("chunk", 0), n = cl.Integer("chunks", 0);
  if (n < 1 || k < 1 || k > n) cl.Fail("--chunk K --chunks N need 1 <= K <= N");
}

PositionRange RangeOf(const CommandLine& cl, int markers, const std::string& dataFile) {
  if (cl.Has("chunk")) {
    const long long k = cl.Integer("chunk", 1), n = cl.Integer("chunks", 1);
    return {static_cast<int>((k - 1) * markers / n), static_cast<int>(k * markers / n)};
  }
  const PositionRange range{cl.Integer("from", 0), cl.Integer("to", markers)};
  const std::string markersOf = dataFile + " has " + std::to_string(markers) + " markers, positions 0 to " +
                                std::to_string(markers - 1) + "; --to " + std::to_string(markers) + " ends at the last";
  if (range.from < 0 || range.from > markers)
    throw RunError("--from " + std::to_string(range.from) + " is not a position (" + markersOf + ")");
  if (range.to > markers) throw RunError("--to " + std::to_string(range.to) + " is past the end (" + markersOf + ")");
  if (range.to < range.from)
    throw RunError("--to " + std::to_string(range.to) + " is before --from " + std::to_string(range.from));
  return range;
}

// The covariate table and its columns.
struct CovariateChoice {
  std::string file;
  std::vector<std::string> names;
};

PartInputs InputsOf(const ScanRequest& request, const CDataPoints& ds, const std::optional<CovariateChoice>& covariates) {
  PartInputs inputs;
  inputs.quantitative = request.quantitative;
  inputs.individuals = ds.permutationUnit == PermutationUnit::kIndividuals;
  inputs.data = FileChecksum(request.dataFile, "data file");
  inputs.parameters = FileChecksum(request.parameterFile, "parameter file");
  if (request.intervalFile) inputs.intervals = FileChecksum(*request.intervalFile, "marker-interval file");
  if (covariates) {
    inputs.covariates = FileChecksum(covariates->file, "covariate file");
    inputs.covariateNames = covariates->names;
  }
  inputs.markers = ds.dim;
  inputs.haplotypes = ds.num;
  inputs.replicates = std::max(ds.permutationTimes, 0);
  return inputs;
}

std::optional<AdjustedInputs> ReadCovariatesOf(const CommandLine& cl, const CDataPoints& ds,
                                               const std::vector<std::string>& phenotypeFields,
                                               const std::string& dataFile) {
  if (!cl.Has("covar")) return std::nullopt;
  const std::string file = cl.Value("covar");
  std::ifstream in = OpenInputFile(file, "covariate file");
  return ReadAdjustedInputs(ds, phenotypeFields, dataFile, in, file, cl.Value("covar-name"));
}

}  // namespace

int PartCommand(int argc, char** argv) {
  CommandLine cl = PartCommandLine();
  if (!cl.Parse(argc, argv)) return 0;
  const ScanRequest request = RequestOf(cl);
  const std::string out = cl.Required("out");
  CheckRangeOptions(cl);
  if (cl.Has("covar-name") && !cl.Has("covar")) cl.Fail("--covar-name needs --covar");

  CDataPoints ds;
  if (cl.PermutesIndividuals()) ds.permutationUnit = PermutationUnit::kIndividuals;
  std::vector<std::string> phenotypeFields;
  LoadInputs(ds, request, cl.Has("covar") ? &phenotypeFields : nullptr);
  Part part;
  const PositionRange range = RangeOf(cl, ds.dim, request.dataFile);
  part.from = range.from;
  part.to = range.to;
  const std::optional<AdjustedInputs> covariates = ReadCovariatesOf(cl, ds, phenotypeFields, request.dataFile);
  std::optional<NullModel> model;
  // Fitted on every person, so that every part of the data set fits the same
  // model and draws the same replicates.
  if (covariates)
    model = FitNullModel(covariates->phenotypes, covariates->covariates, covariates->names, ds.q == 0, cl.Value("covar"));
  part.inputs = InputsOf(request, ds,
                         covariates ? std::optional<CovariateChoice>({cl.Value("covar"), covariates->names}) : std::nullopt);
  InstallInterruptCleanup();
  ReplacingFile file(out, "part file");
  Prepare(ds);
  std::vector<BitRow> alt;
  std::optional<AdjustedScan> adjusting;
  if (model) {
    alt = HaplotypeAlt(ds);
    adjusting.emplace(*model, alt, covariates->phenotypes, std::vector<int>(), ds.permutationTimes);
  }

  std::ostringstream report, results;
  Progress progress("positions", part.to - part.from, !request.quiet);
  part.tally = ScanPositions(
      ds, part.from, part.to, report, results, [&](int pos) { progress.Update(pos + 1 - part.from); }, request.threads,
      nullptr, ScoringEachPosition(adjusting));
  part.report = report.str();
  part.results = results.str();
  if (adjusting) part.adjusted = adjusting->Tally(part.from, part.to);
  WritePart(file.Stream(), part);
  file.Commit();
  return 0;
}
