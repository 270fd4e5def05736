// Haplotype data reader on arbitrary bytes. The first byte picks the mode
// (bit 0: trait mode) and the window width from the parameter file (the rest
// of the byte); the remaining bytes are the data file. The reader must either
// accept the file with a consistent data set, or raise a RunError with a
// one-line message naming the file.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "dbscan.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  CDataPoints ds;
  ds.q = bytes[0] & 1;
  ds.curdim = 1 + (bytes[0] >> 1);
  std::istringstream in{std::string(fuzz::AsText(bytes + 1, size - 1))};
  try {
    ds.Read(in, nullptr, 0, "data.txt");
  } catch (const RunError& e) {
    const std::string message = e.what();
    fuzz::Require(message.rfind("data.txt:", 0) == 0, "a data error names the file");
    fuzz::Require(message.find_first_of("\n\r") == std::string::npos, "a data error is one line");
    return 0;
  }
  fuzz::Require(ds.num >= 1 && ds.num == static_cast<int>(ds.data.size()), "haplotype count");
  fuzz::Require(ds.numberIndividuals == ds.num, "individual count");
  fuzz::Require(ds.dim >= 1, "at least one marker");
  fuzz::Require(ds.curdim >= 1 && ds.curdim <= ds.dim, "window clamped to the marker row");
  int cases = 0;
  for (const CMyPoint& point : ds.data) {
    fuzz::Require(static_cast<int>(point.value.size()) == ds.dim, "every haplotype has dim alleles");
    for (int allele : point.value) fuzz::Require(allele >= 0, "non-negative alleles");
    fuzz::Require(std::isfinite(point.traitvalue), "finite trait");
    if (ds.q) fuzz::Require(point.affected == 0, "no cases in the trait mode");
    cases += point.affected;
  }
  if (ds.q == 0) {
    fuzz::Require(cases == ds.nCase && ds.nCase + ds.nCont == ds.num, "case and control counts");
  } else {
    fuzz::Require(ds.nCase == 0 && ds.nCont == 0, "no case counts in the trait mode");
  }
  fuzz::Require(ds.markerIntervalDist.size() == static_cast<std::size_t>(ds.dim - 1), "dim - 1 intervals");
  for (double d : ds.markerIntervalDist) fuzz::Require(d == 0.0001, "default interval");
  // Every identifier and allele of an accepted file is written as an integer:
  // split the haplotype lines independently of the reader.
  std::string_view text = fuzz::AsText(bytes + 1, size - 1);
  text.remove_prefix(std::min(text.size(), text.find('\n') == std::string_view::npos ? text.size()
                                                                                      : text.find('\n') + 1));
  for (int line = 0; line < ds.num; line++) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view row = text.substr(0, end);
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    const std::vector<std::string_view> fields = SplitFields(row, " ,\t");
    fuzz::Require(fields.size() == static_cast<std::size_t>(ds.dim) + 2, "accepted line has id, phenotype, alleles");
    fuzz::Require(fuzz::IsIntegerText(fields[0]), "the identifier of an accepted line is an integer");
    for (std::size_t k = 2; k < fields.size(); k++)
      fuzz::Require(fuzz::IsIntegerText(fields[k]), "the alleles of an accepted line are integers");
    text.remove_prefix(std::min(text.size(), end + 1));
  }
  return 0;
}
