// The strata of a within file, as PLINK's --within takes it (FID IID STRATUM,
// no header), or a table with a "#FID IID"/"#IID" header and one stratum
// column: the permutation replicates shuffle labels only among the samples
// of one stratum.
#pragma once

#include <iosfwd>
#include <string>
#include <unordered_map>

struct Strata {
  // By sample name: its stratum's name. A sample whose stratum is NA or an
  // empty field has none, as one without a line.
  std::unordered_map<std::string, std::string> of;
};

// Raises the RunError "source:line: message" for a ragged line, a sample
// named twice or a header with other than one stratum column, and
// "source: message" for a file without a sample.
Strata ReadStrata(std::istream& in, const std::string& sourceName);
