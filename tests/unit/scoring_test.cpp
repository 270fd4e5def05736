// Chi-square products in 64 bits. An end-to-end case would need a data file
// of 120,000 haplotypes; the scan's other numbers are pinned by those cases.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "dbscan.h"

namespace {

// 60,000 cases and 60,000 controls: n11 n22 = 2.5e9 does not fit 32 bits, in
// the single-marker test and in a cluster (the allele-1 carriers) alike.
TEST(CaseControlScore, LargeCountsKeepTheirProducts) {
  std::string text = "header\n";
  for (int h = 0; h < 120000; h++)
    text += std::string(h < 60000 ? "1 a " : "1 c ") + (h % 60000 < (h < 60000 ? 50000 : 10000) ? "1\n" : "2\n");
  std::istringstream in(text);
  CDataPoints ds;
  ds.Read(in, nullptr, 0);
  ds.CalculateFreq();
  PositionState s;
  Cluster& carriers = s.clusters.emplace_back();
  carriers.id = 1;
  carriers.members.assign((ds.num + 63) / 64, 0);
  s.coreBits = carriers.members;
  for (int h = 0; h < ds.num; h++)
    if (ds.Allele(h, 0) == 1) {
      carriers.members[h / 64] |= std::uint64_t{1} << (h % 64);
      carriers.size++;
    }
  const double d = 50000.0 * 50000 - 10000.0 * 10000, chi = 120000 * d * d / std::pow(60000.0, 4);
  EXPECT_NEAR(ds.ChiSQ(0), chi, 1e-9 * chi);
  EXPECT_NEAR(ds.LocalScore(s, ds.ObservedCases()), std::sqrt(chi), 1e-9 * std::sqrt(chi));
}

}  // namespace
