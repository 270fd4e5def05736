// The adjusted scan in parts: a part file gives back its adjusted values bit
// for bit, the awkward ones included, and the tallies of consecutive rows
// merge into the result of the whole row.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <sstream>

#include "adjusted_scan.h"
#include "part_file.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<std::uint64_t> Bits(const std::vector<double>& values) {
  std::vector<std::uint64_t> bits;
  for (double v : values) bits.push_back(std::bit_cast<std::uint64_t>(v));
  return bits;
}

Part AdjustedPart() {
  Part part;
  part.inputs.markers = 4;
  part.inputs.haplotypes = 8;
  part.inputs.replicates = 3;
  part.inputs.covariates = 0x0123456789abcdefULL;
  part.inputs.covariateNames = {"PC 1", "AGE"};
  part.from = 1;
  part.to = 3;
  part.tally.positions = 2;
  part.tally.maxima = ReplicateMaxima(3, false);
  part.results = "0\t1\n0\t2\n";
  part.adjusted = AdjustedTally{{kNaN, -0.0}, {0.1 + 0.2, -kInf}, {0.0, 1e-310, 3.0}, {kNaN, 2.5, 7.0}};
  return part;
}

TEST(AdjustedPart, ValuesAndNamesComeBackExactly) {
  const Part written = AdjustedPart();
  std::stringstream file;
  WritePart(file, written);
  EXPECT_EQ(file.str().rfind("veltrane part file 3\n", 0), 0u);
  const Part read = ReadPartFile(file, "chunk.part");
  EXPECT_EQ(read.inputs, written.inputs);
  ASSERT_TRUE(read.adjusted);
  EXPECT_EQ(Bits(read.adjusted->clusterZ), Bits(written.adjusted->clusterZ));
  EXPECT_EQ(Bits(read.adjusted->singleZ), Bits(written.adjusted->singleZ));
  EXPECT_EQ(Bits(read.adjusted->clusterMaxima), Bits(written.adjusted->clusterMaxima));
  EXPECT_EQ(Bits(read.adjusted->singleMaxima), Bits(written.adjusted->singleMaxima));
}

TEST(AdjustedPart, WithoutCovariatesThePartStaysVersionTwo) {
  Part part = AdjustedPart();
  part.adjusted.reset();
  part.inputs.covariates.reset();
  part.inputs.covariateNames.clear();
  std::stringstream file;
  WritePart(file, part);
  EXPECT_EQ(file.str().rfind("veltrane part file 2\n", 0), 0u);
  EXPECT_EQ(file.str().find("adjusted"), std::string::npos);
  EXPECT_FALSE(ReadPartFile(file, "chunk.part").adjusted);
}

// Two rows merged: positions in order, each replicate's larger maximum (a
// maximum that is not a number never wins), and the last best position.
TEST(AdjustedPart, TalliesOfConsecutiveRowsMergeIntoTheWhole) {
  AdjustedTally whole{{1.5, kNaN}, {-2.0, 0.5}, {1.0, 4.0}, {2.0, 0.0}};
  whole.Merge({{1.5, 0.25}, {2.0, kNaN}, {3.0, kNaN}, {1.0, 0.5}});
  EXPECT_EQ(Bits(whole.clusterZ), Bits({1.5, kNaN, 1.5, 0.25}));
  EXPECT_EQ(Bits(whole.singleZ), Bits({-2.0, 0.5, 2.0, kNaN}));
  EXPECT_EQ(whole.clusterMaxima, (std::vector<double>{3.0, 4.0}));
  EXPECT_EQ(Bits(whole.singleMaxima), Bits({2.0, 0.5}));
  const AdjustedScanResult result = ResultOf(whole);
  EXPECT_EQ(result.cluster.pos, 2);
  EXPECT_EQ(result.single.pos, 2);  // |-2| and |2| tie; the last holds it
  ASSERT_TRUE(result.clusterP && result.singleP);
  EXPECT_EQ(*result.clusterP, 1.0);  // 3 and 4 both reach 1.5
  EXPECT_EQ(*result.singleP, 0.5);   // 2 reaches 2, 0.5 does not
}

}  // namespace
