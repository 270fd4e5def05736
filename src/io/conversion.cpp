#include "conversion.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <unordered_map>

#include "covariates.h"
#include "genetic_map.h"
#include "phenotypes.h"
#include "strata.h"
#include "text.h"

namespace {

long long MicroCm(double cm) { return std::llround(cm * 1e6); }

// Genetic positions from the map, the rate or INFO/CM, in that order of preference.
std::vector<long long> GeneticPositions(const ConvertOptions& options, const std::vector<Marker>& markers,
                                        std::string& from, int& outsideMap) {
  std::vector<long long> positions;
  if (!options.geneticMap.empty()) {
    std::istringstream text(ReadMaybeGzipped(options.geneticMap, "genetic map"));
    const GeneticMap map = ReadGeneticMap(text, options.geneticMap, markers.front().chrom);
    for (const Marker& m : markers) {
      positions.push_back(MicroCm(map.CentiMorgans(m.pos)));
      outsideMap += !map.Covers(m.pos);
    }
    from = "the genetic map " + options.geneticMap;
    if (outsideMap > 0) from += " (" + OutsideMapNote(outsideMap) + ")";
  } else if (options.cmPerMb) {
    for (const Marker& m : markers) positions.push_back(MicroCm(*options.cmPerMb * m.pos / 1e6));
    from = CentiMorgans(MicroCm(*options.cmPerMb)) + " cM per Mb";
  } else {
    for (const Marker& m : markers) {
      if (!m.infoCm)
        throw RunError(options.vcf + ": " + Site(m) +
                       ": no genetic position (INFO/CM); give --genetic-map FILE or --cm-per-mb R");
      positions.push_back(MicroCm(*m.infoCm));
    }
    from = "INFO/CM of " + options.vcf;
  }
  for (std::size_t k = 1; k < positions.size(); k++)
    if (positions[k] < positions[k - 1])
      throw RunError(options.vcf + ": " + Site(markers[k]) + ": genetic position " + CentiMorgans(positions[k]) +
                     " cM is below the " + CentiMorgans(positions[k - 1]) + " cM of " + Site(markers[k - 1]));
  return positions;
}

std::string Plural(long count, const std::string& what) {
  return Grouped(count) + " " + what + (count == 1 ? "" : "s");
}

std::optional<Covariates> ReadCovariateFile(const ConvertOptions& options) {
  if (options.covar.empty()) return std::nullopt;
  std::ifstream in = OpenInputFile(options.covar, "covariate file");
  return ReadCovariates(in, options.covar, options.covarNames);
}

std::optional<Strata> ReadWithinFile(const ConvertOptions& options) {
  if (options.within.empty()) return std::nullopt;
  std::ifstream in = OpenInputFile(options.within, "within file");
  return ReadStrata(in, options.within);
}

// Numbers the strata of the kept samples in the order they first come.
void NumberStrata(Conversion& conversion, const Strata& strata) {
  std::unordered_map<std::string, int> number;
  for (const std::string& sample : conversion.genotypes.samples) {
    const auto [at, added] = number.emplace(strata.of.at(sample), static_cast<int>(number.size()));
    conversion.strata.push_back(at->second);
  }
  conversion.strataCount = static_cast<int>(number.size());
}

// A scan compares cases with controls, or individuals of different traits.
void CheckPhenotypesVary(const Conversion& conversion, const ConvertOptions& options) {
  const std::string kept = std::to_string(conversion.phenotypes.size()) + " individuals kept";
  if (!conversion.quantitative) {
    if (conversion.cases == 0 || conversion.controls == 0)
      throw RunError(options.pheno + ": all " + kept + " are " + (conversion.cases ? "cases" : "controls") +
                     "; a case-control scan needs both");
    return;
  }
  double first = 0, value = 0;
  ParseDouble(conversion.phenotypes.front(), first);
  for (const std::string& trait : conversion.phenotypes)
    if (ParseDouble(trait, value) && value != first) return;
  throw RunError(options.pheno + ": the trait is " + conversion.phenotypes.front() + " in all " + kept +
                 "; a quantitative scan needs it to vary");
}

}  // namespace

std::vector<OptionSpec> ConvertOptionSpecs() {
  return {
      {"vcf", "FILE", "phased genotypes: VCF, bgzipped VCF or BCF"},
      {"pheno", "FILE", "phenotypes: PLINK .fam, or a table with a header line #IID ..."},
      {"mode", "s|q", "s: case-control (1 control, 2 case), q: quantitative trait (default s)"},
      {"pheno-name", "NAME", "the phenotype column of a table (default: the first after the ids)"},
      {"genetic-map", "FILE", "genetic map (pos chr cM, PLINK .map or HapMap; may be gzipped)"},
      {"cm-per-mb", "R", "genetic positions at a uniform R cM per Mb (default: INFO/CM of the VCF)"},
      {"region", "CHROM:FROM-TO", "only the records of this region (through the index when there is one)"},
      {"snps-only", nullptr, "only SNPs (single-base REF and ALT)"},
      {"min-maf", "F", "only markers with a minor-allele frequency of at least F"},
      {"min-mac", "N", "only markers whose minor allele is on at least N haplotypes (default 1: no monomorphic "
                       "markers; 0 keeps them)"},
      {"include-ids", "FILE", "only the marker IDs listed in FILE, one per line"},
      {"covar", "FILE",
       "covariates of a scan adjusted for them (PLINK 2 table such as .eigenvec, or PLINK 1 covariate file); people missing one are left out"},
      {"covar-name", "NAMES", "the covariates, as PC1-PC4,AGE (default: every column after the ids)"},
  };
}

