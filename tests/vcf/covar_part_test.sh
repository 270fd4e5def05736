#!/usr/bin/env bash
# The covariate-adjusted scan in parts: convert --covar, part --covar in 1, 2
# and 3 chunks, then merge give the adjusted columns and permutation p-values
# of run --covar on the same inputs, and its output and results; tables that
# do not fit the data file and parts that do not fit together are refused with
# one line and nothing written.
#
#   covar_part_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
markers=(--vcf "$vcf" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --min-maf 0.05)

# Covariates of every digit (so that only exact decimals give run's fit back),
# a few missing; phenotypes moved to other people, so that the permutation
# p-values fall between 0 and 1.
awk 'BEGIN { OFS = "\t"; CONVFMT = OFMT = "%.17g"; print "#FID", "IID", "PC1", "PC2", "AGE" }
     { print $1, $2, sin(NR) * 10 ^ (NR % 7 - 3) + 0, cos(NR * 1.7) / 3 + 0, NR % 5 == 2 && NR < 40 ? "NA" : NR * 0.37 + 20 }' \
  "$fam" > "$in/pcs.cov"
awk 'BEGIN { FS = OFS = "\t" } { line[NR] = $0; pheno[NR] = $6 } END { for (k = 1; k <= NR; k++) { $0 = line[k]; $6 = pheno[(k * 37) % NR + 1]; print } }' \
  "$fam" > "$in/moved.fam"
awk 'BEGIN { FS = OFS = "\t" } NR == 1 { print; next } { line[NR] = $0; trait[NR] = $2 }
     END { for (k = 2; k <= NR; k++) { $0 = line[k]; $2 = trait[(k * 37) % (NR - 1) + 2]; print } }' "$qt" > "$in/moved.pheno"

# The adjusted columns of a scan.tsv, by name, after the marker's position from 0.
adjusted_columns() {  # scan.tsv
  awk -F'\t' 'BEGIN { OFS = "\t" } NR == 1 { for (k = 1; k <= NF; k++) if ($k ~ /^Adjusted/) keep[k] = 1 }
              { line = NR == 1 ? "index" : NR - 2; for (k = 1; k <= NF; k++) if (k in keep) line = line OFS $k; print line }' "$1"
}

# Scans the converted files in n chunks; the merge goes to $dir/merged-n.
scan_in_parts() {  # mode n [part options]
  local k names=()
  for ((k = 1; k <= $2; k++)); do
    (cd "$dir" && "$bin" part --quiet --mode "$1" --data c.data.txt --params run/params.txt --intervals c.intervals.txt \
      --covar c.covar.tsv --covar-name "PC1-PC2,AGE" "${@:3}" --chunk $k --chunks "$2" --out "$2-$k.part") ||
      fail "part $k of $2 failed"
    names=("$2-$k.part" "${names[@]}")
  done
  (cd "$dir" && "$bin" merge --out "merged-$2" "${names[@]}") || fail "the merge of $2 parts failed"
}

# ---- the parts merge into run's adjusted scan ----
for mode in s q; do
  pheno=$in/moved.fam
  [ "$mode" = q ] && pheno=$in/moved.pheno
  begin_case "parts-like-run-$mode"
  "$bin" run --quiet "${markers[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.cov" --covar-name PC1-PC2,AGE \
    --permutations 40 --out "$dir/run" || fail "run failed"
  "$bin" convert --quiet "${markers[@]}" --mode "$mode" --pheno "$pheno" --covar "$in/pcs.cov" --covar-name PC1-PC2,AGE \
    --out "$dir/c" || fail "convert failed"
  # The table holds the very doubles of the covariate file.
  awk -F'\t' 'NR == FNR { if (FNR > 1 && $5 != "NA") want[++n] = $3 " " $4 " " $5; next }
               FNR > 1 { split(want[FNR - 1], w, " "); if (w[1] != $2 || w[2] != $3 || w[3] != $4) { print FNR; exit 1 } }' \
    "$in/pcs.cov" "$dir/c.covar.tsv" > "$work/why" || fail "c.covar.tsv line $(cat "$work/why") has other values"
  adjusted_columns "$dir/run/scan.tsv" > "$dir/run-adjusted.tsv"
  grep "^Adjusted permutation p-value: " "$dir/run/summary.txt" > "$dir/run-p.txt"
  grep -Eq "cluster 0\.[0-9]*[1-9], single-marker 0\.[0-9]*[1-9]$" "$dir/run-p.txt" ||
    fail "the p-values say little about the replicates' maxima: $(cat "$dir/run-p.txt")"
  for n in 1 2 3; do
    threads=()
    [ "$n" = 2 ] && threads=(--threads 2)
    scan_in_parts "$mode" "$n" "${threads[@]}"
    for file in output results; do same "$dir/run/$file" "$dir/merged-$n/$file"; done
    same "$dir/run-adjusted.tsv" "$dir/merged-$n/adjusted-scan.tsv"
    same "$dir/run-p.txt" "$dir/merged-$n/adjusted-summary.txt"
  done
  head -n 1 "$dir/1-1.part" | grep -qx "veltrane part file 3" || fail "an adjusted part is not of version 3"
  end_case
