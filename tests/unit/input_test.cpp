// Values read from the parameter file. The data file, rejections, line ends,
// separators, the window clamp and the scheme parameter counts are checked
// through the binary by the end-to-end cases.
#include <gtest/gtest.h>

#include "test_util.h"

namespace {

TEST(ParameterFile, WorkedExample) {
  std::istringstream in("radius 2 0.05\ndensity 0.1\nwindow 9\nscheme 4 2 -3.5 4.25 0.5\npermutations 17\n"
                        "threshold 1.7\n");
  CDataPoints ds;
  ds.ReadParameter(in);
  EXPECT_EQ(ds.epslionpercentile, 0.05);
  EXPECT_EQ(ds.epslion, 0.2);  // the percentile mode keeps the default radius
  EXPECT_EQ(ds.minNumPtspercentile, 0.1);
  EXPECT_EQ(ds.curdim, 9);
  EXPECT_EQ(ds.weightFuntionClass, 4);
  EXPECT_EQ(std::vector<double>(ds.weightFuntionParm, ds.weightFuntionParm + 4),
            (std::vector<double>{2, -3.5, 4.25, 0.5}));
  EXPECT_EQ(ds.permutationTimes, 17);
  EXPECT_EQ(static_cast<double>(ds.zsocreT), 1.7000000476837158);  // single precision
}

}  // namespace
