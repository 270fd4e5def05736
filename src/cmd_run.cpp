// veltrane run: convert, scan and report in one command. The scan is a
// classic run on the converted files, in a private folder; its files and the
// table, summary and plot made from them go into the output folder only when
// everything has succeeded.
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "conversion.h"
#include "dbscan.h"
#include "locus_plot.h"
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
    {{"radius", "MODE[,R]", "radius mode 1 (fixed radius R) or 2 (R: fraction of pairs) (default 1,0.5)"}, "radiusMode", "1,0.5"},
    {{"density", "F", "density fraction, 0 <= F < 1 (default 0.1)"}, "densityFraction", "0.1"},
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
  std::string text;  // the parameter file
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
  parameters.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  parameters.permutations = Permutations(parameters.text, path);
  return parameters;
}

// A private folder for the converted files and the classic run, removed at the end.
class StagingFolder {
 public:
  StagingFolder() {
    std::string pattern = (fs::temp_directory_path() / "veltrane-run.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw RunError(pattern + ": cannot create a temporary folder");
    path_ = pattern;
  }
  ~StagingFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  std::string operator/(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::vector<OptionSpec> RunOptions() {
  std::vector<OptionSpec> options = ConvertOptionSpecs();
  options.push_back({"params", "FILE", "a parameter file, instead of the parameter flags below"});
  for (const ParameterFlag& flag : kParameterFlags) options.push_back(flag.option);
  options.push_back({"out", "DIR", "the output folder (created if missing)"});
  return options;
}

}  // namespace

int RunCommand(int argc, char** argv) {
  CommandLine line("run", "--vcf FILE --pheno FILE [options] --out DIR",
                   "Converts, scans and reports in one go. Writes into DIR: output and results (as a classic run\n"
                   "on the converted files writes them), scan.tsv (every marker), summary.txt, scan.svg (the locus\n"
                   "plot), params.txt and markers.tsv.",
                   RunOptions());
  if (!line.Parse(argc, argv)) return 0;
  const ConvertOptions options = ReadConvertOptions(line);
  const std::string dir = line.Required("out");
  const Parameters parameters = ReadParameters(line);
  std::error_code error;
  if (fs::exists(dir, error) && !fs::is_directory(dir, error)) throw RunError(dir + ": the output folder is a file");
  const Conversion conversion = Convert(options);

  StagingFolder staging;
  WholeFiles inputs;
  inputs.Add(staging / "data.txt", [&](std::ostream& out) { WriteDataFile(conversion, out); });
  inputs.Add(staging / "intervals.txt", [&](std::ostream& out) { WriteIntervals(conversion, out); });
  inputs.Add(staging / "params.txt", [&](std::ostream& out) { out << parameters.text; });
  inputs.Commit();
  ScanRequest request;
  request.quantitative = options.quantitative;
  request.dataFile = staging / "data.txt";
  request.parameterFile = staging / "params.txt";
  request.intervalFile = staging / "intervals.txt";
  request.reportPath = staging / "output";
  request.resultsPath = staging / "results";
  request.threads = line.Threads();
  request.quiet = line.Quiet();
  RunScan(request);

  std::ifstream resultsFile = OpenInputFile(request.resultsPath, "results file");
  const ResultsBlock results = ReadLastResultsBlock(resultsFile, request.resultsPath);
  const MarkerTable markers = MarkerTableOf(conversion);
  fs::create_directories(dir, error);
  if (error) throw RunError(dir + ": cannot create the output folder: " + error.message());
  const fs::path out(dir);
  WholeFiles files;
  files.AddCopy(out / "output", request.reportPath);
  files.AddCopy(out / "results", request.resultsPath);
  files.Add(out / "scan.tsv", [&](std::ostream& s) { WriteScanTable(markers, results, s); });
  files.Add(out / "summary.txt", [&](std::ostream& s) {
    WriteSummary({options, conversion, markers, results, parameters.text, parameters.permutations}, s);
  });
  files.Add(out / "scan.svg", [&](std::ostream& s) { s << LocusPlotSvg(results, &markers, parameters.permutations); });
  files.Add(out / "params.txt", [&](std::ostream& s) { s << parameters.text; });
  files.Add(out / "markers.tsv", [&](std::ostream& s) { WriteMarkerTable(markers, s); });
  files.Commit();
  return 0;
}
