#!/usr/bin/env bash
# Makes a large case-control data set deterministically: new haplotypes that
# are mosaics of the haplotypes of a source set (each copies a source
# haplotype and switches to another at random markers, about once per 300
# markers), with a case label that depends on marker 1000.
#   bench/make-mosaics.sh SOURCE-FOLDER HAPLOTYPES OUT-FOLDER
# A haplotype is written as the few stretches it copies (alleles are one
# character each), not allele by allele: a million haplotypes take minutes.
set -eu
src=$1 n=$2 out=$3
mkdir -p "$out"
cp "$src/params.txt" "$src/intervals.txt" "$out/"
awk -v n="$n" -v seed=20261207 '
  function rnd() { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648 }
  NR == 1 { header = $0; markers = NF - 2; next }
  # The alleles of a source line, each after its tab: marker k at 2k-1 .. 2k.
  { rows[++m] = substr($0, length($1) + length($2) + 2) }
  END {
    print header
    for (h = 1; h <= n; h++) {
      src = 1 + int(rnd() * m); from = 1; line = ""; carrier = 0
      for (k = 1; k <= markers; k++) {
        if (rnd() < 1 / 300) {
          line = line substr(rows[src], 2 * from - 1, 2 * (k - from))
          src = 1 + int(rnd() * m); from = k
        }
        if (k == 1000) carrier = substr(rows[src], 2 * k, 1) == "2"
      }
      line = line substr(rows[src], 2 * from - 1)
      status = rnd() < (carrier ? 0.65 : 0.45) ? "a" : "c"
      print int((h + 1) / 2) "\t" status line
    }
  }' "$src/data.txt" > "$out/data.txt"