ConvertOptions ReadConvertOptions(const CommandLine& line) {
  ConvertOptions options;
  options.vcf = line.Required("vcf");
  options.pheno = line.Required("pheno");
  options.quantitative = line.Quantitative();
  options.phenoName = line.Value("pheno-name");
  options.geneticMap = line.Value("genetic-map");
  options.includeIds = line.Value("include-ids");
  if (line.Has("genetic-map") && line.Has("cm-per-mb")) line.Fail("give --genetic-map or --cm-per-mb, not both");
  if (line.Has("cm-per-mb")) {
    options.cmPerMb = line.Number("cm-per-mb", 0);
    if (*options.cmPerMb < 0) line.Fail("--cm-per-mb must not be negative");
  }
  if (line.Has("region")) {
    options.filters.region = ParseRegion(line.Value("region"));
    if (!options.filters.region) line.Fail("--region takes CHROM or CHROM:FROM-TO, not " + Quoted(line.Value("region")));
  }
  options.filters.snpsOnly = line.Has("snps-only");
  options.filters.minMaf = line.Number("min-maf", 0);
  if (options.filters.minMaf < 0 || options.filters.minMaf > 0.5) line.Fail("--min-maf takes a number from 0 to 0.5");
  options.filters.minMac = line.Integer("min-mac", 1);
  if (options.filters.minMac < 0) line.Fail("--min-mac must not be negative");
  options.covar = line.Value("covar");
  options.covarNames = line.Value("covar-name");
  if (line.Has("covar-name") && !line.Has("covar")) line.Fail("--covar-name needs --covar");
  options.showProgress = !line.Quiet();
  return options;
}

Conversion Convert(const ConvertOptions& options) {
  Conversion conversion;
  conversion.quantitative = options.quantitative;
  std::ifstream phenoFile = OpenInputFile(options.pheno, "phenotype file");
  const Phenotypes phenotypes = ReadPhenotypes(phenoFile, options.pheno, options.quantitative, options.phenoName);
  std::unordered_set<std::string> ids;
  VcfFilters filters = options.filters;
  if (!options.includeIds.empty()) {
    std::ifstream idFile = OpenInputFile(options.includeIds, "marker ID list");
    ids = ReadMarkerIds(idFile, options.includeIds);
    filters.ids = &ids;
  }
  const std::optional<Covariates> covariates = ReadCovariateFile(options);
  const std::optional<Strata> strata = ReadWithinFile(options);
  conversion.genotypes = ReadVcf(options.vcf, filters, [&](const std::string& sample) {
    if (phenotypes.values.count(sample) == 0) {
      conversion.missingPhenotypeInVcf += phenotypes.missingSamples.count(sample) > 0;
      return false;
    }
    const bool complete = !covariates || covariates->values.count(sample) > 0;
    conversion.missingCovariate += !complete;
    const bool placed = !complete || !strata || strata->of.count(sample) > 0;
    conversion.missingStratum += !placed;
    return complete && placed;
  }, options.showProgress);
  const Genotypes& genotypes = conversion.genotypes;
  if (genotypes.samples.empty())
    throw RunError(options.vcf + ": none of its " + std::to_string(genotypes.samplesInFile) +
                   " samples has a phenotype in " + options.pheno +
                   (covariates ? " and every covariate in " + options.covar : "") +
                   (strata ? " and a stratum in " + options.within : ""));
  if (genotypes.markers.empty()) throw RunError(options.vcf + ": no record is left to convert after the filters");

  conversion.microCm = GeneticPositions(options, genotypes.markers, conversion.positionsFrom, conversion.outsideMap);
  for (const std::string& sample : genotypes.samples) {
    conversion.phenotypes.push_back(phenotypes.values.at(sample));
    (conversion.phenotypes.back() == "a" ? conversion.cases : conversion.controls)++;
    if (covariates) conversion.covariates.push_back(covariates->values.at(sample));
  }
  if (covariates) {
    conversion.covariateNames = covariates->names;
    conversion.covariateLabel = covariates->label;
  }
  if (strata) NumberStrata(conversion, *strata);
  CheckPhenotypesVary(conversion, options);
  conversion.phenotypeColumn = phenotypes.column + " of " + options.pheno;
  conversion.missingPhenotype = phenotypes.missing;
  conversion.absentSamples = static_cast<int>(phenotypes.values.size() - genotypes.samples.size()) -
                             conversion.missingCovariate - conversion.missingStratum;
  return conversion;
}

