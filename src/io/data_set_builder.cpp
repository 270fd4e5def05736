#include "data_set_builder.h"

#include <sstream>

#include "text.h"

namespace {

// Allele 1 is REF and allele 2 ALT, as in the converted data file.
void AddHaplotype(CDataPoints& ds, const Conversion& conversion, std::size_t h, std::vector<int>& alleles) {
  const Genotypes& g = conversion.genotypes;
  CMyPoint point;
  point.id = static_cast<int>(h / 2 + 1);
  if (!ds.SetPhenotype(point, conversion.phenotypes[h / 2]))
    throw RunError("the trait " + Quoted(conversion.phenotypes[h / 2]) + " of sample " + Quoted(g.samples[h / 2]) +
                   " is not a finite number");
  alleles.resize(g.markers.size());
  for (std::size_t k = 0; k < g.markers.size(); k++) alleles[k] = g.alt[k][h] ? 2 : 1;
  ds.AddHaplotype(std::move(point), alleles);
}

// The intervals in single precision from their decimal text, as the reader of
// the converted interval file takes them.
std::vector<float> Intervals(const Conversion& conversion) {
  const std::vector<long long>& cm = conversion.microCm;
  std::vector<float> intervals;
  for (std::size_t k = 1; k < cm.size(); k++) {
    float interval = 0.0f;
    ParseFloat(CentiMorgans(cm[k] - cm[k - 1]), interval);
    intervals.push_back(interval);
  }
  return intervals;
}

}  // namespace

void BuildDataSet(CDataPoints& ds, const Conversion& conversion, const std::string& parameterText,
                  const std::string& source) {
  ds.q = conversion.quantitative ? 1 : 0;
  std::istringstream parameters(parameterText);
  ds.ReadParameter(parameters, source);
  std::vector<int> alleles;
  for (std::size_t h = 0; h < 2 * conversion.genotypes.samples.size(); h++) AddHaplotype(ds, conversion, h, alleles);
  ds.EndHaplotypes(static_cast<int>(conversion.genotypes.markers.size()));
  ds.SetIntervals(Intervals(conversion));
}
