#!/usr/bin/env bash
# The answer of a run on the bundled example: the credible set (its rows add
# up, it holds the simulated causal SNP of the case-control example, its PIPs are those of scan.tsv, the
# summary gives its size) and, without a signal, no set at all.
#
#   answer_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
inputs=(--vcf "$vcf" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --min-maf 0.05 --permutations 20)

# Fails unless credible-set.tsv is the smallest prefix reaching 0.95, most probable first.
check_credible_set() {  # run-folder
  awk -F'\t' 'NR == 1 { if ($0 != "chrom\tpos\tid\tPIP\tcumulativePIP") bad = "header " $0; next }
    { sum += $4; if ($4 > last && NR > 2) bad = "row " NR " is more probable than the one before"
      if (sum - $5 > 1e-5 || $5 - sum > 1e-5) bad = "row " NR ": cumulative PIP " $5 ", sum " sum
      if (before >= 0.95) bad = "row " NR " follows a cumulative PIP of " before
      last = $4; before = $5 }
    END { if (before < 0.95) bad = "the set ends at " before; if (bad) { print bad; exit 1 } }' \
    "$1/credible-set.tsv" > "$work/why" || fail "credible-set.tsv: $(cat "$work/why")"
  # The same PIPs as the scan table's column, which sums to 1.
  awk -F'\t' 'FNR == 1 { next } NR == FNR { pip[$3] = $NF; total += $NF; next }
    { if (($3 in pip) == 0 || pip[$3] != $4) { print "PIP of " $3 ": " $4 " against " pip[$3]; exit 1 } }
    END { if (total < 0.9999 || total > 1.0001) { print "the PIPs of scan.tsv add up to " total; exit 1 } }' \
    "$1/scan.tsv" "$1/credible-set.tsv" > "$work/why" || fail "$(cat "$work/why")"
  local size=$(($(wc -l < "$1/credible-set.tsv") - 1))
  grep -q "^Where: 95% credible set of $size markers, 20:" "$1/summary.txt" ||
    fail "the summary does not give the set's $size markers: $(grep '^Where' "$1/summary.txt")"
}

# Rows: name | mode | phenotypes | the causal SNP, where the example names it.
while IFS='|' read -r name mode pheno causal; do
  begin_case "$name"
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --out "$dir/run" || fail "run failed"
  grep -q '^Signal: yes, cluster score permutation p < 0.05 (20 replicates)$' "$dir/run/summary.txt" ||
    fail "no signal: $(grep '^Signal' "$dir/run/summary.txt")"
  check_credible_set "$dir/run"
  [ -z "$causal" ] || grep -q $'\t'"$causal"$'\t' "$dir/run/credible-set.tsv" || fail "the set misses $causal"
  end_case
done << EOF2
set-case-control|s|$fam|rs57961984
set-trait|q|$qt|
EOF2

# Phenotypes that alternate along the file: no signal, so no set.
begin_case no-signal
awk 'BEGIN { OFS = "\t" } { $6 = 1 + NR % 2; print }' "$fam" > "$in/alternating.fam"
"$bin" run --quiet "${inputs[@]}" --pheno "$in/alternating.fam" --permutations 0 --out "$dir/run" || fail "run failed"
grep -q '^Signal: none detected, smallest single-marker p times [0-9,]* markers = ' "$dir/run/summary.txt" &&
  grep -q '^Where: no credible set without a signal$' "$dir/run/summary.txt" ||
  fail "the summary claims a signal: $(sed -n 3,4p "$dir/run/summary.txt")"
[ "$(cat "$dir/run/credible-set.tsv")" = $'chrom\tpos\tid\tPIP\tcumulativePIP' ] || fail "a set without a signal"
end_case

finish
