// Genetic maps: genetic position (cM) against base-pair position on one
// chromosome.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class GeneticMap {
 public:
  // points: (bp, cM) in increasing bp, at least two.
  explicit GeneticMap(std::vector<std::pair<long long, double>> points) : points_(std::move(points)) {}

  // Linear interpolation in bp; beyond either end, the rate of the outermost
  // interval on that side.
  double CentiMorgans(long long bp) const;
  // Whether bp lies between the first and last points (no extrapolation).
  bool Covers(long long bp) const { return bp >= points_.front().first && bp <= points_.back().first; }

 private:
  std::vector<std::pair<long long, double>> points_;
};

// Reads the rows of one chromosome from a map in one of three layouts, told
// apart by the first line: a header "pos chr cM" (three columns), a HapMap
// header (chromosome, position, rate, cM), or no header and four columns, a
// PLINK .map (chromosome, id, cM, bp). Rows of other chromosomes are skipped
// ("chr20" and "20" are the same chromosome). Raises a RunError
// "source:line: message" for a malformed row, rows out of bp order or with a
// decreasing cM, and when the chromosome has fewer than two rows.
GeneticMap ReadGeneticMap(std::istream& in, const std::string& sourceName, const std::string& chromosome);

// Whether two chromosome names mean the same chromosome, with or without "chr".
bool SameChromosome(std::string_view a, std::string_view b);

// The whole text of a file, plain or gzipped.
std::string ReadMaybeGzipped(const std::string& path, const char* what);
