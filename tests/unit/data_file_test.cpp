// Allele codes of the data-file reader: one code per distinct allele of a
// marker, however many alleles came before it, so that haplotypes with the
// same alleles fall into one window class.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "dbscan.h"

namespace {

TEST(DataFile, OneCodePerAlleleAfterManyAlleles) {
  // Marker 1 meets 300 large alleles before the common 1 and 2; marker 2 only 1 and 2.
  std::ostringstream text;
  text << "id status m1 m2\n";
  for (int h = 0; h < 300; h++) text << h << " a " << 100 + h << " 1\n";
  for (int h = 300; h < 400; h++) text << h << (h % 2 ? " a " : " c ") << 1 + h % 2 << ' ' << 2 - h % 2 << '\n';
  std::istringstream in(text.str());
  CDataPoints ds;
  ds.Read(in, nullptr, 0);
  for (int h = 300; h < 400; h++) {
    EXPECT_EQ(ds.Allele(h, 0), 1 + h % 2);
    EXPECT_EQ(ds.AlleleCode(h, 0), ds.AlleleCode(300 + h % 2, 0)) << "haplotype " << h;
    EXPECT_NE(ds.AlleleCode(h, 0), ds.AlleleCode(301 - h % 2, 0)) << "haplotype " << h;
  }
  for (int h = 0; h < 300; h++) EXPECT_EQ(ds.Allele(h, 0), 100 + h);
}

}  // namespace
