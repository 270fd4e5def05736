#!/usr/bin/env bash
# veltrane run --covar on the bundled example: the classic files stay those of
# the unadjusted scan of the individuals kept; PLINK 2 tables and PLINK 1
# covariate files give the same adjusted scan, and the plot shows it, named
# so; missing values leave people out, of convert as of run; convert writes
# the covariates of the people it keeps by their data-file identifiers; bad
# covariates are refused with one line and nothing written, by convert as by run.
#
#   covar_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
markers=(--vcf "$vcf" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --min-maf 0.05)
inputs=("${markers[@]}" --permutations 30)

# Made-up covariates that vary smoothly enough, the same with any awk.
awk 'BEGIN { OFS = "\t"; print "#FID", "IID", "PC1", "PC2", "PC3" }
     { print $1, $2, (NR * 37 % 101) / 100 - 0.5, (NR * 53 % 97) / 97 - 0.5, (NR * 11 % 89) / 89 }' "$fam" \
  > "$in/pcs.eigenvec"
tail -n +2 "$in/pcs.eigenvec" | tr '\t' ' ' > "$in/pcs.plink1"
cut -f2- "$in/pcs.eigenvec" > "$in/pcs-iid.eigenvec"

# The adjusted columns of a scan.tsv, by name.
adjusted_columns() {  # scan.tsv
  awk -F'\t' 'NR == 1 { for (k = 1; k <= NF; k++) if ($k ~ /^Adjusted/) keep[k] = 1 }
              { line = ""; for (k = 1; k <= NF; k++) if (k in keep) line = line $k "\t"; print line }' "$1"
}

# The plain runs' scan.svg, which --covar must not change (in mode q the
# marker labels sit below the genome-wide line, clear of it).
declare -A plain_plot=([s]=e75891985340d17f5e08c7b01056231ff53ee8c1c8ef1e1a17382075ce78a516
                       [q]=b54256438eed561050dcbe89e1ea314ff0ac8a3acb8ffdfd9d06288de21c0bf4)

# ---- the classic files do not change; every format gives the same adjusted scan ----
for mode in s q; do
  pheno=$fam
  [ "$mode" = q ] && pheno=$qt
  begin_case "plain-$mode"
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --out "$dir/plain" || fail "run failed"
  [ "$(sha256sum < "$dir/plain/scan.svg" | cut -d' ' -f1)" = "${plain_plot[$mode]}" ] || fail "scan.svg of the plain run changed"
  end_case
  begin_case "eigenvec-$mode"
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.eigenvec" --covar-name PC1-PC2 \
    --threads 1 --out "$dir/run" || fail "run failed"
  plain=$work/plain-$mode/plain
  for file in output results markers.tsv params.txt; do same "$plain/$file" "$dir/run/$file"; done
  # The table: the classic columns, the four adjusted ones, then the PIP.
  same <(cut -f1-$(($(head -n 1 "$plain/results" | awk -F'\t' '{ print NF }') + 6)) "$plain/scan.tsv") \
    <(cut -f1-$(($(head -n 1 "$plain/results" | awk -F'\t' '{ print NF }') + 6)) "$dir/run/scan.tsv")
  head -n 1 "$dir/run/scan.tsv" | grep -q $'\tAdjustedClusterZ\tAdjustedClusterMinusLog10P\tAdjustedSingleZ\tAdjustedSingleMinusLog10P\tPIP$' ||
    fail "scan.tsv header: $(head -n 1 "$dir/run/scan.tsv")"
  rows_pass "$dir/run/scan.tsv" '$(NF-4) == "NaN" || $(NF-4) + 0 > -40' "an adjusted cluster Z"
  grep -q "^Covariate-adjusted scan: adjusted for PC1-PC2; 300 individuals\$" "$dir/run/summary.txt" ||
    fail "no adjusted section in the summary"
  grep -Eq "^Adjusted permutation p-value: cluster [0-9.e-]+, single-marker [0-9.e-]+\$" "$dir/run/summary.txt" ||
    fail "no adjusted permutation line in the summary"
  grep -q "^Signal: .*covariate-adjusted cluster score permutation p" "$dir/run/summary.txt" ||
    fail "the signal is not the adjusted one: $(grep '^Signal' "$dir/run/summary.txt")"
  # The plot: the adjusted scores, named so, over the unadjusted ones in grey.
  for words in ">Single-marker test, adjusted for PC1-PC2<" ">Cluster score, adjusted for PC1-PC2<" ">-log10 p<" \
    "permutation 5% threshold (adjusted replicates)" ">unadjusted " 'stroke="#c8c8c8"'; do
    grep -qF -- "$words" "$dir/run/scan.svg" || fail "the plot does not show '$words'"
  done
  grep -qF ">Single-marker tests<" "$dir/run/scan.svg" && fail "the adjusted plot is titled as the unadjusted one"
  rsvg-convert -w 480 -o "$dir/plot.png" "$dir/run/scan.svg" 2> "$work/why" || fail "rsvg-convert: $(cat "$work/why")"
  python3 "$(dirname "$0")/png_check.py" "$dir/plot.png" 1f5fbf 7b3294 c8c8c8 > "$work/why" 2>&1 || fail "$(cat "$work/why")"
  # Two threads, a PLINK 1 file and an #IID table: the same files.
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.eigenvec" --covar-name PC1-PC2 \
    --threads 2 --out "$dir/threads" || fail "run on two threads failed"
  for file in output results scan.tsv summary.txt scan.svg; do same "$dir/run/$file" "$dir/threads/$file"; done
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.plink1" --covar-name COV1,COV2 \
    --out "$dir/plink1" || fail "run on the PLINK 1 file failed"
  same "$dir/run/scan.tsv" "$dir/plink1/scan.tsv"
  same <(sed 's/PC1-PC2/COV1,COV2/; s/pcs.eigenvec/pcs.plink1/' "$dir/run/summary.txt") "$dir/plink1/summary.txt"
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs-iid.eigenvec" --covar-name PC1,PC2 \
    --out "$dir/iid" || fail "run on the #IID table failed"
  same "$dir/run/scan.tsv" "$dir/iid/scan.tsv"
  end_case
