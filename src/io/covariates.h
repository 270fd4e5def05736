// Covariates by sample name, from a PLINK 2 style table (a header line
// "#FID IID ...", "#IID ...", "FID IID ..." or "IID ...", as .eigenvec and
// .cov files have) or a PLINK 1 covariate file (no header: FID IID c1 c2 ...).
#pragma once

#include <iosfwd>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct Covariates {
  std::vector<std::string> names;  // the columns chosen, in the order asked for
  std::string label;               // the columns for people: "PC1-PC4" as asked, or the names
  // By sample name: the chosen values, for samples that have all of them.
  std::unordered_map<std::string, std::vector<double>> values;
  // Samples with a missing value (NA, nan, -9 or an empty field) in a chosen column.
  std::unordered_set<std::string> incomplete;
};

// columns: names and ranges separated by commas, as "PC1-PC4,AGE"; empty for
// every column after the sample ids. The columns of a file without a header
// are named COV1, COV2, ... A line with a tab is split at each tab (two tabs
// around an empty field), any other at runs of spaces. A value that is not a
// number raises the RunError "source:line: message", as does a column that
// is not in the file, a sample named twice or a ragged line.
Covariates ReadCovariates(std::istream& in, const std::string& sourceName, const std::string& columns);
