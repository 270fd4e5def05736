#include "chisq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TailProbability, ExactValuesAtZero) {
  EXPECT_EQ(qChisq(0.0, 1), 1.0);
  for (int k : {1, 2, 5, 30}) EXPECT_EQ(qStudentT(0.0, k), 1.0) << k;
  EXPECT_EQ(qNomral(0.0), 0.5);
}

TEST(TailProbability, CriticalValues) {
  EXPECT_NEAR(qChisq(3.841459, 1), 0.05, 5e-8);
  EXPECT_NEAR(qChisq(6.634897, 1), 0.01, 5e-8);
  // The normal tail is one-sided, the t tail two-sided and blind to the sign.
  EXPECT_NEAR(qNomral(1.959964), 0.025, 5e-8);
  EXPECT_NEAR(qNomral(-1.959964), 0.975, 5e-8);
  EXPECT_NEAR(qStudentT(2.228139, 10), 0.05, 5e-7);
  EXPECT_NEAR(qStudentT(-2.228139, 10), 0.05, 5e-7);
  EXPECT_NEAR(qStudentT(12.706205, 1), 0.05, 5e-7);
}

TEST(TailProbability, AgreesWithTheLibraryErrorFunctions) {
  for (double x : {-2.5, -0.7, -0.01, 0.3, 1.0, 2.2, 4.0}) {
    EXPECT_NEAR(erffc(x), std::erfc(x), 1e-9 * std::erfc(x)) << x;
    EXPECT_NEAR(erff(x), std::erf(x), 1e-9) << x;
    EXPECT_NEAR(erfcc(x), std::erfc(x), 1.2e-7) << x;
    EXPECT_NEAR(pChisq(x * x, 1) + qChisq(x * x, 1), 1.0, 1e-15) << x;
    EXPECT_NEAR(pStudentT(x, 7) + qStudentT(x, 7), 1.0, 1e-15) << x;
  }
  for (auto [x, lnGamma] :
       {std::pair{1.0, 0.0}, {0.5, std::log(std::sqrt(std::numbers::pi))}, {10.0, std::log(362880.0)}})
    EXPECT_NEAR(gammln(x), lnGamma, 1e-9) << x;
}

// gammq and gammp take the series only strictly below a + 1: for one degree of
// freedom, chi-square statistics below 3 use the series, 3 and above the
// continued fraction.
TEST(TailProbability, SeriesBelowAPlusOneContinuedFractionFromIt) {
  double series, fraction, gln;
  const double below = std::nextafter(1.5, 0.0);
  gser(&series, 0.5, below, &gln);
  EXPECT_EQ(gammq(0.5, below), 1.0 - series);
  EXPECT_EQ(gammp(0.5, below), series);
  EXPECT_EQ(qChisq(2 * below, 1), 1.0 - series);
  gcf(&fraction, 0.5, 1.5, &gln);
  EXPECT_EQ(gammq(0.5, 1.5), fraction);
  EXPECT_EQ(gammp(0.5, 1.5), 1.0 - fraction);
  EXPECT_EQ(qChisq(3.0, 1), fraction);
  EXPECT_NEAR(fraction, 1.0 - series, 1e-12);  // both branches agree at the seam
}

TEST(TailProbability, StudentWithZeroDegreesIsNotANumber) { EXPECT_TRUE(std::isnan(qStudentT(1.0, 0))); }

// The fatal routine prints exactly three lines and exits with status 1.
std::string FatalOutput(const std::string& message) {
  std::string escaped;
  for (char c : "Numerical Recipes run-time error...\n" + message + "\n...now exiting to system...\n") {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return "^" + escaped + "$";
}

TEST(TailProbabilityDeathTest, FatalPathsPrintTheirMessage) {
  const auto status = ::testing::ExitedWithCode(1);
  EXPECT_EXIT(qChisq(-1.0, 1), status, FatalOutput("Invalid arguments in routine gammq"));
  EXPECT_EXIT(gammp(0.0, 1.0), status, FatalOutput("Invalid arguments in routine gammp"));
  EXPECT_EXIT(gammp(1.0, -0.5), status, FatalOutput("Invalid arguments in routine gammp"));
  double value, gln;
  EXPECT_EXIT(gser(&value, 1.0, -1.0, &gln), status, FatalOutput("x less than 0 in routine gser"));
  EXPECT_EXIT(gammp(1e5, 1e5), status, FatalOutput("a too large, ITMAX too small in routine gser"));
  EXPECT_EXIT(betai(0.5, 0.5, 1.5), status, FatalOutput("Bad x in routine betai"));
  EXPECT_EXIT(betai(0.5, 0.5, -0.1), status, FatalOutput("Bad x in routine betai"));
  EXPECT_EXIT(qStudentT(1.0, -3), status, FatalOutput("Bad x in routine betai"));
  EXPECT_EXIT(betai(1e8, 1e8, 0.5), status, FatalOutput("a or b too big, or MAXIT too small in betacf"));
  // Not a number passes every range test and never converges.
  EXPECT_EXIT(qChisq(kNaN, 1), status, FatalOutput("a too large, ITMAX too small in gcf"));
  EXPECT_EXIT(qNomral(kNaN), status, FatalOutput("a too large, ITMAX too small in gcf"));
  EXPECT_EXIT(qStudentT(kNaN, 5), status, FatalOutput("a or b too big, or MAXIT too small in betacf"));
}

}  // namespace
