#!/usr/bin/env bash
# veltrane run and plot on the bundled example: run writes output and results
# byte for byte as a classic run on the converted files does (one results
# block, even over an earlier run), a table and a summary that agree with
# them, and a plot that a real SVG renderer draws; bad inputs stop it with
# nothing written. plot draws results files, and rejects malformed ones.
#
#   run_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
inputs=(--vcf "$vcf" --genetic-map "$gmap" --region 20:2740000-2800000 --snps-only --min-maf 0.05)
# As run writes it from the flags of the first case below.
printf 'radiusMode\t1\t0.5\ndensityFraction\t0.1\nwindowWidth\t21\nweightScheme\t1\t-30\t1\npermutations\t20\nreportThreshold\t2.0\n' \
  > "$in/params.txt"

# Renders an SVG to PNG and checks that it is drawn, in the given colours.
check_plot() {  # svg colour...
  rsvg-convert -w 480 -o "$work/plot.png" "$1" 2> "$work/why" || fail "rsvg-convert: $(cat "$work/why")"
  python3 "$here/png_check.py" "$work/plot.png" "${@:2}" > "$work/why" 2>&1 || fail "$(cat "$work/why")"
}

# The scan.tsv columns are the marker table's, then the results lines', then the PIPs.
check_scan_table() {  # run-folder
  local markers=$(($(wc -l < "$1/markers.tsv") - 1)) columns
  columns=$(head -n 1 "$1/results" | awk -F'\t' '{ print NF }')
  diff <(tail -n +2 "$1/markers.tsv" | cut -f2-7) <(tail -n +2 "$1/scan.tsv" | cut -f1-6) > /dev/null ||
    fail "scan.tsv does not start with the marker table's columns"
  diff <(sed -n "2,$((markers + 1))p" "$1/results" | sed 's/-\?nan/NaN/g; s/-inf/-Inf/g; s/\binf/Inf/g') \
    <(tail -n +2 "$1/scan.tsv" | cut -f7-$((6 + columns))) > /dev/null || fail "scan.tsv does not hold the results lines"
  head -n 1 "$1/scan.tsv" | grep -q $'\tPIP$' || fail "scan.tsv does not end with a PIP column"
}

# The summary's Files line names every file of the folder but itself, and no other.
check_files_line() {  # run-folder
  local named
  named=$(sed -n 's/^Files: //p' "$1/summary.txt" | sed 's/ ([^)]*)//g; s/,* and /, /g' | tr -s ', ' '\n' | sort)
  [ "$named" = "$(ls "$1" | grep -vx summary.txt | sort)" ] ||
    fail "the Files line names $(echo $named) in a folder of $(ls "$1" | tr '\n' ' ')"
}

# Rows: name | mode | phenotypes | parameters | colours of the plot: the cluster score, the
# predicted marker, the genome-wide line, r² bins (and the Mann-Whitney squares).
while IFS='|' read -r name mode pheno parameters colours; do
  begin_case "$name"
  read -r -a params <<< "$parameters"
  # The classic run on the converted files.
  "$bin" convert --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" --out "$dir/c" || fail "convert failed"
  cp "$in/params.txt" "$dir/params.txt"
  (cd "$dir" && "$bin" "-$mode" c.data.txt params.txt c.intervals.txt) || fail "classic run failed"
  # An earlier run's results in the folder must not stay.
  mkdir "$dir/run" && cp "$dir/c.data.txt-results" "$dir/run/results"
  "$bin" run --quiet "${inputs[@]}" --mode "$mode" --pheno "$pheno" "${params[@]}" --permute haplotypes \
    --out "$dir/run" || fail "run failed"
  same "$dir/output" "$dir/run/output"
  same "$dir/c.data.txt-results" "$dir/run/results"
  same "$dir/c.markers.tsv" "$dir/run/markers.tsv"
  same "$in/params.txt" "$dir/run/params.txt"
  check_scan_table "$dir/run"
  check_files_line "$dir/run"
  best=$(tail -n 1 "$dir/run/results" | cut -f1)
  grep -q "^Predicted locus: 20:.*\$" "$dir/run/summary.txt" && grep -q ", marker $best\$" "$dir/run/summary.txt" ||
    fail "the summary does not name marker $best: $(head -n 6 "$dir/run/summary.txt")"
  grep -q "600 haplotypes" "$dir/run/summary.txt" || fail "the summary does not count 600 haplotypes"
  grep -q "^  shuffled: single haplotypes\$" "$dir/run/summary.txt" || fail "the summary does not say what was shuffled"
  read -r -a colours <<< "$colours"
  check_plot "$dir/run/scan.svg" "${colours[@]}"
  end_case
