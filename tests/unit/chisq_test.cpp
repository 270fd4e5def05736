// The fatal paths of the tail probabilities, which no run of the binary can
// reach on inputs of a test's size. (Their values are pinned by the golden
// cases.)
#include "chisq.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>

#include "output_files.h"

namespace {

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
