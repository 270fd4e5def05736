// The readers of users' files on arbitrary bytes. Byte 0 picks the reader:
// the row of kReaders with that letter, else the byte modulo the row count
// (FUZZ_READER=<letter> pins one row). Byte 1 is a setting the row may use;
// the rest is the file, handed over by name. Every reader must accept the file
// with the values its row checks, or raise a one-line RunError naming the
// file. A new reader is one row.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "adjusted_inputs.h"
#include "covariates.h"
#include "dbscan.h"
#include "fuzz_common.h"
#include "genetic_map.h"
#include "locus_plot.h"
#include "marker_table.h"
#include "part_file.h"
#include "phenotypes.h"
#include "results_file.h"
#include "strata.h"
#include "vcf_reader.h"

namespace {

using fuzz::Require;

// Decimal integer text: an optional sign and at least one digit, nothing else.
bool IsIntegerText(std::string_view token) {
  if (!token.empty() && (token.front() == '+' || token.front() == '-')) token.remove_prefix(1);
  return !token.empty() && token.find_first_not_of("0123456789") == std::string_view::npos;
}

// Parameter file. The tokens that are integers (radius mode, window, scheme,
// permutations) must be written as integers: walk them independently.
void Parameters(std::uint8_t, const std::string& path, std::string_view text) {
  CDataPoints ds;
  std::ifstream in = OpenInputFile(path, "parameter file");
  ds.ReadParameter(in, path);
  Require(ds.minNumPtspercentile >= 0.0 && ds.minNumPtspercentile < 1.0, "density fraction in [0, 1)");
  Require(ds.curdim >= 1, "window width at least 1");
  Require(std::isfinite(ds.epslion) && std::isfinite(ds.epslionpercentile), "finite radius");
  Require(std::isfinite(ds.zsocreT), "finite report threshold");
  for (double p : ds.weightFuntionParm) Require(std::isfinite(p), "finite weighting parameters");
  const double p0 = ds.weightFuntionParm[0];
  Require(ds.weightFuntionClass != 3 || p0 == 1.0 || p0 == 2.0 || p0 == 3.0, "scheme 3 takes 1, 2 or 3");
  const std::vector<std::string_view> t = SplitFields(text, " \t\n\r\v\f");
  auto integer = [&t](std::size_t i) {
    if (i >= t.size()) return 0L;
    Require(IsIntegerText(t[i]), "an integer of an accepted parameter file is written as one");
    return std::strtol(std::string(t[i]).c_str(), nullptr, 10);
  };
  static const int kSchemeParameters[] = {0, 2, 2, 1, 4, 4, 2};
  const long mode = integer(1);
  const std::size_t window = (mode == 1 || mode == 2 ? 3 : 2) + 3;
  integer(window);
  const long scheme = integer(window + 2);
  integer(window + 4 + (scheme >= 0 && scheme <= 6 ? kSchemeParameters[scheme] : 0));
}

// Data file; the setting's bit 0 is the trait mode, the rest the window width.
void Data(std::uint8_t setting, const std::string& path, std::string_view text) {
  CDataPoints ds;
  ds.q = setting & 1;
  ds.curdim = 1 + (setting >> 1);
  std::ifstream in = OpenInputFile(path, "data file");
  ds.Read(in, nullptr, 0, path);
  Require(ds.num >= 1 && ds.num == static_cast<int>(ds.data.size()) && ds.numberIndividuals == ds.num, "counts");
  Require(ds.dim >= 1 && ds.curdim >= 1 && ds.curdim <= ds.dim, "window clamped to the markers");
  int cases = 0;
  for (const CMyPoint& point : ds.data) {
    Require(std::isfinite(point.traitvalue) && (!ds.q || point.affected == 0), "finite traits, no trait-mode cases");
    cases += point.affected;
  }
  Require(ds.q ? ds.nCase == 0 && ds.nCont == 0 : cases == ds.nCase && ds.nCase + ds.nCont == ds.num, "groups");
  Require(ds.markerIntervalDist == std::vector<double>(ds.dim - 1, 0.0001), "default intervals");
  // Every identifier and allele of an accepted line is written as an integer.
  std::size_t at = text.find('\n');
  for (int line = 0; line < ds.num; line++) {
    const std::size_t end = std::min(text.find('\n', at + 1), text.size());
    std::string_view row = text.substr(at + 1, end - at - 1);
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    const std::vector<std::string_view> f = SplitFields(row, " ,\t");
    Require(f.size() == static_cast<std::size_t>(ds.dim) + 2, "accepted line has id, phenotype, alleles");
    for (std::size_t k = 0; k < f.size(); k++)
      Require(k == 1 || IsIntegerText(f[k]), "the identifier and alleles of an accepted line are integers");
    // The packed alleles give back the alleles of the line.
    for (int k = 0; k < ds.dim; k++) {
      int allele = -1;
      Require(ParseInt(f[k + 2], allele) && ds.Allele(line, k) == allele, "the alleles read are those written");
    }
    at = end;
  }
}

// Marker-interval file for 1 + setting % 64 markers.
void Intervals(std::uint8_t setting, const std::string& path, std::string_view) {
  CDataPoints ds;
  ds.dim = 1 + setting % 64;
  ds.ReadIntervalDist(&path);
  Require(ds.markerIntervalDist.size() == static_cast<std::size_t>(ds.dim - 1), "dim - 1 intervals");
  for (double d : ds.markerIntervalDist) Require(std::isfinite(d), "finite intervals");
}

// The readers of the VCF commands and of part files: whatever they accept,
// they accept whole; the plot of an accepted results block is drawn too.
template <class Read>
void ReadStream(const std::string& path, const char* what, Read read) {
  std::ifstream in = OpenInputFile(path, what);
  read(in);
}
void Phenotypes(std::uint8_t setting, const std::string& path, std::string_view) {
  ReadStream(path, "phenotype file", [&](std::istream& in) { ReadPhenotypes(in, path, setting & 1, ""); });
}
void GeneticMapFile(std::uint8_t, const std::string& path, std::string_view) {
  ReadStream(path, "genetic map", [&](std::istream& in) {
    const GeneticMap map = ReadGeneticMap(in, path, "20");
    for (long long bp : {0LL, 1000LL, 2500000LL}) map.CentiMorgans(bp);
  });
}
void MarkerIds(std::uint8_t, const std::string& path, std::string_view) {
  ReadStream(path, "marker list", [&](std::istream& in) { ReadMarkerIds(in, path); });
}
void MarkerTableFile(std::uint8_t, const std::string& path, std::string_view) {
  ReadStream(path, "marker table", [&](std::istream& in) { ReadMarkerTable(in, path); });
}
void ResultsFile(std::uint8_t, const std::string& path, std::string_view) {
  ReadStream(path, "results file", [&](std::istream& in) {
    Require(!LocusPlotSvg(ReadLastResultsBlock(in, path), nullptr, LocusPlotOptions{}).empty(), "a plot of an accepted block");
  });
}
// Covariate file; the setting picks the columns asked for.
void CovariateFile(std::uint8_t setting, const std::string& path, std::string_view) {
  static const char* const kColumns[] = {"", "PC1-PC2", "COV1,COV2", "PC2,PC1"};
  ReadStream(path, "covariate file", [&](std::istream& in) {
    const Covariates c = ReadCovariates(in, path, kColumns[setting % 4]);
    Require(!c.names.empty() && !c.label.empty(), "columns chosen");
    for (const auto& [sample, values] : c.values) {
      Require(values.size() == c.names.size() && c.incomplete.count(sample) == 0, "one value per column");
      for (double v : values) Require(std::isfinite(v) && v != -9, "finite values, -9 missing");
    }
  });
}
void WithinFile(std::uint8_t, const std::string& path, std::string_view) {
  ReadStream(path, "within file", [&](std::istream& in) {
    for (const auto& [sample, stratum] : ReadStrata(in, path).of)
      Require(!sample.empty() && !stratum.empty() && stratum != "NA", "a named stratum per sample placed");
  });
}
// The covariate table of a data file (part --covar) joined to a data file of
// four people, identifiers 1 to 4; setting bit 0 is the trait mode, the rest
// picks the columns asked for.
void DataFileCovariates(std::uint8_t setting, const std::string& path, std::string_view) {
  static const char* const kColumns[] = {"", "PC1-PC2", "COV1", "PC2,AGE"};
  CDataPoints ds;
  ds.q = setting & 1;
  std::istringstream data(ds.q ? "ID Status 1 2\n1 1.5 1 2\n1 1.5 2 2\n2 -2 1 1\n2 -2 2 1\n3 0.25 1 2\n3 0.25 1 1\n4 7 2 2\n4 7 1 2\n"
                                : "ID Status 1 2\n1 a 1 2\n1 a 2 2\n2 u 1 1\n2 u 2 1\n3 u 1 2\n3 u 1 1\n4 a 2 2\n4 a 1 2\n");
  std::vector<std::string> fields;
  ds.Read(data, nullptr, 0, "data.txt", &fields);
  ReadStream(path, "covariate file", [&](std::istream& in) {
    const AdjustedInputs inputs = ReadAdjustedInputs(ds, fields, "data.txt", in, path, kColumns[(setting >> 1) % 4]);
    Require(inputs.covariates.size() == 4 && inputs.phenotypes.size() == 4, "a row per person");
    for (const std::vector<double>& row : inputs.covariates) {
      Require(row.size() == inputs.names.size(), "one value per column");
      for (double v : row) Require(std::isfinite(v), "finite values");
    }
    Require(inputs.phenotypes[2] == (ds.q ? 0.25 : 0), "the phenotype of the data file's lines");
  });
}
void PartFile(std::uint8_t, const std::string& path, std::string_view) {
  ReadStream(path, "part file", [&](std::istream& in) { ReadPartFile(in, path); });
}

struct Reader {
  char letter;
  const char* file;
  void (*read)(std::uint8_t setting, const std::string& path, std::string_view text);
};
constexpr Reader kReaders[] = {
    {'p', "params.txt", Parameters},
    {'d', "data.txt", Data},
    {'i', "intervals.txt", Intervals},
    {'h', "pheno.txt", Phenotypes},
    {'g', "map.txt", GeneticMapFile},
    {'m', "ids.txt", MarkerIds},
    {'t', "markers.tsv", MarkerTableFile},
    {'r', "data.txt-results", ResultsFile},
    {'a', "chunk.part", PartFile},
    {'c', "covariates.txt", CovariateFile},
    {'w', "within.txt", WithinFile},
    {'j', "data.covar.tsv", DataFileCovariates},
};

const Reader& Pick(std::uint8_t byte) {
  static const char* pinned = std::getenv("FUZZ_READER");
  const char letter = pinned && *pinned ? *pinned : static_cast<char>(byte);
  for (const Reader& reader : kReaders)
    if (reader.letter == letter) return reader;
  return kReaders[byte % std::size(kReaders)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) return 0;
  const Reader& reader = Pick(bytes[0]);
  const std::string path = fuzz::ScratchDir() + "/" + reader.file;
  const std::string_view text = fuzz::AsText(bytes + 2, size - 2);
  fuzz::WriteFile(path, text);
  try {
    reader.read(bytes[1], path, text);
  } catch (const RunError& e) {
    const std::string message = e.what();
    Require(message.rfind(path + ":", 0) == 0, "an error names the file");
    Require(message.find_first_of("\n\r") == std::string::npos, "an error is one line");
  }
  return 0;
}
