// veltrane plot: the locus plot of an existing results file.
#include <fstream>

#include "commands.h"
#include "locus_plot.h"
#include "options.h"
#include "text.h"
#include "whole_files.h"

int PlotCommand(int argc, char** argv) {
  CommandLine line("plot", "--results FILE [--markers FILE] --out FILE.svg",
                   "Draws the locus plot of the last block of a results file: -log10 p of the single-marker tests\n"
                   "the summary names (with the recombination rate, given a marker table) above, of the cluster\n"
                   "score below, the genome-wide line (p = 5e-8) and the predicted marker in both.",
                   {{"results", "FILE", "a results file (its last block is drawn)"},
                    {"markers", "FILE", "the marker table (convert's PREFIX.markers.tsv): positions in Mb on the x "
                                        "axis (default: marker indices)"},
                    {"out", "FILE.svg", "the plot"},
                    {"build", "NAME", "the genome build of the positions, named on the x axis (as GRCh38)"},
                    {"quiet", nullptr, "accepted, as by every command that writes files; plot writes no notes"}});
  if (!line.Parse(argc, argv)) return 0;
  const std::string resultsPath = line.Required("results"), outPath = line.Required("out");
  std::ifstream resultsFile = OpenInputFile(resultsPath, "results file");
  const ResultsBlock results = ReadLastResultsBlock(resultsFile, resultsPath);
  std::optional<MarkerTable> markers;
  if (line.Has("markers")) {
    const std::string path = line.Value("markers");
    std::ifstream in = OpenInputFile(path, "marker table");
    markers = ReadMarkerTable(in, path);
    if (markers->size() != results.rows.size())
      throw RunError(path + ": " + std::to_string(markers->size()) + " markers, but the results block has " +
                     std::to_string(results.rows.size()));
  }
  LocusPlotOptions options;
  options.build = line.Value("build");
  WholeFiles files;
  files.Add(outPath, [&](std::ostream& out) { out << LocusPlotSvg(results, markers ? &*markers : nullptr, options); });
  files.Commit();
  return 0;
}
