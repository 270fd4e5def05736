// veltrane convert: a phased VCF/BCF, phenotypes and genetic positions to the
// data, interval and marker files of a classic run.
#include <cstdio>

#include "commands.h"
#include "conversion.h"
#include "marker_table.h"
#include "whole_files.h"

int ConvertCommand(int argc, char** argv) {
  std::vector<OptionSpec> options = ConvertOptionSpecs();
  options.push_back({"out", "PREFIX",
                     "writes PREFIX.data.txt, PREFIX.intervals.txt and PREFIX.markers.tsv (and with --covar "
                     "PREFIX.covar.tsv)"});
  options.push_back({"quiet", nullptr, "no progress line, and no counts of what was converted and left out"});
  CommandLine line("convert", "--vcf FILE --pheno FILE [options] --out PREFIX",
                   "Converts phased genotypes and phenotypes to the data file, the marker-interval file (cM) and "
                   "the marker table\nof a classic run (veltrane -s|-q PREFIX.data.txt params.txt "
                   "PREFIX.intervals.txt); with --covar, the covariates\nof the people kept, keyed by their "
                   "identifiers in the data file, for veltrane part --covar.",
                   options);
  if (!line.Parse(argc, argv)) return 0;
  const ConvertOptions convert = ReadConvertOptions(line);
  const std::string prefix = line.Required("out");
  const Conversion conversion = Convert(convert);
  // Covariates that run would refuse are refused before anything is written.
  if (!convert.covar.empty()) CovariateNullModel(conversion, convert);

  WholeFiles files;
  files.Add(prefix + ".data.txt", [&](std::ostream& out) { WriteDataFile(conversion, out); });
  files.Add(prefix + ".intervals.txt", [&](std::ostream& out) { WriteIntervals(conversion, out); });
  files.Add(prefix + ".markers.tsv", [&](std::ostream& out) { WriteMarkerTable(MarkerTableOf(conversion), out); });
  if (!convert.covar.empty())
    files.Add(prefix + ".covar.tsv", [&](std::ostream& out) { WriteCovariateTable(conversion, out); });
  files.Commit();
  if (!line.Quiet()) {
    std::fprintf(stderr, "veltrane: %zu markers of %zu individuals\n", conversion.genotypes.markers.size(),
                 conversion.genotypes.samples.size());
    for (const std::string& note : ConversionNotes(conversion)) std::fprintf(stderr, "veltrane: left out %s\n", note.c_str());
    if (conversion.outsideMap > 0) std::fprintf(stderr, "veltrane: %s\n", OutsideMapNote(conversion.outsideMap).c_str());
  }
  return 0;
}