done

# ---- without --covar, a part is what it was ----
begin_case unadjusted-part-unchanged
# An earlier adjusted merge's files in the folder go.
mkdir -p "$dir/plain" && touch "$dir/plain/adjusted-scan.tsv" "$dir/plain/adjusted-summary.txt"
(cd "$work/parts-like-run-s" && "$bin" part --quiet --data c.data.txt --params run/params.txt --intervals c.intervals.txt \
  --out "$dir/plain.part" && "$bin" merge --out "$dir/plain" "$dir/plain.part") || fail "the unadjusted part failed"
head -n 1 "$dir/plain.part" | grep -qx "veltrane part file 2" || fail "an unadjusted part is not of version 2"
grep -q "covariate\|adjusted" "$dir/plain.part" && fail "an unadjusted part names covariates"
[ "$(ls "$dir/plain")" = "$(printf 'output\nresults')" ] || fail "the merge wrote $(ls "$dir/plain" | tr '\n' ' ')"
same "$work/parts-like-run-s/run/results" "$dir/plain/results"
end_case

# ---- refusals: one line, status 1, nothing written ----
from=$work/parts-like-run-s
cp "$from"/c.* "$from/run/params.txt" "$work/"
awk 'NR != 6' "$work/c.covar.tsv" > "$work/no-line.tsv"
awk 'BEGIN { FS = OFS = "\t" } NR == 6 { $3 = "NA" } { print }' "$work/c.covar.tsv" > "$work/missing.tsv"
awk 'BEGIN { FS = OFS = "\t" } { $5 = NR == 1 ? "SAME" : 1 } { print }' "$work/c.covar.tsv" > "$work/constant.tsv"
awk 'BEGIN { FS = OFS = "\t" } NR == 8 { $1 = 900 } { print }' "$work/c.data.txt" > "$work/alone.data.txt"
awk 'BEGIN { FS = OFS = "\t" } NR == 5 { $2 = $2 == "a" ? "u" : "a" } { print }' "$work/c.data.txt" > "$work/split.data.txt"
awk 'BEGIN { FS = OFS = "\t" } NR == 6 || NR == 7 { $1 = 1 } { print }' "$work/c.data.txt" > "$work/twice.data.txt"
part=(part --params "$work/params.txt" --intervals "$work/c.intervals.txt" --out "$work/refused.part")
while IFS='|' read -r name message arguments; do
  begin_case "refuse-$name"
  read -r -a args <<< "$arguments"
  check_refusal "$message" "$bin" "${part[@]}" "${args[@]}"
  [ -e "$work/refused.part" ] && fail "a part file was written"
  end_case
done << EOF2
no-line|no-line.tsv: identifier 5 of $work/c.data.txt has no line; the table of a data file holds every person|--data $work/c.data.txt --covar $work/no-line.tsv
missing-value|missing.tsv: identifier 5 of $work/c.data.txt has a missing covariate|--data $work/c.data.txt --covar $work/missing.tsv
constant|constant.tsv: covariate 'SAME' is the same for all 292 individuals kept; leave it out|--data $work/c.data.txt --covar $work/constant.tsv
no-column|c.covar.tsv:1: no covariate column 'PC3' in the header|--data $work/c.data.txt --covar $work/c.covar.tsv --covar-name PC3
alone|alone.data.txt:8: identifier 900 is on this line alone|--data $work/alone.data.txt --covar $work/c.covar.tsv
split-phenotype|split.data.txt:5: phenotype|--data $work/split.data.txt --covar $work/c.covar.tsv
identifier-twice|twice.data.txt:6: identifier 1 is already a person's on line 2|--data $work/twice.data.txt --covar $work/c.covar.tsv
EOF2