done

# ---- a covariate that is a marker's ALT count leaves that marker nothing to test ----
begin_case covariate-explains-a-marker
marker=$(awk -F'\t' 'NR > 1 && $11 > best { best = $11; row = NR } END { print row - 1 }' "$work/plain-s/plain/scan.tsv")
zcat "$vcf" | awk -v want="$(sed -n "$((marker + 1))p" "$work/plain-s/plain/scan.tsv" | cut -f2)" \
  'BEGIN { OFS = "\t" } /^#CHROM/ { for (k = 10; k <= NF; k++) name[k] = $k } !/^#/ && $2 == want {
     print "#IID", "DOSAGE"; for (k = 10; k <= NF; k++) print name[k], substr($k, 1, 1) + substr($k, 3, 1) }' \
  > "$in/dosage.cov"
"$bin" run --quiet "${inputs[@]}" --pheno "$fam" --covar "$in/dosage.cov" --out "$dir/run" || fail "run failed"
[ "$(sed -n "$((marker + 1))p" "$dir/run/scan.tsv" | awk -F'\t' '{ print $(NF-2) }')" = NaN ] ||
  fail "marker $marker, the covariate itself, still has an adjusted single-marker Z"
end_case

# ---- missing values leave people out of the whole run ----
begin_case missing-values
awk 'BEGIN { FS = OFS = "\t" } NR == 3 { $3 = "NA" } NR == 5 { $4 = "" } NR == 7 { $3 = "-9" } NR != 9' \
  "$in/pcs.eigenvec" > "$in/missing.eigenvec"
# The same people left out of the phenotypes instead.
awk 'NR != 2 && NR != 4 && NR != 6 && NR != 8' "$fam" > "$in/kept.fam"
"$bin" run --quiet "${inputs[@]}" --pheno "$fam" --covar "$in/missing.eigenvec" --covar-name PC1-PC2 \
  --out "$dir/run" || fail "run failed"
"$bin" run --quiet "${inputs[@]}" --pheno "$in/kept.fam" --out "$dir/kept" || fail "run on the kept people failed"
for file in output results markers.tsv; do same "$dir/kept/$file" "$dir/run/$file"; done
grep -q "^Covariate-adjusted scan: adjusted for PC1-PC2; 296 individuals\$" "$dir/run/summary.txt" ||
  fail "the adjusted scan does not count 296 individuals"
grep -q "^  4 samples with a missing covariate" "$dir/run/summary.txt" || fail "Left out: $(sed -n '/^Left out/,$p' "$dir/run/summary.txt")"
grep -q "VCF sample" "$dir/run/summary.txt" && fail "the people left out for a covariate are counted as unphenotyped"
# convert leaves out the same people, in the same order, and counts them as run does.
"$bin" convert "${markers[@]}" --pheno "$fam" --covar "$in/missing.eigenvec" --covar-name PC1-PC2 --out "$dir/c" \
  2> "$dir/convert.stderr" || fail "convert failed"
