#include "credible_set.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <ostream>

#include "chisq.h"
#include "text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Per individual: 1 for a case, 0 for a control; or the trait in standard
// deviations from its mean.
std::vector<double> Outcomes(const Conversion& conversion) {
  std::vector<double> y;
  for (const std::string& field : conversion.phenotypes) {
    double value = field == "a" ? 1 : 0;
    if (conversion.quantitative) ParseDouble(field, value);  // checked when the data set was built
    y.push_back(value);
  }
  if (!conversion.quantitative || y.size() < 2) return y;
  const double mean = std::accumulate(y.begin(), y.end(), 0.0) / y.size();
  double squares = 0;
  for (double v : y) squares += (v - mean) * (v - mean);
  const double sd = std::sqrt(squares / (y.size() - 1));
  for (double& v : y) v = (v - mean) / sd;
  return y;
}

MarkerEffect NoEffect(double maf) { return {kNaN, kNaN, maf}; }

}  // namespace

MarkerEffect LogOddsRatio(double a, double b, double c, double d) {
  if (a == 0 || b == 0 || c == 0 || d == 0) {
    a += 0.5;
    b += 0.5;
    c += 0.5;
    d += 0.5;
  }
  return {std::log(a * d / (b * c)), std::sqrt(1 / a + 1 / b + 1 / c + 1 / d), 0};
}

MarkerEffect Slope(const std::vector<double>& x, const std::vector<double>& y) {
  const double n = static_cast<double>(x.size());
  const double meanX = std::accumulate(x.begin(), x.end(), 0.0) / n, meanY = std::accumulate(y.begin(), y.end(), 0.0) / n;
  double sxx = 0, sxy = 0, syy = 0;
  for (std::size_t i = 0; i < x.size(); i++) {
    sxx += (x[i] - meanX) * (x[i] - meanX);
    sxy += (x[i] - meanX) * (y[i] - meanY);
    syy += (y[i] - meanY) * (y[i] - meanY);
  }
  if (sxx == 0 || n < 3) return NoEffect(0);
  const double beta = sxy / sxx;
  const double residual = std::max(syy - beta * sxy, 0.0) / (n - 2);
  return {beta, std::sqrt(residual / sxx), 0};
}

std::vector<MarkerEffect> MarkerEffects(const Conversion& conversion) {
  const Genotypes& g = conversion.genotypes;
  const std::vector<double> y = Outcomes(conversion);
  std::vector<MarkerEffect> effects;
  std::vector<double> dosage(y.size());
  const double haplotypesOfCases = 2.0 * conversion.cases;
  for (const BitRow& alt : g.alt) {
    double altCount = 0, altInCases = 0;
    for (std::size_t i = 0; i < y.size(); i++) {
      dosage[i] = alt[2 * i] + alt[2 * i + 1];
      altCount += dosage[i];
      altInCases += y[i] * dosage[i];
    }
    const double frequency = altCount / (2.0 * y.size()), maf = std::min(frequency, 1 - frequency);
    if (maf == 0) {
      effects.push_back(NoEffect(0));
      continue;
    }
    MarkerEffect effect = conversion.quantitative
                              ? Slope(dosage, y)
                              : LogOddsRatio(altInCases, haplotypesOfCases - altInCases, altCount - altInCases,
                                             2.0 * y.size() - haplotypesOfCases - (altCount - altInCases));
    effect.maf = maf;
    effects.push_back(effect);
  }
  return effects;
}

double EffectPValue(const MarkerEffect& effect, bool quantitative, int individuals) {
  const double z = std::fabs(effect.Z());
  if (!std::isfinite(z)) return kNaN;
  return quantitative ? qStudentT(z, individuals - 2) : 2 * qNomral(z);
}

double LogBayesFactor(const MarkerEffect& effect, double priorSd) {
  const double v = effect.se * effect.se, w = priorSd * priorSd, z = effect.Z();
  return 0.5 * std::log(v / (v + w)) + 0.5 * z * z * w / (v + w);
}

