// The part file: what the scan of a row of positions leaves for the merge,
// which puts the parts of a data set together into the files of one whole run.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "adjusted_scan.h"
#include "scan.h"

// What a part was scanned from. Files are known by checksums of their
// contents, so parts made on different machines or folders still match.
struct PartInputs {
  bool quantitative = false;
  bool individuals = false;  // the replicates shuffled individuals, not single haplotypes
  std::uint64_t data = 0, parameters = 0;
  std::optional<std::uint64_t> intervals;  // none: the run had no interval file
  // A scan adjusted for covariates: the checksum of their table and the columns chosen.
  std::optional<std::uint64_t> covariates;
  std::vector<std::string> covariateNames;
  int markers = 0, haplotypes = 0, replicates = 0;
  bool operator==(const PartInputs&) const = default;
};

struct Part {
  PartInputs inputs;
  int from = 0, to = 0;  // the positions from .. to-1
  ScanTally tally;
  std::string report, results;  // report blocks and results lines, verbatim
  std::optional<AdjustedTally> adjusted;  // with covariates
};

// 64-bit FNV-1a checksum of a file's contents; what names the file in errors.
std::uint64_t FileChecksum(const std::string& path, const char* what);

void WritePart(std::ostream& out, const Part& part);

// Reads a part file, or raises the RunError "sourceName:LINE: message" when
// it is not a whole, undamaged part file.
Part ReadPartFile(std::istream& in, const std::string& sourceName);
