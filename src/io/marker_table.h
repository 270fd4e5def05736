// The marker table: one line per marker of a data file, saying where the
// marker is, so that results indexed by marker number can be read and plotted.
//
//   index  chrom  pos  id  ref  alt  cm  af
//
// Tab-separated with that header line. index is the marker's position number
// in the results file (from 0), cm its genetic position and af the frequency
// of ALT (allele 2) among the haplotypes of the data file.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

struct Conversion;

struct MarkerRow {
  std::string chrom;
  long long pos = 0;
  std::string id, ref, alt, cm, af;  // cm and af as written
};

using MarkerTable = std::vector<MarkerRow>;

MarkerTable MarkerTableOf(const Conversion& conversion);
void WriteMarkerTable(const MarkerTable& table, std::ostream& out);
// Raises a RunError "source:line: message" for a table not in this layout.
MarkerTable ReadMarkerTable(std::istream& in, const std::string& sourceName);