begin_case part-covar-name-without-covar
(cd "$dir" && "$bin" "${part[@]}" --data "$work/c.data.txt" --covar-name PC1 > /dev/null 2> "$work/stderr")
[ $? -eq 2 ] || fail "expected a usage error"
grep -q -- "--covar-name needs --covar" "$work/stderr" || fail "message: $(cat "$work/stderr")"
end_case

# Parts of positions 0-39 and 40 to the end, adjusted otherwise or not at all.
scan_range() {  # name from to [part options]
  (cd "$work" && "$bin" part --quiet --data c.data.txt --params params.txt --intervals c.intervals.txt \
    --from "$2" ${3:+--to "$3"} "${@:4}" --out "$1.part") || fail_extra "part $1 failed"
}
cp "$work/c.covar.tsv" "$work/same-columns.tsv"
printf '\n' >> "$work/same-columns.tsv"
scan_range early 0 40 --covar c.covar.tsv
scan_range late 40 "" --covar c.covar.tsv
scan_range late-plain 40 ""
scan_range late-names 40 "" --covar c.covar.tsv --covar-name PC1,PC2
scan_range late-file 40 "" --covar same-columns.tsv
refuse() {  # name 'text the message must hold' part...
  begin_case "refuse-merge-$1"
  check_refusal "$2" "$bin" merge --out "$work/merged" "${@:3}"
  end_case
}
refuse unadjusted "late-plain.part: a scan without covariates, mixed with the covariate-adjusted scan of" \
  "$work/early.part" "$work/late-plain.part"
refuse adjusted "late.part: a scan adjusted for covariates, mixed with the unadjusted scan of" \
  "$work/late-plain.part" "$work/late.part"
refuse other-names "late-names.part: a scan adjusted for other covariates (--covar-name) than" \
  "$work/early.part" "$work/late-names.part"
refuse other-file "late-file.part: a scan adjusted with another covariate file (--covar) than" \
  "$work/early.part" "$work/late-file.part"
# ---- the workflow passes the covariates through, off by default ----
# A VCF data set converted with its covariate file, and a data folder with the
# converted table (the run's people and their order), both in 3 chunks.
begin_case workflow
top=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$dir/folder"
cp "$from/c.data.txt" "$dir/folder/data.txt"
cp "$from/c.intervals.txt" "$dir/folder/intervals.txt"
cp "$from/run/params.txt" "$dir/folder/params.txt"
cat > "$dir/study.yaml" << EOF2
out: OUT
chunks: 3
permute: individuals
datasets:
  vcf: {vcf: $vcf, pheno: $in/moved.fam, genetic_map: $gmap, params: $dir/folder/params.txt,
        convert_options: "--region 20:2740000-2800000 --snps-only --min-maf 0.05",
        covar: $in/pcs.cov, covar_name: "PC1-PC2,AGE"}
  folder: {data: $dir/folder, covar: $from/c.covar.tsv, covar_name: "PC1-PC2,AGE"}
  plain: {data: $dir/folder}
EOF2
(cd "$dir" && PATH="$(dirname "$bin"):$PATH" snakemake --quiet --cores 2 --snakefile "$top/workflow/Snakefile" \
  --configfile study.yaml > snakemake.log 2>&1) || { fail "the workflow failed:"; tail -n 20 "$dir/snakemake.log"; }
for name in vcf folder; do
  for file in output results; do same "$from/run/$file" "$dir/OUT/$name/$file"; done
  same "$from/run-adjusted.tsv" "$dir/OUT/$name/adjusted-scan.tsv"
  same "$from/run-p.txt" "$dir/OUT/$name/adjusted-summary.txt"
done
same "$from/c.covar.tsv" "$dir/OUT/vcf/converted.covar.tsv"
[ "$(ls "$dir/OUT/plain")" = "$(printf 'output\nparts\nresults')" ] || fail "OUT/plain holds $(ls "$dir/OUT/plain" | tr '\n' ' ')"
same "$from/run/results" "$dir/OUT/plain/results"
end_case

begin_case merge-adjusted-halves
(cd "$work" && "$bin" merge --out halves early.part late.part) || fail "the merge of the halves failed"
same "$from/run-adjusted.tsv" "$work/halves/adjusted-scan.tsv"
end_case
finish
