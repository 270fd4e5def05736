// What the covariate-adjusted scan reads from a classic data file and the
// covariate table that convert writes beside it, keyed by the data file's
// identifiers: the people, their phenotypes and covariates, and each
// haplotype's allele 2 (ALT in a converted file).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "bit_row.h"
#include "dbscan.h"

struct AdjustedInputs {
  std::vector<double> phenotypes;                // per person: 1 case / 0 control, or the trait
  std::vector<std::vector<double>> covariates;   // per person, in the order of names
  std::vector<std::string> names;                // the columns chosen
};

// Person i is the haplotypes 2i and 2i+1 of the data file, on consecutive
// lines with one identifier and one phenotype. phenotypeFields: per
// haplotype its phenotype field, from which a trait is read in double
// precision. Raises the RunError "dataFile:LINE: message" for haplotypes
// that do not pair so, and "covarFile: message" for an identifier with no
// line or a missing value in the table, besides the table's own errors.
AdjustedInputs ReadAdjustedInputs(const CDataPoints& ds, const std::vector<std::string>& phenotypeFields,
                                  const std::string& dataFile, std::istream& table, const std::string& covarFile,
                                  const std::string& columns);

// Per marker, per haplotype: 1 where the allele is 2.
std::vector<BitRow> HaplotypeAlt(const CDataPoints& ds);
