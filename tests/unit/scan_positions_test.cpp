// The scan's hand-over of blocks to whichever thread writes: the report and
// results come out in position order and the same for every thread count,
// every position is announced once and in order, and a failure while a block
// is written stops the scan (on every thread, without a hang) with the
// blocks before it written whole.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "scan.h"

namespace {

// Haplotypes copied from a few founders with some mutation, so that every
// position has clusters to report and the report blocks are sizeable.
void LoadMosaics(CDataPoints& ds, int haplotypes, int markers) {
  std::mt19937 random(7);
  std::vector<std::vector<int>> founders(6, std::vector<int>(markers));
  for (auto& founder : founders)
    for (int& allele : founder) allele = 1 + static_cast<int>(random() % 2);
  std::ostringstream text;
  text << "id status";
  for (int k = 0; k < markers; k++) text << " m" << k;
  for (int h = 0; h < haplotypes; h++) {
    const std::vector<int>& founder = founders[random() % founders.size()];
    text << '\n' << h / 2 + 1 << (founder[markers / 2] == 1 && random() % 3 ? " a" : " c");
    for (int k = 0; k < markers; k++) text << ' ' << (random() % 20 ? founder[k] : 3 - founder[k]);
  }
  text << '\n';
  std::istringstream parameters(
      "radiusMode 1 0.3\ndensityFraction 0.05\nwindowWidth 7\nweightScheme 1 -30 1\npermutations 20\n"
      "reportThreshold -100\n");
  ds.ReadParameter(parameters);
  std::istringstream data(text.str());
  ds.Read(data, nullptr, 0);
  Prepare(ds);
}

struct Scanned {
  std::string report, results;
  std::vector<int> announced;
};

Scanned Scan(const CDataPoints& ds, int threads, int failAt = -1) {
  Scanned out;
  std::ostringstream report, results;
  try {
    ScanPositions(
        ds, 0, ds.dim, report, results,
        [&](int pos) {
          out.announced.push_back(pos);
          if (pos == failAt) throw std::runtime_error("the report cannot be written");
        },
        threads);
  } catch (const std::runtime_error&) {
    out.announced.push_back(-1);
  }
  out.report = report.str();
  out.results = results.str();
  return out;
}

TEST(ScanPositions, SameFilesAndOrderOnEveryThreadCount) {
  CDataPoints ds;
  LoadMosaics(ds, 400, 90);
  const Scanned one = Scan(ds, 1);
  ASSERT_GT(one.report.size(), 100000u);
  std::vector<int> everyPosition(ds.dim);
  for (int pos = 0; pos < ds.dim; pos++) everyPosition[pos] = pos;
  EXPECT_EQ(one.announced, everyPosition);
  for (int threads : {2, 3}) {
    const Scanned many = Scan(ds, threads);
    EXPECT_EQ(many.report, one.report) << threads << " threads";
    EXPECT_EQ(many.results, one.results) << threads << " threads";
    EXPECT_EQ(many.announced, everyPosition) << threads << " threads";
  }
}

TEST(ScanPositions, AFailedWriteStopsTheScanAfterWholeBlocks) {
  CDataPoints ds;
  LoadMosaics(ds, 400, 90);
  const Scanned whole = Scan(ds, 1);
  for (int threads : {1, 3}) {
    const Scanned failed = Scan(ds, threads, 41);
    ASSERT_FALSE(failed.announced.empty());
    EXPECT_EQ(failed.announced.back(), -1) << "the failure reaches the caller";
    // The block of positions 40-43 was written before position 41 was announced; nothing after it.
    const std::size_t blockEnd = whole.report.find("Position: 44\n");
    ASSERT_NE(blockEnd, std::string::npos);
    EXPECT_EQ(failed.report, whole.report.substr(0, blockEnd)) << threads << " threads";
    EXPECT_EQ(failed.announced.size(), 43u) << "positions 0 to 41, then the failure";
  }
}

}  // namespace