std::vector<OptionSpec> FineMapOptionSpecs() {
  return {
      {"prior-sd", "X", "prior standard deviation of the effect: log odds ratio, or trait SDs (default 0.2 s, 0.15 q)"},
      {"credible-maf", "F", "markers of the credible set: minor-allele frequency at least F (default 0.05)"},
      {"credible-window", "BP", "markers of the credible set: within BP of the lead marker (default 100000)"},
  };
}

FineMapSettings ReadFineMapSettings(const CommandLine& line, bool quantitative) {
  FineMapSettings settings;
  settings.priorSd = line.Number("prior-sd", quantitative ? 0.15 : 0.2);
  if (!(settings.priorSd > 0)) line.Fail("--prior-sd must be above 0");
  settings.minMaf = line.Number("credible-maf", settings.minMaf);
  if (settings.minMaf < 0 || settings.minMaf > 0.5) line.Fail("--credible-maf takes a number from 0 to 0.5");
  settings.window = line.Integer("credible-window", static_cast<int>(settings.window));
  if (settings.window < 0) line.Fail("--credible-window must not be negative");
  return settings;
}

std::vector<double> PosteriorInclusion(const std::vector<double>& logBf, const std::vector<int>& candidates) {
  std::vector<double> pip(logBf.size(), 0.0);
  if (candidates.empty()) return pip;
  double largest = -std::numeric_limits<double>::infinity();
  for (int m : candidates) largest = std::max(largest, logBf[m]);
  double total = 0;
  for (int m : candidates) total += std::exp(logBf[m] - largest);
  for (int m : candidates) pip[m] = std::exp(logBf[m] - largest) / total;
  return pip;
}

std::vector<int> SmallestSetReaching(const std::vector<double>& pip, double level) {
  std::vector<int> order(pip.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return pip[a] > pip[b]; });
  std::vector<int> set;
  double mass = 0;
  for (int m : order) {
    if (mass >= level || pip[m] <= 0) break;
    set.push_back(m);
    mass += pip[m];
  }
  return set;
}

Signal SignalOf(const ResultsBlock& results, int permutations, const std::vector<MarkerEffect>& effects,
                bool quantitative, int individuals) {
  if (permutations > 0) return {results.summary.at(3), true};
  double smallest = 1;
  for (const MarkerEffect& effect : effects) {
    const double p = EffectPValue(effect, quantitative, individuals);
    if (p < smallest) smallest = p;
  }
  return {std::min(1.0, smallest * static_cast<double>(effects.size())), false};
}

FineMapping FineMap(const Conversion& conversion, const std::vector<MarkerEffect>& effects, const Signal& signal,
                    const FineMapSettings& settings) {
  FineMapping mapping;
  mapping.settings = settings;
  mapping.signal = signal;
  const std::vector<Marker>& markers = conversion.genotypes.markers;
  std::vector<double> logBf;
  for (const MarkerEffect& effect : effects)
    logBf.push_back(effect.maf >= settings.minMaf ? LogBayesFactor(effect, settings.priorSd) : kNaN);
  for (std::size_t m = 0; m < logBf.size(); m++)
    if (std::isfinite(logBf[m]) && (mapping.lead < 0 || logBf[m] > logBf[mapping.lead])) mapping.lead = static_cast<int>(m);
  std::vector<int> candidates;
  if (mapping.lead >= 0)
    for (std::size_t m = 0; m < logBf.size(); m++)
      if (std::isfinite(logBf[m]) && std::llabs(markers[m].pos - markers[mapping.lead].pos) <= settings.window)
        candidates.push_back(static_cast<int>(m));
  mapping.candidates = static_cast<int>(candidates.size());
  mapping.pip = PosteriorInclusion(logBf, candidates);
  if (signal.Detected()) mapping.set = SmallestSetReaching(mapping.pip, settings.level);
  return mapping;
}

void WriteCredibleSet(const Conversion& conversion, const FineMapping& mapping, std::ostream& out) {
  out << "chrom\tpos\tid\tPIP\tcumulativePIP\n";
  double mass = 0;
  for (int m : mapping.set) {
    const Marker& marker = conversion.genotypes.markers[m];
    mass += mapping.pip[m];
    out << marker.chrom << '\t' << marker.pos << '\t' << marker.id << '\t' << mapping.pip[m] << '\t' << mass << '\n';
  }
}
