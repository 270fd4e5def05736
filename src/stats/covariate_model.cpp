#include "covariate_model.h"

#include <Eigen/Dense>
#include <cmath>
#include <limits>

#include "text.h"

namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

MatrixXd DesignMatrix(const std::vector<std::vector<double>>& covariates, std::size_t names) {
  MatrixXd x(static_cast<Eigen::Index>(covariates.size()), static_cast<Eigen::Index>(names + 1));
  for (std::size_t i = 0; i < covariates.size(); i++) {
    x(static_cast<Eigen::Index>(i), 0) = 1;
    for (std::size_t k = 0; k < names; k++)
      x(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(k + 1)) = covariates[i][k];
  }
  return x;
}

// ", PC1, PC2": the covariates before column k of the design matrix.
std::string Before(const std::vector<std::string>& names, Eigen::Index k) {
  std::string before;
  for (Eigen::Index j = 1; j < k; j++) before += ", " + names[static_cast<std::size_t>(j - 1)];
  return before;
}

// Each covariate must add a direction that the intercept and the covariates
// before it do not span, or the model has no unique fit: Gram-Schmidt in
// column order, a column left with under 1e-4 of its length is refused (a
// sum of covariates written to six digits keeps about 1e-6).
void CheckIndependent(const MatrixXd& x, const std::vector<std::string>& names, const std::string& source) {
  std::vector<VectorXd> basis;
  auto spanned = [](const VectorXd& rest, const VectorXd& column) { return rest.norm() <= 1e-4 * column.norm(); };
  for (Eigen::Index k = 0; k < x.cols(); k++) {
    VectorXd rest = x.col(k);
    for (const VectorXd& b : basis) {
      rest -= b.dot(rest) * b;
      if (k > 0 && spanned(rest, x.col(k)))
        throw RunError(source + ": covariate " + Quoted(names[static_cast<std::size_t>(k - 1)]) +
                       (&b == &basis.front() ? " is the same for all " : " is a linear combination of the intercept" +
                                                                             Before(names, k) + " over the ") +
                       std::to_string(x.rows()) + " individuals kept; leave it out");
    }
    basis.push_back(rest / rest.norm());
  }
}

void Finish(NullModel& model, const MatrixXd& x, const VectorXd& y, const VectorXd& mu, const VectorXd& w) {
  model.individuals = static_cast<int>(x.rows());
  model.terms = static_cast<int>(x.cols());
  model.fitted.assign(mu.data(), mu.data() + mu.size());
  const VectorXd r = y - mu;
  model.residual.assign(r.data(), r.data() + r.size());
  model.weight.assign(w.data(), w.data() + w.size());
  for (Eigen::Index i = 0; i < x.rows(); i++)
    for (Eigen::Index k = 0; k < x.cols(); k++) {
      model.rows.push_back(x(i, k));
      model.weightedRows.push_back(w(i) * x(i, k));
    }
  const MatrixXd information = x.transpose() * w.asDiagonal() * x;
  const MatrixXd inverse = information.ldlt().solve(MatrixXd::Identity(x.cols(), x.cols()));
  for (Eigen::Index a = 0; a < inverse.rows(); a++)
    for (Eigen::Index b = 0; b < inverse.cols(); b++) model.inverseInformation.push_back(inverse(a, b));
}

VectorXd Logistic(const VectorXd& eta) { return (1.0 + (-eta.array()).exp()).inverse().matrix(); }

// Newton's steps from the intercept-only fit until the coefficients settle.
void FitLogistic(NullModel& model, const MatrixXd& x, const VectorXd& y, const std::string& source) {
  VectorXd beta = VectorXd::Zero(x.cols());
  const double mean = y.mean();
  beta(0) = std::log(mean / (1 - mean));
  for (int iteration = 0; iteration < 100; iteration++) {
    const VectorXd mu = Logistic(x * beta);
    const VectorXd w = (mu.array() * (1 - mu.array())).matrix();
    const VectorXd step = (x.transpose() * w.asDiagonal() * x).ldlt().solve(x.transpose() * (y - mu));
    beta += step;
    if (!beta.allFinite()) break;
    if (step.lpNorm<Eigen::Infinity>() < 1e-9 * (1 + beta.lpNorm<Eigen::Infinity>())) {
      const VectorXd fitted = Logistic(x * beta);
      Finish(model, x, y, fitted, (fitted.array() * (1 - fitted.array())).matrix());
      return;
    }
  }
  throw RunError(source + ": the logistic fit of case status on the covariates does not converge (they separate "
                          "cases from controls); leave out the covariate that does");
}