done << EOF2
case-control-flags|s|$fam|--radius 1,0.5 --density 0.1 --window 21 --weights 1,-30,1 --permutations 20 --threshold 2.0|1f5fbf 7b3294 b22222 253494
trait-params-file|q|$qt|--params $in/params.txt|1f5fbf 7b3294 b22222 253494 8c6d31
EOF2

# The lighter reports: without member lines, none, or bgzip-compressed; the
# other files stay those of the full run.
full=$work/case-control-flags/run
strip_members() {  # report: the member lines between a cluster's number and its score header go
  awk '/^Cluster number/ { print; skip = 1; next } /^(ChiSquare|T_Score)\t/ { skip = 0 } !skip' "$1"
}
while IFS='|' read -r name arguments; do
  begin_case "$name"
  read -r -a args <<< "$arguments"
  "$bin" run --quiet "${inputs[@]}" --pheno "$fam" --params "$in/params.txt" --permute haplotypes "${args[@]}" \
    --out "$dir/run" || fail "run failed"
  for file in results scan.tsv markers.tsv; do same "$full/$file" "$dir/run/$file"; done
  same <(grep -v '^Files: ' "$full/summary.txt") <(grep -v '^Files: ' "$dir/run/summary.txt")
  check_files_line "$dir/run"
  case $name in
    report-clusters) same <(strip_members "$full/output") "$dir/run/output" ;;
    report-none) [ ! -e "$dir/run/output" ] || fail "--report none wrote a report" ;;
    report-bgzip) gzip -t "$dir/run/output.gz" || fail "output.gz is not gzip"
                  same "$full/output" <(gzip -dc "$dir/run/output.gz") ;;
  esac
  end_case
done << EOF2
report-clusters|--report clusters
report-none|--report none
report-bgzip|--report-bgzip
EOF2

# Runs into one folder: the report of the last run is the only one there.
begin_case report-forms-replace
for form in --report-bgzip "--report none" --report-bgzip "--report clusters"; do
  read -r -a args <<< "$form"
  "$bin" run --quiet "${inputs[@]}" --pheno "$fam" --params "$in/params.txt" "${args[@]}" --out "$dir/run" ||
    fail "run $form failed"
  expected=output
  [ "$form" = --report-bgzip ] && expected=output.gz
  [ "$form" = "--report none" ] && expected=
  [ "$(cd "$dir/run" && ls output output.gz 2> /dev/null)" = "$expected" ] ||
    fail "after run $form the folder holds: $(cd "$dir/run" && ls output output.gz 2> /dev/null | tr '\n' ' ')"
done
end_case

# Shuffling individuals (the default), run writes what part and merge write on
# the converted files, however the positions are split; the p-values are not
# those of a shuffle of haplotypes.
for mode in s q; do
  begin_case "individuals-$mode"
  pheno=$fam
  [ $mode = q ] && pheno=$qt
  "$bin" run --quiet "${inputs[@]}" --mode $mode --pheno "$pheno" --params "$in/params.txt" --out "$dir/run" ||
    fail "run failed"
  grep -q "^  shuffled: individuals, both haplotypes together\$" "$dir/run/summary.txt" ||
    fail "the summary does not say that individuals were shuffled"
  "$bin" convert --quiet "${inputs[@]}" --mode $mode --pheno "$pheno" --out "$dir/c" || fail "convert failed"
  for chunks in 1 2 5; do
    for ((k = 1; k <= chunks; k++)); do
      "$bin" part --quiet --mode $mode --data "$dir/c.data.txt" --params "$in/params.txt" --intervals "$dir/c.intervals.txt" \
        --chunk $k --chunks $chunks --out "$dir/$k.part" || fail "part $k of $chunks failed"
    done
    rm -rf "$dir/merged"
    "$bin" merge --out "$dir/merged" "$dir"/[1-$chunks].part || fail "the merge of $chunks failed"
    same "$dir/run/output" "$dir/merged/output"
    same "$dir/run/results" "$dir/merged/results"
  done
  # Phenotypes that the alleles do not explain, so that the p-values are not all 0.
  awk 'BEGIN { FS = OFS = "\t" } /^#/ { print; next } { $NF = FNR % 3 ? 1 : 2; if (NF == 2) $NF = FNR % 7; print }' \
    "$pheno" > "$dir/null.pheno"
  for unit in individuals haplotypes; do
    "$bin" run --quiet "${inputs[@]}" --mode $mode --pheno "$dir/null.pheno" --params "$in/params.txt" \
      --permute $unit --out "$dir/null-$unit" || fail "run on null phenotypes failed"
  done
  cmp -s "$dir/null-individuals/results" "$dir/null-haplotypes/results" &&
    fail "shuffling individuals gave the p-values of a shuffle of haplotypes"
  end_case