std::vector<double> PhenotypeValues(const Conversion& conversion) {
  std::vector<double> values;
  for (const std::string& field : conversion.phenotypes) {
    double value = field == "a" ? 1 : 0;
    if (conversion.quantitative) ParseDouble(field, value);
    values.push_back(value);
  }
  return values;
}

NullModel CovariateNullModel(const Conversion& conversion, const ConvertOptions& options) {
  return FitNullModel(PhenotypeValues(conversion), conversion.covariates, conversion.covariateNames,
                      !options.quantitative, options.covar);
}

void WriteDataFile(const Conversion& conversion, std::ostream& out) {
  const std::size_t markers = conversion.genotypes.markers.size();
  out << "ID\tStatus";
  for (std::size_t k = 1; k <= markers; k++) out << '\t' << k;
  out << '\n';
  std::string line;
  for (std::size_t h = 0; h < 2 * conversion.genotypes.samples.size(); h++) {
    line = std::to_string(h / 2 + 1) + '\t' + conversion.phenotypes[h / 2];
    for (const BitRow& alt : conversion.genotypes.alt) {
      line += '\t';
      line += alt[h] ? '2' : '1';
    }
    line += '\n';
    out << line;
  }
}

void WriteIntervals(const Conversion& conversion, std::ostream& out) {
  const std::vector<long long>& cm = conversion.microCm;
  for (std::size_t k = 1; k < cm.size(); k++) out << (k > 1 ? "\t" : "") << CentiMorgans(cm[k] - cm[k - 1]);
  out << '\n';
}

void WriteCovariateTable(const Conversion& conversion, std::ostream& out) {
  out << "#IID";
  for (const std::string& name : conversion.covariateNames) out << '\t' << name;
  out << '\n';
  char text[32];
  for (std::size_t i = 0; i < conversion.covariates.size(); i++) {
    out << i + 1;  // the identifier of both haplotypes in the data file
    for (double value : conversion.covariates[i]) {
      const auto end = std::to_chars(text, text + sizeof text, value).ptr;
      (out << '\t').write(text, end - text);
    }
    out << '\n';
  }
}

std::string OutsideMapNote(int markers) {
  return Plural(markers, "marker") + " beyond the map's ends, placed at the rate of its outermost interval";
}

std::string CentiMorgans(long long microCm) {
  char text[48];
  std::snprintf(text, sizeof text, "%s%lld.%06lld", microCm < 0 ? "-" : "", std::llabs(microCm) / 1000000,
                std::llabs(microCm) % 1000000);
  std::string shown = text;
  shown.erase(shown.find_last_not_of('0') + 1);
  if (shown.back() == '.') shown.pop_back();
  return shown;
}

std::vector<std::string> ConversionNotes(const Conversion& conversion) {
  const Genotypes& g = conversion.genotypes;
  const SkippedRecords& s = g.skipped;
  std::vector<std::string> notes;
  auto note = [&notes](long count, const std::string& what) {
    if (count > 0) notes.push_back(what);
  };
  note(s.noAlt, Plural(s.noAlt, "record") + " without an ALT allele");
  note(s.multiAllelic, Plural(s.multiAllelic, "multi-allelic record"));
  note(s.symbolic, Plural(s.symbolic, "record") + " with a symbolic ALT allele (<DEL>, *)");
  note(s.repeated, Plural(s.repeated, "record") + " repeating the position and alleles of the record before");
  note(s.notSnp, Plural(s.notSnp, "record") + " other than SNPs (--snps-only)");
  note(s.notListed, Plural(s.notListed, "record") + " whose ID is not listed (--include-ids)");
  note(g.idsNotFound, Plural(g.idsNotFound, "listed ID") + " (--include-ids) that no record read has");
  note(s.monomorphic, Plural(s.monomorphic, "monomorphic marker") + " (--min-mac 0 keeps them)");
  note(s.fewMinor, Plural(s.fewMinor, "record") + " below the minor-allele count (--min-mac)");
  note(s.rare, Plural(s.rare, "record") + " below the minor-allele frequency (--min-maf)");
  const long unphenotyped =
      g.samplesInFile - static_cast<long>(g.samples.size()) - conversion.missingCovariate - conversion.missingStratum -
      conversion.missingPhenotypeInVcf;
  note(unphenotyped, Plural(unphenotyped, "VCF sample") + " not in the phenotype file");
  note(conversion.missingPhenotype,
       Plural(conversion.missingPhenotype, "sample") + " of the phenotype file with a missing phenotype");
  note(conversion.missingCovariate, Plural(conversion.missingCovariate, "sample") +
                                        " with a missing covariate (NA, -9, empty, or no line in the covariate file)");
  note(conversion.missingStratum,
       Plural(conversion.missingStratum, "sample") + " without a stratum (NA, empty, or no line in the within file)");
  note(conversion.absentSamples, Plural(conversion.absentSamples, "sample") + " with a phenotype but not in the VCF");
  return notes;
}