void FitLeastSquares(NullModel& model, const MatrixXd& x, const VectorXd& y, const std::string& source) {
  if (x.rows() <= x.cols())
    throw RunError(source + ": " + std::to_string(x.rows()) + " individuals kept cannot fit the intercept and " +
                   std::to_string(x.cols() - 1) + " covariates");
  const VectorXd beta = (x.transpose() * x).ldlt().solve(x.transpose() * y);
  const VectorXd mu = x * beta;
  model.scale = (y - mu).squaredNorm() / static_cast<double>(x.rows() - x.cols());
  if (!(model.scale > 1e-12 * (y.array() - y.mean()).square().mean()))
    throw RunError(source + ": the covariates explain the trait exactly; nothing is left to test");
  Finish(model, x, y, mu, VectorXd::Ones(x.rows()));
}

}  // namespace

NullModel FitNullModel(const std::vector<double>& phenotype, const std::vector<std::vector<double>>& covariates,
                       const std::vector<std::string>& names, bool logistic, const std::string& source) {
  const MatrixXd x = DesignMatrix(covariates, names.size());
  CheckIndependent(x, names, source);
  const VectorXd y = Eigen::Map<const VectorXd>(phenotype.data(), static_cast<Eigen::Index>(phenotype.size()));
  NullModel model;
  model.logistic = logistic;
  if (logistic)
    FitLogistic(model, x, y, source);
  else
    FitLeastSquares(model, x, y, source);
  return model;
}

double DosageScore::Z() const {
  return variance > 0 ? u / std::sqrt(variance) : std::numeric_limits<double>::quiet_NaN();
}

DosageScore ScoreDosage(const NullModel& model, const HaplotypeBits& members) {
  const std::size_t terms = static_cast<std::size_t>(model.terms);
  DosageScore score;
  std::vector<double>& xwd = score.xwd;
  xwd.assign(terms, 0.0);
  double dwd = 0;
  int previous = -2;
  ForEachHaplotype(members, [&](int h) {
    const std::size_t i = static_cast<std::size_t>(h / 2);
    score.u += model.residual[i];
    score.fittedSum += model.fitted[i];
    // d_i^2 = d_i + 2 when both haplotypes of i are members.
    dwd += model.weight[i] * (h % 2 == 1 && previous == h - 1 ? 3 : 1);
    for (std::size_t k = 0; k < terms; k++) xwd[k] += model.weightedRows[i * terms + k];
    previous = h;
  });
  double explained = 0;
  for (std::size_t a = 0; a < terms; a++)
    for (std::size_t b = 0; b < terms; b++) explained += xwd[a] * model.inverseInformation[a * terms + b] * xwd[b];
  const double variance = dwd - explained;
  // Rounding leaves a tiny variance for a dosage the covariates explain.
  score.variance = variance > 1e-9 * dwd ? model.scale * variance : 0;
  return score;
}

std::vector<double> RefitShift(const NullModel& model, const std::vector<double>& deviation) {
  const std::size_t terms = static_cast<std::size_t>(model.terms);
  std::vector<double> xe(terms, 0.0), shift(terms, 0.0);
  for (std::size_t i = 0; i < deviation.size(); i++)
    for (std::size_t k = 0; k < terms; k++) xe[k] += model.rows[i * terms + k] * deviation[i];
  for (std::size_t a = 0; a < terms; a++)
    for (std::size_t b = 0; b < terms; b++) shift[a] += model.inverseInformation[a * terms + b] * xe[b];
  return shift;
}

double ProjectedScore(const DosageScore& score, double sum, const std::vector<double>& shift) {
  double absorbed = 0;
  for (std::size_t k = 0; k < shift.size(); k++) absorbed += score.xwd[k] * shift[k];
  return sum - absorbed;
}
