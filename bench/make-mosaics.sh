#!/usr/bin/env bash
# Makes a large case-control data set deterministically: new haplotypes that
# are mosaics of the haplotypes of a source set (each copies a source
# haplotype and switches to another at random markers, about once per 300
# markers), with a case label that depends on marker 1000.
#   bench/make-mosaics.sh SOURCE-FOLDER HAPLOTYPES OUT-FOLDER
set -eu
src=$1 n=$2 out=$3
mkdir -p "$out"
cp "$src/params.txt" "$src/intervals.txt" "$out/"
awk -v n="$n" -v seed=20261207 '
  function rnd() { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648 }
  NR == 1 { header = $0; next }
  { rows[++m] = $0 }
  END {
    print header
    for (h = 1; h <= n; h++) {
      src = 1 + int(rnd() * m); split(rows[src], a, "\t")
      line = ""; carrier = 0
      for (k = 3; k <= length(a); k++) {
        if (rnd() < 1 / 300) { src = 1 + int(rnd() * m); split(rows[src], a, "\t") }
        line = line "\t" a[k]
        if (k == 1002) carrier = a[k] == 2
      }
      status = rnd() < (carrier ? 0.65 : 0.45) ? "a" : "c"
      print int((h + 1) / 2) "\t" status line
    }
  }' "$src/data.txt" > "$out/data.txt"
