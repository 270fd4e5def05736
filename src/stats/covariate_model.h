// The null model of a covariate-adjusted scan: the phenotype regressed on an
// intercept and the covariates, once, before any position is scored; and the
// score test, under that model, of a dosage of 0, 1 or 2 haplotypes per
// individual (a cluster's members, or the carriers of an allele).
#pragma once

#include <string>
#include <vector>

#include "dbscan.h"

struct NullModel {
  bool logistic = false;  // case-control: logistic by IRLS; trait: least squares
  int individuals = 0, terms = 0;  // terms: the intercept and the covariates
  std::vector<double> fitted;      // per individual: the probability of being a case, or the trait predicted
  std::vector<double> residual;    // observed minus fitted
  std::vector<double> weight;      // mu (1 - mu) for logistic, 1 for least squares
  std::vector<double> rows;                 // x_i: 1 and the covariates, row after row (individuals x terms)
  std::vector<double> weightedRows;         // w_i x_i, the same way
  std::vector<double> inverseInformation;   // (X'WX)^-1, terms x terms
  double scale = 1;  // the residual variance of least squares; 1 for logistic
};

// phenotype: 1 case / 0 control, or the trait, per individual; covariates:
// per individual its values, names giving their columns. Raises the RunError
// "source: ..." for a constant covariate, one that is a linear combination
// of the intercept and the covariates before it, a logistic fit that does not
// converge (the covariates separate cases from controls), or a trait they
// explain exactly.
NullModel FitNullModel(const std::vector<double>& phenotype, const std::vector<std::vector<double>>& covariates,
                       const std::vector<std::string>& names, bool logistic, const std::string& source);

// The score test of a dosage: U = sum_i d_i (y_i - mu_i) and its variance
// under the null model, V = scale (d'Wd - (X'Wd)' (X'WX)^-1 (X'Wd)); and the
// sum of the fitted values over the members, from which a replicate's U
// follows from its case count. Haplotypes 2i and 2i+1 are individual i's.
struct DosageScore {
  double u = 0, variance = 0, fittedSum = 0;
  std::vector<double> xwd;  // X'Wd
  // U / sqrt(V); not a number when the dosage barely varies beyond what the
  // covariates explain (everyone in the cluster, or no one).
  double Z() const;
};
DosageScore ScoreDosage(const NullModel& model, const HaplotypeBits& members);

// A replicate's deviations e from the fitted values (drawn case labels minus
// the probabilities, or permuted residuals) carry a part that refitting the
// null model would absorb: g = (X'WX)^-1 X'e. A dosage's replicate score is
// then sum_i d_i e_i - (X'Wd)'g, whose variance is the V of the data.
std::vector<double> RefitShift(const NullModel& model, const std::vector<double>& deviation);
double ProjectedScore(const DosageScore& score, double sum, const std::vector<double>& shift);
