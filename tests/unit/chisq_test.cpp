#include "chisq.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Placeholder, QNomralAtZero) { EXPECT_EQ(qNomral(0.0), 0.5); }