done

# plot: the blocks of the runs above; non-finite values are drawn, not fatal.
results=$work/case-control-flags/run/results
markers=$work/case-control-flags/run/markers.tsv
awk 'BEGIN { FS = OFS = "\t" } NR == 3 { $4 = "inf" } NR == 4 { $4 = "nan"; $6 = "-nan" } NR == 5 { $4 = "-inf" } { print }' \
  "$results" > "$in/odd.results"
# Extreme trait statistics, whose tails the results file's own routines cannot take.
awk 'BEGIN { FS = OFS = "\t" } NR == 3 { $5 = 1e300; $9 = 1e6 } NR == 4 { $9 = -1e6 } { print }' \
  "$work/trait-params-file/run/results" > "$in/extreme.results"
while IFS='|' read -r name arguments; do
  begin_case "$name"
  read -r -a args <<< "$arguments"
  "$bin" plot "${args[@]}" --out "$dir/plot.svg" 2> "$work/why" || fail "plot failed: $(cat "$work/why")"
  check_plot "$dir/plot.svg" 1f5fbf e07b00
  end_case
done << EOF2
plot-with-markers|--results $results --markers $markers
plot-without-markers|--results $results
plot-non-finite|--results $in/odd.results --markers $markers
plot-trait|--results $work/trait-params-file/run/results
plot-extreme-trait|--results $in/extreme.results
EOF2

# ---- rejections: one line, status 1, and no output folder ----
edited_vcf 5 12 0/1 > "$in/unphased.vcf"
printf 'radius 1 0.5\ndensity 0.1\nwindow 0\nscheme 0\n' > "$in/bad-params.txt"
head -n -1 "$results" > "$in/truncated.results"
head -n 5 "$markers" > "$in/short.markers.tsv"
while IFS='|' read -r name message arguments; do
  begin_case "$name"
  read -r -a args <<< "$arguments"
  check_refusal "$message" "$bin" "${args[@]}"
  end_case
done << EOF2
run-unphased|20:2700547: unphased genotype 0/1|run --vcf $in/unphased.vcf --pheno $fam --out out
run-bad-params|bad-params.txt:3: window width|run --vcf $vcf --pheno $fam --params $in/bad-params.txt --out out
run-out-is-a-file|output: the output folder is a file|run --vcf $vcf --pheno $fam --out output
plot-no-block|chr20-cc.fam:1: expected the header line of a results block|plot --results $fam --out plot.svg
plot-truncated|ends before its summary line|plot --results $in/truncated.results --out plot.svg
plot-markers-mismatch|4 markers, but the results block has|plot --results $results --markers $in/short.markers.tsv --out plot.svg
plot-not-a-marker-table|not a marker table|plot --results $results --markers $results --out plot.svg
EOF2

begin_case run-bad-flag-is-usage-error
before=$(snapshot)
(cd "$dir" && "$bin" run --vcf "$vcf" --pheno "$fam" --window 0 --out out > /dev/null 2> "$work/stderr")
status=$?
[ "$status" -eq 2 ] || fail "exit status $status, expected 2"
grep -q -- "--window: window width '0' must be at least 1" "$work/stderr" || fail "message: $(cat "$work/stderr")"
check_unchanged "$before" "$(snapshot)"
end_case

finish
