// From a phased VCF/BCF, a phenotype file and genetic positions to the
// haplotype data file, the marker-interval file and the marker table of a
// classic run. Shared by the convert and run commands.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "covariate_model.h"
#include "options.h"
#include "vcf_reader.h"

struct ConvertOptions {
  std::string vcf, pheno, phenoName, geneticMap, includeIds;
  bool quantitative = false;
  std::optional<double> cmPerMb;
  VcfFilters filters;
  bool showProgress = true;
  // Covariates of an adjusted scan: the file (empty: none) and its columns
  // (empty: all); samples without all of them are left out.
  std::string covar, covarNames;
  // Strata of the permutation replicates (empty: none); samples without one are left out.
  std::string within;
};

// The input options of convert and run, covariates included.
std::vector<OptionSpec> ConvertOptionSpecs();
// Reads them from a parsed command line; a value out of range is a UsageError.
ConvertOptions ReadConvertOptions(const CommandLine& line);

struct Conversion {
  bool quantitative = false;
  Genotypes genotypes;
  std::vector<std::string> phenotypes;  // per kept sample: its data-file field
  std::vector<long long> microCm;       // per marker: genetic position in millionths of a cM
  std::string positionsFrom;            // where the genetic positions came from, for people
  std::string phenotypeColumn;          // where the phenotypes came from, for people
  int missingPhenotype = 0;             // samples of the phenotype file without a phenotype
  int missingPhenotypeInVcf = 0;        // those of them in the VCF, so not counted again as unphenotyped
  int absentSamples = 0;                // samples with a phenotype that the VCF lacks
  int outsideMap = 0;                   // markers beyond the genetic map's ends
  int cases = 0, controls = 0;          // individuals, in case-control mode
  // With covariates: their names and label ("PC1-PC4"), and per kept sample its values.
  std::vector<std::string> covariateNames;
  std::string covariateLabel;
  std::vector<std::vector<double>> covariates;
  int missingCovariate = 0;  // samples with a phenotype left out for a missing covariate
  // With a within file: per kept sample its stratum, numbered from 0 in the
  // order of their first kept sample, and the number of strata.
  std::vector<int> strata;
  int strataCount = 0;
  int missingStratum = 0;  // samples with a phenotype and covariates left out for want of a stratum
};

// Reads and checks every input. Raises a RunError for a bad input.
Conversion Convert(const ConvertOptions& options);

// Per kept individual: 1 for a case and 0 for a control, or the trait.
std::vector<double> PhenotypeValues(const Conversion& conversion);

// The null model of the covariates converted; raises the RunError that names
// the covariate file for a covariate that is constant, collinear or separates
// cases from controls.
NullModel CovariateNullModel(const Conversion& conversion, const ConvertOptions& options);

void WriteDataFile(const Conversion& conversion, std::ostream& out);
void WriteIntervals(const Conversion& conversion, std::ostream& out);
// The covariates of the people kept, keyed by their identifiers in the data
// file: a header "#IID NAME...", then one tab-separated line per person, each
// value in the shortest decimal that reads back as the same double.
void WriteCovariateTable(const Conversion& conversion, std::ostream& out);

// A genetic position or distance in cM: "7.10763" for 7107630 millionths.
std::string CentiMorgans(long long microCm);

// "N markers beyond the map's ends, ...": positions that were extrapolated.
std::string OutsideMapNote(int markers);

// What was converted and what was left out and why, one line each.
std::vector<std::string> ConversionNotes(const Conversion& conversion);
