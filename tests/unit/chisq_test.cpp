// Tail probabilities of the chi-square, Student t and normal distributions.
#include "chisq.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <numbers>
#include <string>

#include "output_files.h"

namespace {

TEST(TailProbability, KnownValues) {
  EXPECT_EQ(qChisq(0.0, 1), 1.0);
  EXPECT_EQ(qStudentT(0.0, 5), 1.0);
  EXPECT_EQ(qNomral(0.0), 0.5);
  EXPECT_NEAR(qChisq(3.841459, 1), 0.05, 5e-8);
  // The normal tail is one-sided, the t tail two-sided and blind to the sign.
  EXPECT_NEAR(qNomral(1.959964), 0.025, 5e-8);
  EXPECT_NEAR(qNomral(-1.959964), 0.975, 5e-8);
  EXPECT_NEAR(qStudentT(-2.228139, 10), 0.05, 5e-7);
  EXPECT_NEAR(qStudentT(12.706205, 1), 0.05, 5e-7);
  EXPECT_TRUE(std::isnan(qStudentT(1.0, 0)));
  EXPECT_NEAR(gammln(0.5), std::log(std::sqrt(std::numbers::pi)), 1e-9);
  for (double x : {-2.5, -0.7, -0.01, 0.3, 1.0, 2.2, 4.0}) {
    EXPECT_NEAR(erffc(x), std::erfc(x), 1e-9 * std::erfc(x)) << x;
    EXPECT_NEAR(pChisq(x * x, 1) + qChisq(x * x, 1), 1.0, 1e-15) << x;
  }
}

// Each fatal path prints three lines, exits with status 1 and removes the
// unfinished output files of the run.
TEST(TailProbabilityDeathTest, FatalPathsPrintThreeLinesAndLeaveNoFiles) {
  std::string dir = testing::TempDir() + "fatal-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir.data()));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { qChisq(-1.0, 1); }, "Invalid arguments in routine gammq"},
      {[] { gammp(0.0, 1.0); }, "Invalid arguments in routine gammp"},
      {[] { double v, g; gser(&v, 1.0, -1.0, &g); }, "x less than 0 in routine gser"},
      {[] { gammp(1e5, 1e5); }, "a too large, ITMAX too small in routine gser"},
      {[] { betai(0.5, 0.5, -0.1); }, "Bad x in routine betai"},
      {[] { qStudentT(1.0, -3); }, "Bad x in routine betai"},  // x = 1.5
      {[] { betai(1e8, 1e8, 0.5); }, "a or b too big, or MAXIT too small in betacf"},
      // Not a number passes every range test and never converges.
      {[nan] { qChisq(nan, 1); }, "a too large, ITMAX too small in gcf"},
      {[nan] { qStudentT(nan, 5); }, "a or b too big, or MAXIT too small in betacf"},
  };
  for (const auto& [call, message] : cases) {
    EXPECT_EXIT(
        {
          InstallInterruptCleanup();
          OutputFiles files(dir + "/data-results", dir + "/output");
          call();
        },
        ::testing::ExitedWithCode(1),
        "^Numerical Recipes run-time error...\n" + message + "\n...now exiting to system...\n$")
        << message;
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << message;
  }
  std::filesystem::remove(dir);
}

}  // namespace
