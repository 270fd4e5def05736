#include "data_set_builder.h"

#include <algorithm>
#include <sstream>

#include "text.h"

namespace {

// Allele 1 is REF and allele 2 ALT, as in the converted data file. The
// genotypes are stored marker by marker, the data set haplotype by haplotype:
// a block of haplotypes is turned round at a time, reading each marker's
// bytes of the block together, instead of one byte per marker per haplotype.
void AddHaplotypes(CDataPoints& ds, const Conversion& conversion, std::size_t from, std::size_t to) {
  const Genotypes& g = conversion.genotypes;
  const std::size_t markers = g.markers.size();
  std::vector<int> block((to - from) * markers);
  for (std::size_t k = 0; k < markers; k++)
    for (std::size_t h = from; h < to; h++) block[(h - from) * markers + k] = g.alt[k][h] ? 2 : 1;
  for (std::size_t h = from; h < to; h++) {
    CMyPoint point;
    point.id = static_cast<int>(h / 2 + 1);
    if (!ds.SetPhenotype(point, conversion.phenotypes[h / 2]))
      throw RunError("the trait " + Quoted(conversion.phenotypes[h / 2]) + " of sample " +
                     Quoted(g.samples[h / 2]) + " is not a finite number");
    ds.AddHaplotype(std::move(point), std::span<const int>(block.data() + (h - from) * markers, markers));
  }
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
  const std::size_t haplotypes = 2 * conversion.genotypes.samples.size(), block = 64;
  for (std::size_t h = 0; h < haplotypes; h += block) AddHaplotypes(ds, conversion, h, std::min(h + block, haplotypes));
  ds.EndHaplotypes(static_cast<int>(conversion.genotypes.markers.size()));
  for (int stratum : conversion.strata) ds.stratumOf.insert(ds.stratumOf.end(), 2, stratum);
  ds.SetIntervals(Intervals(conversion));
}
