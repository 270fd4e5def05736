// Fine-mapping under one causal variant: the per-allele effect of each
// marker's ALT allele, Wakefield's approximate Bayes factors, posterior
// inclusion probabilities (PIPs) and the 95% credible set around the lead
// marker. The Bayes factors of monomorphic and rare markers sit near 1 and,
// over a whole chromosome row, would outweigh any signal, so the set is drawn
// from the informative markers near the lead only.
#pragma once

#include <iosfwd>
#include <vector>

#include "conversion.h"
#include "options.h"
#include "results_file.h"

// The effect of one ALT allele and its standard error: the allelic log odds
// ratio of cases against controls (mode s), or the slope of the trait on the
// ALT count of each individual, in standard deviations of the trait (mode q).
// Not a number at a marker that does not vary.
struct MarkerEffect {
  double beta = 0, se = 0;
  double maf = 0;
  double Z() const { return beta / se; }
};

// Woolf's log odds ratio of a 2x2 table of counts (a, b: cases with and
// without the allele; c, d: controls), with 0.5 added to every cell when one is empty.
MarkerEffect LogOddsRatio(double a, double b, double c, double d);
// The least-squares slope of y on x and its standard error on n - 2 degrees of freedom.
MarkerEffect Slope(const std::vector<double>& x, const std::vector<double>& y);

// The effect of every marker of a conversion, from its genotypes.
std::vector<MarkerEffect> MarkerEffects(const Conversion& conversion);

// The two-sided p-value of an effect: normal in mode s, Student t on
// individuals - 2 degrees of freedom in mode q (as PLINK's linear model).
double EffectPValue(const MarkerEffect& effect, bool quantitative, int individuals);

// log ABF of association against none, for a normal prior of the given
// standard deviation on the effect.
double LogBayesFactor(const MarkerEffect& effect, double priorSd);

struct FineMapSettings {
  double priorSd = 0.2;         // of the effect: log odds ratio, or trait standard deviations
  double minMaf = 0.05;         // informative markers
  long long window = 100000;    // bp on either side of the lead marker
  double level = 0.95;          // posterior mass of the set
};

std::vector<OptionSpec> FineMapOptionSpecs();
FineMapSettings ReadFineMapSettings(const CommandLine& line, bool quantitative);

// PIPs under one causal variant among the candidates, with a uniform prior:
// each candidate's Bayes factor over their sum. 0 elsewhere.
std::vector<double> PosteriorInclusion(const std::vector<double>& logBf, const std::vector<int>& candidates);

// The fewest markers whose PIPs reach the level, most probable first (ties:
// the earlier marker first).
std::vector<int> SmallestSetReaching(const std::vector<double>& pip, double level);

// Is there a signal at all: the cluster score's permutation p when there
// were replicates, else the smallest single-marker p times the markers.
struct Signal {
  double p = 1;
  bool permutation = false;
  bool Detected() const { return p < 0.05; }
};
Signal SignalOf(const ResultsBlock& results, int permutations, const std::vector<MarkerEffect>& effects,
                bool quantitative, int individuals);

struct FineMapping {
  FineMapSettings settings;
  Signal signal;
  int lead = -1;                // informative marker of the largest Bayes factor; -1: none
  int candidates = 0;           // informative markers within the window of the lead
  std::vector<double> pip;      // per marker
  std::vector<int> set;         // the credible set, most probable first; empty without a signal
};

FineMapping FineMap(const Conversion& conversion, const std::vector<MarkerEffect>& effects, const Signal& signal,
                    const FineMapSettings& settings);

// credible-set.tsv: chrom, pos, id, PIP and cumulative PIP of each member,
// most probable first (the header alone without a set).
void WriteCredibleSet(const Conversion& conversion, const FineMapping& mapping, std::ostream& out);
