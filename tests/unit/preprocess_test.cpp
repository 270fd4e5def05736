// Missing-allele imputation, allele and haplotype frequencies, and |D'|.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "test_util.h"

namespace {

// The next values of the unseeded generator, which is seeded with 1.
std::vector<double> UnseededDraws(int count) {
  srand(1);
  std::vector<double> draws;
  for (int i = 0; i < count; i++) draws.push_back(rand() / 2147483647.0);
  srand(1);
  return draws;
}

// Markers 1 and 3 of the cases hold 1, 1, 1, 2 and a missing allele; every case
// is missing at marker 2; marker 0 is complete.
const char kMissingData[] =
    "h\n"
    "0 a 1 1 0 1\n"
    "1 a 1 1 0 1\n"
    "2 a 2 1 0 1\n"
    "3 a 2 2 0 2\n"
    "4 a 1 0 0 0\n"
    "5 c 2 2 1 2\n"
    "6 c 1 0 1 2\n";

TEST(Imputation, FrequenciesOfEachGroupOverItsObservedAlleles) {
  CDataPoints ds;
  ReadText(ds, kMissingData);
  INT2double cases, controls;
  ds.AlleleFreq(1, &cases, &controls);
  EXPECT_EQ(cases, (INT2double{{0, 1.0}, {1, 0.75}, {2, 0.25}}));
  EXPECT_EQ(controls, (INT2double{{0, 1.0}, {2, 1.0}}));
}

TEST(Imputation, DrawsOneValuePerMissingAlleleFromItsOwnGroup) {
  const std::vector<double> u = UnseededDraws(9);
  CDataPoints ds;
  ReadText(ds, kMissingData);
  ds.ImputeMissing();
  // Draw order: marker 1 (haplotypes 4, 6), marker 2 (0 to 4), marker 3 (4).
  EXPECT_EQ(ds.data[4].value[1], u[0] < 0.75 ? 1 : 2);
  EXPECT_EQ(ds.data[6].value[1], 2);  // the controls only show allele 2
  for (int h = 0; h < 5; h++) EXPECT_EQ(ds.data[h].value[2], 0) << "no case allele to draw from";
  EXPECT_EQ(ds.data[4].value[3], u[7] < 0.75 ? 1 : 2);
  EXPECT_EQ(ds.data[4].value[0], 1);
  EXPECT_EQ(rand() / 2147483647.0, u[8]);
}

TEST(Imputation, TraitModeDrawsFromAllHaplotypes) {
  const std::vector<double> u = UnseededDraws(2);
  CDataPoints ds;
  ds.q = 1;
  ReadText(ds, "h\n1 0.5 1\n2 1.5 1\n3 2.5 2\n4 3.5 0\n");
  INT2double cases, controls;
  ds.AlleleFreq(0, &cases, &controls);
  EXPECT_TRUE(cases.empty());
  EXPECT_EQ(controls, (INT2double{{0, 1.0}, {1, 2.0 / 3.0}, {2, 1.0 / 3.0}}));
  ds.ImputeMissing();
  EXPECT_EQ(ds.data[3].value[0], u[0] < 2.0 / 3.0 ? 1 : 2);
  EXPECT_EQ(rand() / 2147483647.0, u[1]);
}

TEST(Frequencies, MatchPlainCounts) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    CDataPoints ds;
    ReadText(ds, RandomDataText(rng, 150, 6, 3));  // more than two words of bits; code 0 is not allele 1
    ds.CalculateFreq();
    const int n = ds.num;
    auto frequencies = [&](int a, int b, double& controls, double& cases, double& all) {
      int inCases = 0, inControls = 0, caseCount = 0;
      for (const CMyPoint& p : ds.data) {
        const bool carrier = p.value[a] == 1 && p.value[b] == 1;
        caseCount += p.affected;
        (p.affected ? inCases : inControls) += carrier;
      }
      controls = static_cast<double>(inControls) / (n - caseCount);
      cases = static_cast<double>(inCases) / caseCount;
      all = static_cast<double>(inCases + inControls) / n;
    };
    double c, a, all;
    for (int i = 0; i < ds.dim; i++) {
      frequencies(i, i, c, a, all);
      EXPECT_EQ(ds.alleleFreC[i], c);
      EXPECT_EQ(ds.alleleFreA[i], a);
      EXPECT_EQ(ds.alleleFre[i], all);
      for (int j = i + 1; j < ds.dim; j++) {
        frequencies(i, j, c, a, all);
        EXPECT_EQ(ds.hap2lociFreC[i * ds.dim + j], c);
        EXPECT_EQ(ds.hap2lociFreA[i * ds.dim + j], a);
        EXPECT_EQ(ds.hap2lociFre[i * ds.dim + j], all);
      }
    }
  }
}

TEST(LinkageDisequilibrium, Examples) {
  const double nan = std::nan("");
  struct Case {
    std::vector<int> a, b;
    double ld;
  };
  const Case cases[] = {
      {{1, 2, 1, 2, 2}, {1, 2, 1, 2, 2}, 1.0},                                // identical markers
      {{1, 1, 2, 2}, {1, 2, 1, 2}, 0.0},                                      // all four haplotypes once
      {{1, 2, 1, 2, 1, 2}, {2, 1, 1, 2, 2, 1}, 1 / 3.0},                      // negative D, stored positive
      {{1, 1, 1, 1, 1, 1, 2, 2, 2, 2}, {1, 1, 1, 1, 2, 2, 1, 2, 2, 2}, 0.5},  // D = 0.1 over the smaller 0.2
      {{1, 1, 1, 1, 1, 1, 2, 2, 2, 2}, {2, 2, 2, 2, 1, 1, 1, 1, 1, 2}, 0.5},  // D = -0.1 over the smaller 0.2
      {{1, 1, 1, 1}, {1, 2, 1, 2}, nan},                                      // allele 1 everywhere
      {{2, 2, 2, 2}, {1, 2, 1, 2}, nan},                                      // allele 1 nowhere
  };
  for (const Case& c : cases) {
    std::ostringstream text;
    text << "h\n";
    for (std::size_t h = 0; h < c.a.size(); h++) text << "1 c " << c.a[h] << ' ' << c.b[h] << '\n';
    CDataPoints ds;
    ReadText(ds, text.str());
    ds.CalculateFreq();
    ds.LDdelta();
    if (std::isnan(c.ld))
      EXPECT_TRUE(std::isnan(ds.LDMatrix[1]));
    else
      EXPECT_NEAR(ds.LDMatrix[1], c.ld, 1e-15);
  }
}

}  // namespace