"$bin" convert --quiet "${markers[@]}" --pheno "$in/kept.fam" --out "$dir/k" || fail "convert of the kept people failed"
for file in data.txt intervals.txt markers.tsv; do same "$dir/k.$file" "$dir/c.$file"; done
grep -q "^veltrane: 146 markers of 296 individuals\$" "$dir/convert.stderr" || fail "convert: $(head -n 1 "$dir/convert.stderr")"
same <(sed -n '/^Left out/,/^$/p' "$dir/run/summary.txt" | sed '1d; $d; s/^  /veltrane: left out /') \
  <(grep "left out" "$dir/convert.stderr")
# The table: the kept people in the VCF's order, numbered as in the data file, their values as in the file.
zcat "$vcf" | awk 'BEGIN { FS = OFS = "\t" } NR == FNR { if (FNR > 1 && $3 != "NA" && $3 != "-9" && $4 != "") pc[$2] = $3 OFS $4; next }
  /^#CHROM/ { print "#IID", "PC1", "PC2"; for (k = 10; k <= NF; k++) if ($k in pc) print ++n, pc[$k]; exit }' \
  "$in/missing.eigenvec" - > "$dir/expected.covar.tsv"
same "$dir/expected.covar.tsv" "$dir/c.covar.tsv"
end_case

# ---- refusals: one line, status 1, and no output folder ----
awk 'BEGIN { FS = OFS = "\t" } NR == 4 { $4 = "EUR" } { print }' "$in/pcs.eigenvec" > "$in/text.eigenvec"
awk 'BEGIN { FS = OFS = "\t" } { $6 = NR == 1 ? "BATCH" : 1 } { print }' "$in/pcs.eigenvec" > "$in/constant.cov"
awk 'BEGIN { FS = OFS = "\t" } { $6 = NR == 1 ? "SUM" : $3 + 2 * $4 } { print }' "$in/pcs.eigenvec" > "$in/collinear.cov"
awk 'BEGIN { FS = OFS = "\t" } { print } NR == 6 { print }' "$in/pcs.eigenvec" > "$in/twice.cov"
awk 'BEGIN { FS = OFS = "\t" } NR == 6 { NF = 4 } { print }' "$in/pcs.eigenvec" > "$in/ragged.cov"
common=(--vcf "$vcf" --pheno "$fam" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --out out)
while IFS='|' read -r name message arguments; do
  read -r -a args <<< "$arguments"
  for command in run convert; do
    begin_case "$command-$name"
    check_refusal "$message" "$bin" "$command" "${common[@]}" "${args[@]}"
    end_case
  done
done << EOF2
covar-not-a-number|text.eigenvec:4: covariate 'PC2' of sample 'HG00099' is 'EUR', not a number (a categorical covariate goes in as 0/1 indicator columns)|--covar $in/text.eigenvec
covar-constant|constant.cov: covariate 'BATCH' is the same for all 300 individuals kept; leave it out|--covar $in/constant.cov
covar-collinear|collinear.cov: covariate 'SUM' is a linear combination of the intercept, PC1, PC2, PC3 over the 300 individuals kept|--covar $in/collinear.cov
covar-no-column|pcs.eigenvec:1: no covariate column 'PC4' in the header|--covar $in/pcs.eigenvec --covar-name PC1-PC4
covar-plink1-names|pcs.plink1:1: no covariate column 'PC1' (without a header line the columns are COV1 to COV3)|--covar $in/pcs.plink1 --covar-name PC1
covar-sample-twice|twice.cov:7: sample 'HG00101' is already on line 6|--covar $in/twice.cov
covar-ragged|ragged.cov:6: expected 5 fields, found 4|--covar $in/ragged.cov
covar-missing-file|no-such.cov|--covar $in/no-such.cov
EOF2

for command in run convert; do
  begin_case "$command-covar-name-without-covar"
  (cd "$dir" && "$bin" "$command" "${common[@]}" --covar-name PC1 > /dev/null 2> "$work/stderr")
  [ $? -eq 2 ] || fail "expected a usage error"
  grep -q -- "--covar-name needs --covar" "$work/stderr" || fail "message: $(cat "$work/stderr")"
  end_case
done

finish
