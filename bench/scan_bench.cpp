// Cost of one scanned position (distances, radius, density, DBSCAN, scores)
// on haplotypes drawn as mosaics of a few founders, so that windows share
// alleles as in real data.
#include <benchmark/benchmark.h>

#include <random>
#include <sstream>

#include "dbscan.h"

namespace {

void Fill(CDataPoints& ds, int haplotypes, int markers, int founders) {
  std::mt19937 rng(7);
  std::vector<std::vector<int>> founder(founders, std::vector<int>(markers));
  for (auto& f : founder)
    for (int& allele : f) allele = 1 + static_cast<int>(rng() % 2);
  std::ostringstream text;
  text << "header\n";
  for (int h = 0; h < haplotypes; h++) {
    text << h / 2 << (h % 3 ? " c" : " a");
    int source = static_cast<int>(rng() % founders);
    for (int k = 0; k < markers; k++) {
      if (rng() % 200 == 0) source = static_cast<int>(rng() % founders);
      text << ' ' << founder[source][k];
    }
    text << '\n';
  }
  std::istringstream params("r 1 0.5 d 0.1 w 21 s 1 -30 1 p 100 t 2.0");
  ds.ReadParameter(params);
  std::istringstream in(text.str());
  ds.Read(in, nullptr, 0);
  ds.ImputeMissing();
  ds.DrawReplicates();
  ds.CalculateFreq();
  ds.LDdelta();
}

void ScanPositions(benchmark::State& state) {
  CDataPoints ds;
  Fill(ds, static_cast<int>(state.range(0)), 200, 60);
  std::ostringstream report;
  ReplicateMaxima maxima(ds.permutationTimes, ds.q);
  PositionState position;
  int pos = 0;
  for (auto _ : state) {
    ds.SetWindow(position, pos);
    ds.CalculateDist(position);
    ds.DeterminEpslion(position);
    ds.DensityOfNB(position);
    ds.Reset(position);
    ds.ClusteringDBSCAN(position);
    benchmark::DoNotOptimize(ds.Write(position, report));
    benchmark::DoNotOptimize(ds.ChiSQ(pos));
    ds.ScoreReplicates(position, maxima);
    report.str("");
    pos = (pos + 1) % ds.dim;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ScanPositions)->Arg(600)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
