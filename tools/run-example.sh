#!/usr/bin/env bash
# Builds veltrane and runs it on the bundled example: phased genotypes of a
# 150 kb slice of chromosome 20, case-control phenotypes and a genetic map.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DVELTRANE_TESTS=OFF > /dev/null
cmake --build "$top/build" -j "$(nproc)" --target veltrane
rm -rf "$top/example-run"
cd "$top/example"
"$top/build/veltrane" run --vcf chr20-slice.vcf.gz --pheno chr20-cc.fam --genetic-map chr20-slice.gmap.gz \
  --snps-only --min-maf 0.05 --out "$top/example-run"
cat "$top/example-run/summary.txt"
echo
echo "The locus plot: example-run/scan.svg (every marker: example-run/scan.tsv)"
