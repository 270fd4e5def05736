#include "adjusted_inputs.h"

#include <istream>
#include <unordered_map>

#include "covariates.h"
#include "text.h"

namespace {

// The data file's line of haplotype h, after its header line.
int LineOf(std::size_t h) { return static_cast<int>(h) + 2; }

// Per person its identifier, checking that haplotypes pair into people.
std::vector<int> PersonIds(const CDataPoints& ds, const std::vector<std::string>& fields, const std::string& dataFile) {
  std::vector<int> ids;
  std::unordered_map<int, std::size_t> firstLine;
  for (std::size_t h = 0; h < ds.data.size(); h += 2) {
    const int id = ds.data[h].id;
    if (h + 1 == ds.data.size() || ds.data[h + 1].id != id)
      Reject(dataFile, LineOf(h),
             "identifier " + std::to_string(id) +
                 " is on this line alone; a covariate-adjusted scan reads each person's two haplotypes from two "
                 "consecutive lines with one identifier");
    if (fields[h] != fields[h + 1])
      Reject(dataFile, LineOf(h + 1), "phenotype " + Quoted(fields[h + 1]) + " differs from the " + Quoted(fields[h]) +
                                          " of the same person on the line before");
    const auto [earlier, first] = firstLine.emplace(id, h);
    if (!first)
      Reject(dataFile, LineOf(h), "identifier " + std::to_string(id) + " is already a person's on line " +
                                      std::to_string(LineOf(earlier->second)));
    ids.push_back(id);
  }
  return ids;
}

}  // namespace

AdjustedInputs ReadAdjustedInputs(const CDataPoints& ds, const std::vector<std::string>& phenotypeFields,
                                  const std::string& dataFile, std::istream& table, const std::string& covarFile,
                                  const std::string& columns) {
  const std::vector<int> ids = PersonIds(ds, phenotypeFields, dataFile);
  const Covariates covariates = ReadCovariates(table, covarFile, columns);
  AdjustedInputs inputs;
  inputs.names = covariates.names;
  for (std::size_t i = 0; i < ids.size(); i++) {
    const std::string id = std::to_string(ids[i]);
    const auto values = covariates.values.find(id);
    if (values == covariates.values.end())
      throw RunError(covarFile + ": identifier " + id + " of " + dataFile +
                     (covariates.incomplete.count(id) ? " has a missing covariate" : " has no line") +
                     "; the table of a data file holds every person (veltrane convert --covar writes it)");
    inputs.covariates.push_back(values->second);
    double phenotype = ds.data[2 * i].affected;
    if (ds.q) ParseDouble(phenotypeFields[2 * i], phenotype);
    inputs.phenotypes.push_back(phenotype);
  }
  return inputs;
}

std::vector<BitRow> HaplotypeAlt(const CDataPoints& ds) {
  std::vector<BitRow> alt(ds.dim, BitRow(ds.data.size()));
  for (int k = 0; k < ds.dim; k++)
    for (std::size_t h = 0; h < ds.data.size(); h++) alt[k].Set(h, ds.Allele(static_cast<int>(h), k) == 2);
  return alt;
}
