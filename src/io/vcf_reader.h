// Phased diploid genotypes from a VCF, bgzipped VCF or BCF file (read with
// htslib), as a row of biallelic markers on one chromosome.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "bit_row.h"

struct Marker {
  std::string chrom;
  long long pos = 0;
  std::string id, ref, alt;
  std::optional<double> infoCm;  // INFO/CM, when the record has it
  int altCount = 0;              // haplotypes carrying ALT
};

// CHROM:POS as messages show it: control characters replaced, a long name cut.
std::string Site(const std::string& chrom, long long pos);
inline std::string Site(const Marker& marker) { return Site(marker.chrom, marker.pos); }

// CHROM, or CHROM:FROM-TO (1-based, inclusive).
struct Region {
  std::string chrom;
  long long from = 1, to = std::numeric_limits<int>::max();
};

// Parses a region; nothing when the text is not one.
std::optional<Region> ParseRegion(const std::string& text);

struct VcfFilters {
  std::optional<Region> region;
  bool snpsOnly = false;
  double minMaf = 0;                                      // over the kept haplotypes
  int minMac = 0;                                         // minor-allele count, over the kept haplotypes
  const std::unordered_set<std::string>* ids = nullptr;  // the marker IDs to keep, if given
};

// Records left out, by reason. A repeat has the position and alleles of a
// record kept before it; a symbolic ALT is a structural variant (<DEL>) or a
// lone '*'. Monomorphic and fewMinor fall below the minor-allele count.
struct SkippedRecords {
  long noAlt = 0, multiAllelic = 0, symbolic = 0, repeated = 0, notSnp = 0, notListed = 0, monomorphic = 0,
       fewMinor = 0, rare = 0;
};

struct Genotypes {
  std::vector<std::string> samples;  // the samples kept, in file order
  int samplesInFile = 0;
  std::vector<Marker> markers;
  // Per marker, per haplotype (two per sample, in genotype order): 1 for ALT.
  std::vector<BitRow> alt;
  SkippedRecords skipped;
  long idsNotFound = 0;  // IDs of filters.ids that no record read has
};

// Reads the biallelic records that pass the filters, with the genotypes of
// the samples keepSample accepts. A region is read through the index
// (.csi/.tbi) when there is one, and by reading through the file otherwise.
// A region's chromosome matches with or without "chr". Raises a RunError
// naming the record (CHROM:POS) for an unphased, missing or non-diploid
// genotype of a kept sample or an allele the record does not have, records
// out of position order, or a second chromosome; and one naming the file for
// a file without samples, a sample named twice, a damaged file, or a region
// that holds no record (with the file's contigs).
Genotypes ReadVcf(const std::string& path, const VcfFilters& filters,
                  const std::function<bool(const std::string&)>& keepSample, bool showProgress);

// Reads a list of marker IDs, one per line.
std::unordered_set<std::string> ReadMarkerIds(std::istream& in, const std::string& sourceName);
