#!/usr/bin/env bash
# veltrane run --within on the bundled example: one stratum of everyone draws
# the replicates of a run without strata; strata that hold the labels fixed
# (everyone a stratum of one, or the strata the phenotype itself) give every
# replicate the observed maximum, so a replicate that moves a label across
# strata shows; the threads do not change the draws; people without a stratum
# are left out and counted; bad within files are refused with one line.
#
#   within_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
inputs=(--vcf "$vcf" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --min-maf 0.05 --permutations 30)

awk '{ print $1, $2, "ALL" }' "$fam" > "$in/one.within"
awk '{ print $1, $2, $2 }' "$fam" > "$in/alone.within"
awk '{ print $1, $2, "S" (NR % 3) }' "$fam" > "$in/three.within"
awk 'BEGIN { OFS = "\t"; print "#FID", "IID", "STATUS" } { print $1, $2, $6 }' "$fam" > "$in/status.within"
# A trait of a few levels, and its levels as strata.
awk 'BEGIN { OFS = "\t" } NR == 1 { print; next } { print $1, int($2 * 3) / 3 }' "$qt" > "$in/levels.pheno"
awk 'BEGIN { OFS = "\t"; print "#IID", "LEVEL" } NR > 1 { print $1, "L" $2 }' "$in/levels.pheno" > "$in/levels.within"
awk 'BEGIN { OFS = "\t"; print "#FID", "IID", "PC1", "PC2" }
     { print $1, $2, (NR * 37 % 101) / 100 - 0.5, (NR * 53 % 97) / 97 - 0.5 }' "$fam" > "$in/pcs.eigenvec"

# The permutation p-values of a results block's summary lines, one per line.
permutation_ps() {  # results
  awk -F'\t' '/^Veltrane:predicted_Pos/ { for (k = 1; k <= NF; k++) if ($k == "permutation_p-Value") want[k] = 1; getline
                                           for (k in want) print $k }' "$1"
}
# Fails the case unless every permutation p-value of the run is 1.
all_ones() {  # run-folder
  [ -n "$(permutation_ps "$1/results")" ] || fail "no permutation p-value in $1/results"
  permutation_ps "$1/results" | grep -qv '^1$' && fail "a permutation p-value below 1: $(permutation_ps "$1/results" | tr '\n' ' ')"
  grep '^Adjusted permutation p-value' "$1/summary.txt" | grep -qv 'cluster 1, single-marker 1$' &&
    fail "$(grep '^Adjusted permutation' "$1/summary.txt")"
}

# ---- one stratum of everyone: the files of a run without strata ----
for mode in s q; do
  pheno=$fam
  [ "$mode" = q ] && pheno=$qt
  for unit in individuals haplotypes; do
    for covar in "" "--covar $in/pcs.eigenvec"; do
      begin_case "one-stratum-$mode-$unit${covar:+-covar}"
      read -r -a extra <<< "$covar"
      "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --permute "$unit" "${extra[@]}" --out "$dir/plain" ||
        fail "run failed"
      "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --permute "$unit" "${extra[@]}" \
        --within "$in/one.within" --out "$dir/one" || fail "run with --within failed"
      for file in output results scan.tsv credible-set.tsv risk-haplotype.tsv scan.svg; do same "$dir/plain/$file" "$dir/one/$file"; done
      same <(sed "s|$in/||; s/^\(  shuffled: .*\)\$/\1, within one stratum of one.within/" "$dir/plain/summary.txt") \
        <(sed "s|$in/||; /^  replicates: /d" "$dir/one/summary.txt")
      [ -z "$covar" ] || grep -q "^  replicates: $([ "$mode" = q ] && echo residuals || echo case labels)" "$dir/one/summary.txt" ||
        fail "no replicates line in the adjusted section"
      end_case
    done
  done
done

# ---- strata that hold every label in place: each replicate's maximum is the observed one ----
while read -r name mode pheno within unit; do
  begin_case "fixed-labels-$name-$unit"
  covar=()
  [ "$name" = alone ] && covar=(--covar "$in/pcs.eigenvec")
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --within "$within" --permute "$unit" "${covar[@]}" \
    --out "$dir/run" || fail "run failed"
  all_ones "$dir/run"
  # Without the strata the same data set is significant, so the check can fail.
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --permute "$unit" "${covar[@]}" --out "$dir/plain" ||
    fail "run failed"
  permutation_ps "$dir/plain/results" | grep -q '^0$' || fail "no permutation p-value of 0 without the strata"
  end_case
