#!/usr/bin/env bash
# The locus plot of the whole VCF of Debian's shapeit4-example (25,000
# markers), case-control and trait, as a renderer draws it: both panels, the
# genome-wide and permutation lines, the recombination rate, points coloured by
# r² around the predicted marker (a diamond), the build named; in mode q the
# tests the summary names and not the Welch t, whose tiny groups set the axis
# at -log10 p = 150 before; and points that cannot be seen apart drawn once, so
# that the file stays far below the megabyte it took. The case-control run's
# 95% set holds the simulated causal SNP, rs57961984, in a few hundred
# markers at most, not most of the row. With covariates (made up here: only
# the drawing is checked) the panels show the adjusted scan, named for it,
# over the unadjusted scores in grey. Exits 77 (skipped)
# without the package or the shared folder (SHARED, default ../shared).
#
#   plot_check.sh path/to/veltrane
source "$(dirname "$0")/../e2e/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
shared=${SHARED:-$here/../../../shared}
debian_vcf=/usr/share/doc/shapeit4/examples/test/reference.vcf.gz
for needed in "$shared/data/chr20-vcf/chr20-cc.fam" "$debian_vcf"; do
  [ -f "$needed" ] || { echo "SKIP: $needed is missing (the shared data folder, or: apt-get install shapeit4-example)"; exit 77; }
done
# The largest tick label of the -log10 p axes.
axis_top() { grep -o 'x="68.0" y="[0-9.]*" text-anchor="end">[0-9.]*<' "$1" | sed 's/.*>\(.*\)</\1/' | sort -g | tail -n 1; }

awk 'BEGIN { OFS = "\t"; print "#FID", "IID", "PC1", "PC2", "PC3", "PC4" }
     { print $1, $2, (NR * 37 % 101) / 100 - 0.5, (NR * 53 % 97) / 97 - 0.5, (NR * 11 % 89) / 89, (NR * 7 % 83) / 83 }' \
  "$shared/data/chr20-vcf/chr20-cc.fam" > "$work/pcs.eigenvec"

while IFS='|' read -r name mode pheno extra colours words absent; do
  begin_case "whole-vcf-$name"
  read -r -a more <<< "$extra"
  "$bin" run --quiet --vcf "$debian_vcf" --pheno "$shared/data/chr20-vcf/$pheno" --mode "$mode" --permutations 20 \
    --build GRCh37 "${more[@]}" --out "$dir/run" || fail "run failed"
  if [ "$name" = s ]; then
    grep -q $'\trs57961984\t' "$dir/run/credible-set.tsv" || fail "the credible set misses rs57961984"
    [ "$(wc -l < "$dir/run/credible-set.tsv")" -le 301 ] ||
      fail "the credible set holds $(($(wc -l < "$dir/run/credible-set.tsv") - 1)) markers"
  fi
  svg=$dir/run/scan.svg
  [ "$(stat -c %s "$svg")" -lt 400000 ] || fail "scan.svg has $(stat -c %s "$svg") bytes"
  IFS=, read -r -a wanted <<< "$words"
  for word in "${wanted[@]}"; do grep -qF "$word" "$svg" || fail "the plot does not show '$word'"; done
  [ -n "$absent" ] && grep -qF "$absent" "$svg" && fail "the plot shows '$absent'"
  [ "$(axis_top "$svg" | cut -d. -f1)" -lt 20 ] || fail "an axis reaches -log10 p = $(axis_top "$svg")"
  rsvg-convert -w 960 -o "$dir/plot.png" "$svg" 2> "$work/why" || fail "rsvg-convert: $(cat "$work/why")"
  read -r -a hex <<< "$colours"
  python3 "$here/png_check.py" "$dir/plot.png" "${hex[@]}" > "$work/why" 2>&1 || fail "$(cat "$work/why")"
  end_case
done << EOF2
s|s|chr20-cc.fam||1f5fbf 7b3294 b22222 d7301f 3b8bc2 ffe9a8|Single-marker tests,Cluster score,allelic chi-square,p = 5e-8,permutation 5%,recombination rate,GRCh37,predicted marker,credible set|
q|q|chr20-qt.pheno||1f5fbf 7b3294 b22222 8c6d31 3b8bc2|pooled t,Mann-Whitney Z,p = 5e-8,permutation 5%,recombination rate,GRCh37,predicted marker|Welch
s-adjusted|s|chr20-cc.fam|--covar $work/pcs.eigenvec --covar-name PC1-PC4|1f5fbf 7b3294 b22222 d7301f 3b8bc2 ffe9a8 c8c8c8|Single-marker test,Cluster score,adjusted for PC1-PC4,adjusted single-marker test,permutation 5% threshold (adjusted replicates),unadjusted allelic chi-square and cluster score,GRCh37|Single-marker tests
q-adjusted|q|chr20-qt.pheno|--covar $work/pcs.eigenvec --covar-name PC1-PC4|1f5fbf 7b3294 b22222 c8c8c8|adjusted for PC1-PC4,unadjusted pooled t and cluster score,permutation 5% threshold (adjusted replicates)|Mann-Whitney
EOF2
finish
