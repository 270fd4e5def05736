// The covariate-adjusted score test against regressions solved by hand: a
// least-squares fit on one covariate, and a logistic fit on a two-group
// covariate, whose maximum-likelihood probabilities are the groups' case
// fractions. A dosage's Z, and a replicate's projected score, are computed
// here from the closed forms, not from the model's matrices.
#include "covariate_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "text.h"

namespace {

// Haplotypes 2i and 2i+1 are individual i's: d[i] of them become members.
HaplotypeBits Members(const std::vector<int>& d) {
  HaplotypeBits bits((2 * d.size() + 63) / 64, 0);
  for (std::size_t i = 0; i < d.size(); i++)
    for (int k = 0; k < d[i]; k++) bits[(2 * i + k) / 64] |= std::uint64_t{1} << ((2 * i + k) % 64);
  return bits;
}

double Mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); }

std::vector<std::vector<double>> Column(const std::vector<double>& c) {
  std::vector<std::vector<double>> rows;
  for (double value : c) rows.push_back({value});
  return rows;
}

// The residuals of v on an intercept and c, by the simple-regression formulas.
std::vector<double> SimpleResiduals(const std::vector<double>& v, const std::vector<double>& c) {
  const double vm = Mean(v), cm = Mean(c);
  double scv = 0, scc = 0;
  for (std::size_t i = 0; i < c.size(); i++) {
    scv += (c[i] - cm) * (v[i] - vm);
    scc += (c[i] - cm) * (c[i] - cm);
  }
  std::vector<double> r;
  for (std::size_t i = 0; i < c.size(); i++) r.push_back(v[i] - vm - scv / scc * (c[i] - cm));
  return r;
}

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
  return std::inner_product(a.begin(), a.end(), b.begin(), 0.0);
}

TEST(CovariateModel, LeastSquaresScoreMatchesTheSimpleRegression) {
  const std::vector<double> c = {0, 1, 2, 3, 4, 5, 6}, y = {1, 3, 2, 5, 4, 6, 4};
  const std::vector<int> d = {0, 1, 2, 0, 1, 2, 1};
  const NullModel model = FitNullModel(y, Column(c), {"c"}, false, "test");
  const std::vector<double> r = SimpleResiduals(y, c);
  const std::vector<double> dose(d.begin(), d.end());
  const std::vector<double> dr = SimpleResiduals(dose, c);
  const double sigma2 = Dot(r, r) / 5;  // 7 individuals, 2 terms
  const DosageScore score = ScoreDosage(model, Members(d));
  EXPECT_NEAR(score.u, Dot(dose, r), 1e-12);
  // V = sigma^2 times the residual sum of squares of d on the covariates.
  EXPECT_NEAR(score.variance, sigma2 * Dot(dr, dr), 1e-12);
  EXPECT_NEAR(score.Z(), Dot(dose, r) / std::sqrt(sigma2 * Dot(dr, dr)), 1e-12);

  // A replicate's deviations e count only their residual on the covariates.
  const std::vector<double> e = {0.5, -1, 2, 0.25, -0.75, 1, -2};
  const double sum = Dot(dose, e);
  EXPECT_NEAR(ProjectedScore(score, sum, RefitShift(model, e)), Dot(dose, SimpleResiduals(e, c)), 1e-12);
  // The data's own residuals have nothing left for a refit to absorb.
  for (double shift : RefitShift(model, model.residual)) EXPECT_NEAR(shift, 0, 1e-12);
}

TEST(CovariateModel, LogisticScoreMatchesTheTwoGroupFit) {
  const std::vector<double> group = {0, 0, 0, 0, 1, 1, 1, 1}, y = {1, 0, 0, 0, 1, 1, 0, 1};
  const std::vector<int> d = {2, 1, 0, 1, 0, 1, 2, 2};
  const NullModel model = FitNullModel(y, Column(group), {"group"}, true, "test");
  // The fitted probabilities are the case fractions 1/4 and 3/4.
  for (std::size_t i = 0; i < y.size(); i++) EXPECT_NEAR(model.fitted[i], group[i] ? 0.75 : 0.25, 1e-9);
  // U = sum d (y - p); V = sum over groups of p(1-p) sum (d - mean d in the group)^2.
  double u = 0, v = 0;
  for (int g = 0; g < 2; g++) {
    const double p = g ? 0.75 : 0.25;
    double sum = 0, squares = 0;
    for (std::size_t i = 0; i < y.size(); i++)
      if (group[i] == g) {
        u += d[i] * (y[i] - p);
        sum += d[i];
        squares += d[i] * d[i];
      }
    v += p * (1 - p) * (squares - sum * sum / 4);
  }
  const DosageScore score = ScoreDosage(model, Members(d));
  EXPECT_NEAR(score.u, u, 1e-9);
  EXPECT_NEAR(score.variance, v, 1e-9);
  EXPECT_NEAR(score.Z(), u / std::sqrt(v), 1e-8);
}

TEST(CovariateModel, ADosageTheCovariatesExplainHasNoScore) {
  const std::vector<double> group = {0, 0, 0, 1, 1, 1}, y = {1, 0, 1, 0, 1, 1};
  const NullModel model = FitNullModel(y, Column(group), {"group"}, false, "test");
  EXPECT_TRUE(std::isnan(ScoreDosage(model, Members({0, 0, 0, 2, 2, 2})).Z()));  // the group itself
  EXPECT_TRUE(std::isnan(ScoreDosage(model, Members({0, 0, 0, 0, 0, 0})).Z()));
}

TEST(CovariateModel, RefusesWhatHasNoUniqueFit) {
  const std::vector<double> y = {1, 0, 1, 0, 1, 1};
  const std::vector<std::vector<double>> constant = {{1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}};
  EXPECT_THROW(FitNullModel(y, constant, {"a", "b"}, false, "test"), RunError);
  const std::vector<std::vector<double>> collinear = {{1, 3}, {2, 5}, {3, 7}, {4, 9}, {5, 11}, {6, 13}};
  EXPECT_THROW(FitNullModel(y, collinear, {"a", "b"}, false, "test"), RunError);
  // Cases all above 3.5: the logistic fit runs off to infinity.
  EXPECT_THROW(FitNullModel({0, 0, 0, 1, 1, 1}, Column({1, 2, 3, 4, 5, 6}), {"a"}, true, "test"), RunError);
}

}  // namespace