done << EOF
status s $fam $in/status.within individuals
status s $fam $in/status.within haplotypes
levels q $in/levels.pheno $in/levels.within individuals
levels q $in/levels.pheno $in/levels.within haplotypes
alone q $qt $in/alone.within individuals
EOF

# ---- strata shuffled for real, on phenotypes unrelated to the genotypes so that the
# ---- p-values fall in between: the same files on 1 and 3 threads, not those without strata ----
awk 'BEGIN { OFS = "\t" } { print $1, $2, 0, 0, 0, NR * 37 % 5 < 2 ? 2 : 1 }' "$fam" > "$in/null.fam"
awk 'BEGIN { OFS = "\t"; print "#IID", "trait" } { print $2, (NR * 29 % 83) / 83 }' "$fam" > "$in/null.pheno"
for mode in s q; do
  pheno=$in/null.fam
  [ "$mode" = q ] && pheno=$in/null.pheno
  begin_case "threads-$mode"
  for threads in 1 3; do
    "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.eigenvec" --within "$in/three.within" \
      --threads "$threads" --out "$dir/t$threads" 2> /dev/null || fail "run on $threads threads failed"
  done
  for file in output results scan.tsv summary.txt; do same "$dir/t1/$file" "$dir/t3/$file"; done
  grep -q "^  shuffled: individuals, both haplotypes together, within the 3 strata of $in/three.within\$" "$dir/t1/summary.txt" ||
    fail "shuffled: $(grep '^  shuffled' "$dir/t1/summary.txt")"
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.eigenvec" --out "$dir/plain" ||
    fail "run failed"
  [ "$(permutation_ps "$dir/plain/results")" != "$(permutation_ps "$dir/t1/results")" ] ||
    fail "the strata left the classic permutation p-values as they were: $(permutation_ps "$dir/t1/results" | tr '\n' ' ')"
  [ "$mode" = s ] || ! cmp -s <(grep '^Adjusted permutation' "$dir/plain/summary.txt") \
    <(grep '^Adjusted permutation' "$dir/t1/summary.txt") || fail "the strata left the adjusted permutation p-values as they were"
  end_case
done

# ---- people without a stratum are left out, as if the phenotype file lacked them ----
begin_case missing-strata
awk 'NR == 3 { $3 = "NA" } NR != 7 && NR != 9' "$in/three.within" > "$in/missing.within"
awk 'NR != 3 && NR != 7 && NR != 9' "$fam" > "$in/kept.fam"
"$bin" run --quiet "${inputs[@]}" --pheno "$fam" --within "$in/missing.within" --out "$dir/run" || fail "run failed"
"$bin" run --quiet "${inputs[@]}" --pheno "$in/kept.fam" --within "$in/missing.within" --out "$dir/kept" ||
  fail "run on the kept people failed"
for file in output results scan.tsv; do same "$dir/kept/$file" "$dir/run/$file"; done
grep -q "^  individuals: 297 " "$dir/run/summary.txt" || fail "$(grep '^  individuals' "$dir/run/summary.txt")"
grep -q "^  3 samples without a stratum (NA, empty, or no line in the within file)\$" "$dir/run/summary.txt" ||
  fail "Left out: $(sed -n '/^Left out/,$p' "$dir/run/summary.txt")"
grep -q "VCF sample" "$dir/run/summary.txt" && fail "the people left out for a stratum are counted as unphenotyped"
end_case

# ---- refusals: one line, status 1, and no output folder ----
: > "$in/empty.within"
awk '{ print } NR == 5 { print }' "$in/three.within" > "$in/twice.within"
awk 'NR == 4 { $0 = $1 " " $2 } { print }' "$in/three.within" > "$in/ragged.within"
awk 'BEGIN { OFS = "\t" } NR == 1 { $4 = "BATCH" } NR > 1 { $4 = "B1" } { print }' "$in/status.within" > "$in/two-columns.within"
awk '{ print $2, $3 }' "$in/three.within" > "$in/no-fid.within"
run=(run --vcf "$vcf" --pheno "$fam" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --out out)
refusals "$bin" "${run[@]}" << EOF2
within-empty|empty.within: no sample in the within file|--within $in/empty.within
within-sample-twice|twice.within:6: sample 'HG00101' is already on line 5|--within $in/twice.within
within-ragged|ragged.within:4: expected 3 fields, found 2|--within $in/ragged.within
within-two-columns|two-columns.within:1: a within file has one stratum column after the sample ids, not 2|--within $in/two-columns.within
within-no-fid|no-fid.within:1: a within file without a header has 3 fields: FID IID STRATUM|--within $in/no-fid.within
within-missing-file|no-such.within|--within $in/no-such.within
EOF2

finish
