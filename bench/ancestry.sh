#!/usr/bin/env bash
# The ancestry study (bench/ancestry.py): false positives on phenotypes that
# follow PC1 alone, Veltrane with and without covariates beside PLINK 1.9,
# niced, on a copy of a release build (so that a rebuild during the study does
# not change the binary under it). The principal components of the whole
# Debian VCF are computed once by plink2 --pca 10 and kept in bench/.cache.
# Tables and the summary go to DIR (default bench/.cache/ancestry), where a
# rerun continues.
#   bench/ancestry.sh [DIR] [ancestry.py options]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mkdir -p "${1:-$top/bench/.cache/ancestry}" && cd "${1:-$top/bench/.cache/ancestry}" && pwd)
shift || true
vcf=/usr/share/doc/shapeit4/examples/test/reference.vcf.gz
pcs=$top/bench/.cache/reference-pca
mkdir -p "$(dirname "$pcs")"
if [ ! -s "$pcs.eigenvec" ]; then
  nice -n 10 plink2 --vcf "$vcf" --pca 10 --threads 1 --silent --out "$pcs" > /dev/null
  rm -f "$pcs"-temporary.*
fi
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j 2 --target veltrane > /dev/null
cp "$top/build/veltrane" "$dir/veltrane"
export VELTRANE=$dir/veltrane
nice -n 10 /usr/bin/python3 "$top/bench/ancestry.py" --pcs "$pcs.eigenvec" --dir "$dir" "$@" | tee "$dir/summary.md"
