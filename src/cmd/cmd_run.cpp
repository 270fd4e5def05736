// veltrane run: convert, scan and report in one command. The data set is
// built in memory from the VCF, as a classic run on the converted files would
// read it; the scan's rows go to the writers of the results block, the table,
// the summary and the plot, and every file takes its place in the output
// folder only when all have been written.
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "adjusted_scan.h"
#include "bgzf_stream.h"
#include "commands.h"
#include "conversion.h"
#include "covariate_model.h"
#include "credible_set.h"
#include "risk_haplotype.h"
#include "data_set_builder.h"
#include "dbscan.h"
#include "locus_plot.h"
#include "output_files.h"
#include "progress.h"
#include "run_report.h"
#include "scan.h"
#include "whole_files.h"

namespace {

namespace fs = std::filesystem;

// One flag per group of the parameter file, in the file's order.
struct ParameterFlag {
  OptionSpec option;
  const char* label;  // the group's label in the parameter file
  const char* fallback;
};

const ParameterFlag kParameterFlags[] = {
    {{"radius", "MODE[,R]", "radius mode 1 (fixed radius R) or 2 (R: fraction of pairs) (default 1,0.3)"}, "radiusMode", "1,0.3"},
    {{"density", "F", "density fraction, 0 <= F < 1 (default 0.02)"}, "densityFraction", "0.02"},
    {{"window", "N", "window width in markers (default 21)"}, "windowWidth", "21"},
    {{"weights", "SCHEME[,P...]", "weighting scheme and its parameters (default 1,-30,1)"}, "weightScheme", "1,-30,1"},
    {{"permutations", "N", "permutation replicates; 0: no test (default 100)"}, "permutations", "100"},
    {{"threshold", "X", "report threshold of the cluster report (default 2.0)"}, "reportThreshold", "2.0"},
};

// Values that follow the radius mode or the weighting scheme in a parameter file.
std::size_t ValuesAfter(const char* flag, int first) {
  if (std::string_view(flag) == "radius") return first == 1 || first == 2 ? 1 : 0;
  if (std::string_view(flag) != "weights") return 0;
  switch (first) {
    case 1: case 2: case 6: return 2;
    case 3: return 1;
    case 4: case 5: return 4;
    default: return 0;
  }
}

struct Parameters {
  std::string text;    // the parameter file
  std::string source;  // where it came from, for messages
  int permutations = 0;
};

// Reads a parameter file's text with the reader of the classic run.
int Permutations(const std::string& text, const std::string& source) {
  CDataPoints ds;
  std::istringstream in(text);
  ds.ReadParameter(in, source);
  return ds.permutationTimes;
}

// The parameter file written from the flags, each value checked against its flag.
Parameters FromFlags(const CommandLine& line) {
  Parameters parameters;
  for (const ParameterFlag& flag : kParameterFlags) {
    const std::string name = flag.option.name, value = line.Value(name, flag.fallback);
    const std::vector<std::string_view> parts = SplitFields(value, ",");
    int first = 0;
    double number = 0;
    if (parts.empty() || (name != "density" && name != "threshold" ? !ParseInt(parts[0], first) : !ParseDouble(parts[0], number)))
      line.Fail("--" + name + " takes " + flag.option.value + ", not " + Quoted(value));
    if (parts.size() != 1 + ValuesAfter(flag.option.name, first))
      line.Fail("--" + name + " " + Quoted(value) + " needs " + std::to_string(ValuesAfter(flag.option.name, first)) +
                " value(s) after " + std::string(parts[0]));
    parameters.text += flag.label;
    for (std::string_view part : parts) (parameters.text += '\t') += part;
    parameters.text += "\n";
  }
  // Ranges are checked by the parameter-file reader; its line tells the flag.
  const std::string source = "flags";
  parameters.source = source;
  try {
    parameters.permutations = Permutations(parameters.text, source);
  } catch (const RunError& e) {
    const std::string message = e.what();
    unsigned group = 0;
    const auto [end, ec] = std::from_chars(message.data() + source.size() + 1, message.data() + message.size(), group);
    if (ec != std::errc() || group < 1 || group > std::size(kParameterFlags)) throw;
    line.Fail("--" + std::string(kParameterFlags[group - 1].option.name) + ": " + std::string(end + 2));
  }
  return parameters;
}

Parameters ReadParameters(const CommandLine& line) {
  if (!line.Has("params")) return FromFlags(line);
  for (const ParameterFlag& flag : kParameterFlags)
    if (line.Has(flag.option.name)) line.Fail("give --params or --" + std::string(flag.option.name) + ", not both");
  const std::string path = line.Value("params");
  std::ifstream in = OpenInputFile(path, "parameter file");
  Parameters parameters;
  parameters.source = path;
  parameters.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  parameters.permutations = Permutations(parameters.text, path);
  return parameters;
}

// The output folder, created if missing; a run that fails takes back a
// folder it created and left empty.
class OutputFolder {
 public:
  explicit OutputFolder(const std::string& dir) : path_(dir) {
    std::error_code error;
    if (fs::exists(path_, error) && !fs::is_directory(path_, error)) throw RunError(dir + ": the output folder is a file");
    created_ = fs::create_directories(path_, error);
    if (error) throw RunError(dir + ": cannot create the output folder: " + error.message());
  }
  ~OutputFolder() {
    std::error_code ignored;
    if (created_ && !kept_ && fs::is_empty(path_, ignored)) fs::remove(path_, ignored);
  }
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  void Keep() { kept_ = true; }
  std::string operator/(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
  bool created_ = false, kept_ = false;
};

// The cluster report of a run: in full (the classic layout), without member
// lines, or none; plain or bgzip-compressed.
struct ReportForm {
  ReportDetail detail = ReportDetail::kFull;
  bool compressed = false;
  // nullptr when there is no report to write.
  const char* FileName() const { return detail == ReportDetail::kNone ? nullptr : compressed ? "output.gz" : "output"; }
};

ReportForm ReadReportForm(const CommandLine& line) {
  ReportForm form;
  const std::string detail = line.Value("report", "full");
  if (detail == "clusters") form.detail = ReportDetail::kClusters;
  else if (detail == "none") form.detail = ReportDetail::kNone;
  else if (detail != "full") line.Fail("--report takes full, clusters or none, not " + Quoted(detail));
  form.compressed = line.Has("report-bgzip");
  if (form.compressed && form.detail == ReportDetail::kNone) line.Fail("--report-bgzip needs a report to compress");
  return form;
}

// What the scan hands to the writers.
struct ScanOutcome {
  ResultsBlock results;
  std::string resultsText;  // the results block as the classic run writes it
  std::optional<double> permutationThreshold;  // of the cluster score, for the plot
};

// Scans every position, writing the cluster report while it goes (into a
// file beside its final name, which the writers' commit puts in place).
ScanOutcome Scan(const CDataPoints& ds, const ReportForm& form, const OutputFolder& folder, const CommandLine& line,
                 WholeFiles& files, const PositionClustered& clustered) {
  std::unique_ptr<ReplacingFile> reportFile;
  std::optional<BgzfOstream> compressed;
  std::ostream nowhere(nullptr);
  std::ostream* report = &nowhere;
  if (form.detail != ReportDetail::kNone) {
    reportFile = std::make_unique<ReplacingFile>(folder / form.FileName(), "cluster report");
    report = &reportFile->Stream();
    if (form.compressed) report = &compressed.emplace(reportFile->Stream());
  }
  // A report an earlier run wrote in another form would pass for this run's.
  for (const char* name : {"output", "output.gz"})
    if (!form.FileName() || std::string(name) != form.FileName()) files.Retire(folder / name);
  ScanOutcome outcome{EmptyResultsBlock(ds.q), ResultsHeader(ds.q), std::nullopt};
  std::ostringstream results;
  Progress progress("positions", ds.dim, !line.Quiet());
  const ScanTally tally = ScanPositions(
      ds, 0, ds.dim, *report, results,
      [&](int pos) {
        if (reportFile) reportFile->Check();
        progress.Update(pos + 1);
      },
      line.Threads(), &outcome.results, clustered);
  if (compressed) compressed->Finish();
  if (reportFile) {
    reportFile->Check();
    files.Adopt(std::move(reportFile));
  }
  outcome.resultsText += results.str() + SummaryLines(ds.q, ds.num, tally);
  outcome.results.summary = SummaryValues(ds.q, ds.num, tally);
  outcome.permutationThreshold = PermutationThreshold(ds.q, ds.num, tally);
  if (!line.Quiet()) PrintScanWarnings(tally);
  return outcome;
}

std::vector<OptionSpec> RunOptions() {
  std::vector<OptionSpec> options = ConvertOptionSpecs();
  options.push_back({"params", "FILE", "a parameter file, instead of the parameter flags below"});
  for (const ParameterFlag& flag : kParameterFlags) options.push_back(flag.option);
  options.push_back(kPermuteOption);
  options.push_back({"within", "FILE",
                     "a stratum per individual (FID IID STRATUM, as PLINK's --within): replicates shuffle labels only "
                     "within a stratum"});
  options.push_back({"report", "full|clusters|none",
                     "the cluster report: in full, without member lines, or none (default full)"});
  options.push_back({"report-bgzip", nullptr, "write the report bgzip-compressed, as output.gz"});
  for (const OptionSpec& option : FineMapOptionSpecs()) options.push_back(option);
  options.push_back({"out", "DIR", "the output folder (created if missing)"});
  options.push_back({"build", "NAME", "the genome build of the positions, named on the plot (as GRCh38)"});
  options.push_back(kThreadsOption);
  options.push_back({"quiet", nullptr, "no progress line and no warnings"});
  return options;
}

// With covariates, the headline signal is the adjusted scan's: its cluster
// score's permutation p-value, or without replicates its smallest
// single-marker p times the markers.
Signal AdjustedSignal(const AdjustedScanResult& adjusted, std::size_t markers) {
  if (adjusted.clusterP) return {*adjusted.clusterP, true};
  if (adjusted.single.pos < 0) return {1, false};
  const double p = std::pow(10.0, -TwoSidedMinusLog10P(adjusted.single.score));
  return {std::min(1.0, p * static_cast<double>(markers)), false};
}

}  // namespace

int RunCommand(int argc, char** argv) {
  CommandLine line("run", "--vcf FILE --pheno FILE [options] --out DIR",
                   "Converts, scans and reports in one go. Writes into DIR: output (the cluster report) and\n"
                   "results (as a classic run on the converted files writes them), scan.tsv (every marker),\n"
                   "credible-set.tsv, risk-haplotype.tsv, summary.txt, scan.svg (the locus plot), params.txt and markers.tsv.",
                   RunOptions());
  if (!line.Parse(argc, argv)) return 0;
  ConvertOptions options = ReadConvertOptions(line);
  options.within = line.Value("within");
  const std::string dir = line.Required("out");
  const Parameters parameters = ReadParameters(line);
  const ReportForm form = ReadReportForm(line);
  const FineMapSettings fineMap = ReadFineMapSettings(line, options.quantitative);
  const bool permutesIndividuals = line.PermutesIndividuals();
  const Conversion conversion = Convert(options);

  CDataPoints ds;
  BuildDataSet(ds, conversion, parameters.text, parameters.source);
  CheckMemory(ds);
  ds.reportDetail = form.detail;
  if (permutesIndividuals) ds.permutationUnit = PermutationUnit::kIndividuals;
  InstallInterruptCleanup();
  OutputFolder folder(dir);
  Prepare(ds);
  std::optional<NullModel> model;
  std::optional<AdjustedScan> adjusting;
  if (!options.covar.empty()) {
    model = CovariateNullModel(conversion, options);
    adjusting.emplace(*model, conversion.genotypes.alt, PhenotypeValues(conversion), conversion.strata,
                      parameters.permutations);
  }
  WholeFiles files;
  const ScanOutcome scan = Scan(ds, form, folder, line, files, ScoringEachPosition(adjusting));
  const std::optional<AdjustedScanResult> adjusted =
      adjusting ? std::optional<AdjustedScanResult>(adjusting->Result()) : std::nullopt;

  const MarkerTable markers = MarkerTableOf(conversion);
  const std::vector<MarkerEffect> effects = MarkerEffects(conversion);
  const int individuals = static_cast<int>(conversion.genotypes.samples.size());
  const Signal signal = adjusted ? AdjustedSignal(*adjusted, markers.size())
                                 : SignalOf(scan.results, parameters.permutations, effects, ds.q, individuals);
  const FineMapping mapping = FineMap(conversion, effects, signal, fineMap);
  const std::optional<RiskHaplotype> risk = FindRiskHaplotype(ds, conversion, BestMarkers(scan.results)[0].marker);
  files.Add(folder / "results", [&](std::ostream& s) { s << scan.resultsText; });
  std::vector<TableColumn> added = adjusted ? AdjustedScanColumns(*adjusted) : std::vector<TableColumn>();
  added.push_back({"PIP", mapping.pip});
  files.Add(folder / "scan.tsv", [&](std::ostream& s) { WriteScanTable(markers, scan.results, added, s); });
  files.Add(folder / "credible-set.tsv", [&](std::ostream& s) { WriteCredibleSet(conversion, mapping, s); });
  files.Add(folder / "risk-haplotype.tsv", [&](std::ostream& s) { WriteRiskHaplotype(conversion, risk, s); });
  files.Add(folder / "summary.txt", [&](std::ostream& s) {
    WriteSummary({options, conversion, markers, scan.results, parameters.text, parameters.permutations, mapping, risk,
                  permutesIndividuals, form.FileName(), adjusted ? &*adjusted : nullptr}, s);
  });
  const LocusPlotOptions plot{parameters.permutations, scan.permutationThreshold, &conversion.genotypes.alt,
                              line.Value("build"), mapping.set, adjusted ? &*adjusted : nullptr,
                              conversion.covariateLabel};
  files.Add(folder / "scan.svg", [&](std::ostream& s) { s << LocusPlotSvg(scan.results, &markers, plot); });
  files.Add(folder / "params.txt", [&](std::ostream& s) { s << parameters.text; });
  files.Add(folder / "markers.tsv", [&](std::ostream& s) { WriteMarkerTable(markers, s); });
  files.Commit();
  folder.Keep();
  return 0;
}
