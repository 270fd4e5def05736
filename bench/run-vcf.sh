#!/usr/bin/env bash
# Times convert and the one-shot run (wall time and peak memory) on the whole
# VCF of Debian's shapeit4-example (600 haplotypes, 24,990 records) with the
# case-control phenotypes of the benchmark data, using a release build.
#   bench/run-vcf.sh [data-folder]    default: ../shared/data beside the repository
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-$top/../shared/data}
vcf=/usr/share/doc/shapeit4/examples/test/reference.vcf.gz
[ -f "$vcf" ] || { echo "$vcf: not found (apt-get install shapeit4-example)"; exit 1; }
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j "$(nproc)" --target veltrane > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
inputs=(--quiet --vcf "$vcf" --pheno "$data/chr20-vcf/chr20-cc.fam")
/usr/bin/time -f "convert: %e s wall, %M KB peak" "$top/build/veltrane" convert "${inputs[@]}" --out "$work/all"
/usr/bin/time -f "run: %e s wall, %M KB peak" "$top/build/veltrane" run "${inputs[@]}" --out "$work/run"
