// Missing-allele imputation, allele and haplotype frequencies, and |D'|.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "test_util.h"

namespace {

TEST(Imputation, DrawsOneValuePerMissingAlleleFromItsOwnGroup) {
  // Markers 1 and 3 of the cases: 1, 1, 1, 2 and one missing; every case
  // misses marker 2; the controls show allele 2 only.
  CDataPoints ds;
  ReadText(ds, "h\n0 a 1 1 0 1\n1 a 1 1 0 1\n2 a 2 1 0 1\n3 a 2 2 0 2\n4 a 1 0 0 0\n"
               "5 c 2 2 1 2\n6 c 1 0 1 2\n");
  INT2double cases, controls;
  ds.AlleleFreq(1, &cases, &controls);
  EXPECT_EQ(cases, (INT2double{{0, 1.0}, {1, 0.75}, {2, 0.25}}));  // code 0 keeps the missing count
  EXPECT_EQ(controls, (INT2double{{0, 1.0}, {2, 1.0}}));
  srand(1);  // the unseeded generator
  std::vector<double> u;
  for (int i = 0; i < 9; i++) u.push_back(rand() / 2147483647.0);
  srand(1);
  ds.ImputeMissing();
  // Draw order: marker 1 (haplotypes 4, 6), marker 2 (0 to 4), marker 3 (4).
  EXPECT_EQ(ds.data[4].value[1], u[0] < 0.75 ? 1 : 2);
  EXPECT_EQ(ds.data[6].value[1], 2);
  for (int h = 0; h < 5; h++) EXPECT_EQ(ds.data[h].value[2], 0) << "no case allele to draw from";
  EXPECT_EQ(ds.data[4].value[3], u[7] < 0.75 ? 1 : 2);
  EXPECT_EQ(rand() / 2147483647.0, u[8]);
}

TEST(Frequencies, MatchPlainCounts) {
  std::mt19937 rng(1);
  CDataPoints ds;
  ReadText(ds, RandomDataText(rng, 150, 6, 3));  // more than two words of bits; code 0 is not allele 1
  ds.CalculateFreq();
  for (int i = 0; i < ds.dim; i++)
    for (int j = i; j < ds.dim; j++) {
      SCOPED_TRACE(testing::Message() << "markers " << i << " and " << j);
      int cases = 0, inCases = 0, inControls = 0;
      for (const CMyPoint& p : ds.data) {
        cases += p.affected;
        (p.affected ? inCases : inControls) += p.value[i] == 1 && p.value[j] == 1;
      }
      double hfreC, hfreA, hfre;
      ds.HapFrequency(i, j, hfreC, hfreA, hfre);
      EXPECT_EQ(i == j ? ds.alleleFreC[i] : hfreC, inControls / (150.0 - cases));
      EXPECT_EQ(i == j ? ds.alleleFreA[i] : hfreA, inCases / (cases + 0.0));
      EXPECT_EQ(i == j ? ds.alleleFre[i] : hfre, (inCases + inControls) / 150.0);
    }
}

TEST(LinkageDisequilibrium, Examples) {
  const struct {
    const char *a, *b;  // alleles of the two markers, one haplotype per character
    double ld;
  } cases[] = {
      {"12122", "12122", 1.0},             // identical markers
      {"1122", "1212", 0.0},               // all four haplotypes once
      {"121212", "211221", 1 / 3.0},       // negative D, stored positive
      {"1111112222", "1111221222", 0.5},   // D = 0.1 over the smaller bound 0.2
      {"1111112222", "2222111112", 0.5},   // D = -0.1 over the smaller bound 0.2
      {"1111", "1212", std::nan("")},      // allele 1 everywhere
      {"2222", "1212", std::nan("")},      // allele 1 nowhere
  };
  for (const auto& c : cases) {
    std::string text = "h\n";
    for (std::size_t h = 0; c.a[h]; h++) text += std::string("1 c ") + c.a[h] + ' ' + c.b[h] + '\n';
    CDataPoints ds;
    ReadText(ds, text);
    ds.weightFuntionClass = 3;
    ds.CalculateFreq();
    ds.LDdelta();
    if (std::isnan(c.ld))
      EXPECT_TRUE(std::isnan(ds.WeightFunction1LD(0, 1))) << c.a;
    else
      EXPECT_NEAR(ds.WeightFunction1LD(0, 1), c.ld, 1e-15) << c.a << " " << c.b;
  }
}

}  // namespace
