// Phenotypes by sample name, from a PLINK .fam file or a PLINK 2 style
// phenotype table.
#pragma once

#include <iosfwd>
#include <string>
#include <unordered_map>
#include <unordered_set>

struct Phenotypes {
  // Sample name -> the phenotype field of a data-file line: "a" (case) or
  // "c" (control), or the trait value as written. Samples whose phenotype is
  // missing are left out.
  std::unordered_map<std::string, std::string> values;
  int missing = 0;     // samples with a missing phenotype
  std::unordered_set<std::string> missingSamples;  // their names
  std::string column;  // where the values came from, for people
};

// Reads a .fam file (six fields, no header; the sixth is the phenotype) or a
// table whose header line starts with "#IID", "#FID IID", "FID IID" or "IID".
// In a table the phenotype is the column named phenoName, or else the first
// after the sample ids (other than PAT, MAT and SEX). Case-control phenotypes
// are 1 (control) and 2 (case); traits are numbers in single precision.
// Missing: 0, -9 or NA in case-control mode, -9 or NA for a trait. Raises a
// RunError "source:line: message" for anything else.
Phenotypes ReadPhenotypes(std::istream& in, const std::string& sourceName, bool quantitative,
                          const std::string& phenoName);
