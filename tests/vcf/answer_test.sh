#!/usr/bin/env bash
# The answer of a run on the bundled example: the credible set (its rows add
# up, it holds the simulated causal SNP of the case-control example, its PIPs
# are those of scan.tsv, the summary gives its size), without a signal no set
# at all, and the risk haplotype (its members are those of the cluster in the
# classic report, its effect and interval those computed from its members).
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

# The members of the risk haplotype as the cluster report lists them: the
# individual's number (its place among the VCF's samples), case or not, core or not.
report_members() {  # run-folder
  local marker cluster
  marker=$(tail -n 1 "$1/results" | cut -f1)
  cluster=$(sed -n 's/^What: risk haplotype, cluster \([0-9]*\) at .*/\1/p' "$1/summary.txt")
  awk -v at="Position: $marker" -v number="Cluster number $cluster" '
    $0 == at { here = 1; next } /^Position:/ { here = 0 } !here { next }
    /^Cluster number/ { inside = ($0 == number); next } /^(ChiSquare|T_Score)/ { inside = 0 }
    inside && /^[0-9]/ { split($3, t, "("); print $1, $2, substr(t[2], 1, 1) }' "$1/output" | sort
}
# The same from risk-haplotype.tsv, with the VCF's samples numbered from 1.
table_members() {  # run-folder
  awk -F'\t' 'NR == FNR { for (k = 10; k <= NF; k++) number[$k] = k - 9; next } FNR > 1 {
    print number[$1], ($3 == "case"), $4 }' <(zcat "$vcf" | grep -m 1 '^#CHROM') "$1/risk-haplotype.tsv" | sort
}

# The odds ratio and Woolf's interval of the summary, from the counts of the table.
begin_case risk-haplotype-case-control
run=$work/set-case-control/run
[ "$(report_members "$run")" = "$(table_members "$run")" ] && [ -n "$(table_members "$run")" ] ||
  fail "the members of risk-haplotype.tsv are not those of the cluster in output"
expected=$(awk -F'\t' 'NR == FNR { cases += ($6 == 2) * 2; controls += ($6 == 1) * 2; next }
  FNR > 1 { if ($3 == "case") a++; else c++ }
  END { b = cases - a; d = controls - c; l = log(a * d / (b * c)); se = sqrt(1/a + 1/b + 1/c + 1/d)
        printf "%d of %d case haplotypes and %d of %d control haplotypes, odds ratio %.3g (95%% CI %.3g to %.3g)",
               a, cases, c, controls, exp(l), exp(l - 1.959964 * se), exp(l + 1.959964 * se) }' "$fam" "$run/risk-haplotype.tsv")
grep -qF "$expected" "$run/summary.txt" || fail "expected '$expected' in: $(grep '^What' "$run/summary.txt")"
end_case

# The difference of trait means and its pooled-t interval (t on 598 degrees of
# freedom: 1.9639389), from the traits of the members and of everyone.
begin_case risk-haplotype-trait
run=$work/set-trait/run
[ "$(report_members "$run" | cut -d' ' -f1,3)" = "$(table_members "$run" | cut -d' ' -f1,3)" ] ||
  fail "the members of risk-haplotype.tsv are not those of the cluster in output"
expected=$(awk -F'\t' 'NR == FNR { if (FNR > 1) { all += 2 * $2; squares += 2 * $2 * $2; n += 2 }; next }
  FNR > 1 { inside += $3; insideSquares += $3 * $3; m++ }
  END { mi = inside / m; mo = (all - inside) / (n - m)
        ss = insideSquares - m * mi * mi + (squares - insideSquares) - (n - m) * mo * mo
        margin = 1.9639389 * sqrt(ss / (n - 2)) * sqrt(1 / m + 1 / (n - m))
        printf "%d haplotypes of trait mean %.3g against %.3g for the rest, difference %.3g (95%% CI %.3g to %.3g)",
               m, mi, mo, mi - mo, mi - mo - margin, mi - mo + margin }' "$qt" "$run/risk-haplotype.tsv")
grep -qF "$expected" "$run/summary.txt" || fail "expected '$expected' in: $(grep '^What' "$run/summary.txt")"
end_case

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
