#!/usr/bin/env bash
# Scaling out: part files, merged, give the files of one whole run.
#
#   scale_out_test.sh path/to/veltrane
#
# 1. Every reference case that runs cleanly (tests/golden, tests/e2e/cases) is
#    scanned in three chunks shuffling haplotypes, handed to the merge in
#    reverse order: the merged report, results block and warnings must be the
#    case's expected ones, and stay so when the merge runs a second time.
# 2. The workflow scans a slice of chr20-cc (tests/data/chr20-slice: 300
#    haplotypes, 100 markers, 5 replicates) in 4 chunks shuffling haplotypes:
#    OUT/output and OUT/results must be those of a classic run, byte for byte.
#    Shuffling individuals, the workflow's files are those of a single part of
#    every position.
# 3. Shuffling individuals, every split of the slice merges into the files of
#    a single part; when no two haplotypes share an identifier, the files are
#    those of a shuffle of haplotypes; a part file of version 1 (no permute
#    line) is read as a shuffle of haplotypes.
# 4. Each refusal of the merge ends with exit status 1, one line naming the
#    part file at fault, and nothing written.
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
slice="$top/tests/data/chr20-slice"
norm() { sed -e 's/-nan/nan/g' "$1"; }

same_file() {  # expected actual what
  if [ ! -f "$2" ]; then
    fail "no $3 written"
  elif ! cmp -s <(norm "$1") <(norm "$2"); then
    fail "$3 differs from one whole run:"
    diff <(norm "$1") <(norm "$2") | head -n 6 | sed 's/^/    /'
  fi
}

# ---- 1. reference cases in three chunks ----
for case_dir in "$top"/tests/golden/case* "$here"/cases/*; do
  [ "$(cat "$case_dir/expected/exit-status" 2> /dev/null)" = 0 ] && [ ! -f "$case_dir/runs" ] || continue
  read -r -a args < "$case_dir/args"
  begin_case "chunks-$(basename "$case_dir")"
  cp -r "$case_dir"/input/. "$dir"/
  mode=${args[0]:1:1}
  intervals=()
  [ ${#args[@]} -eq 4 ] && intervals=(--intervals "${args[3]}")
  for k in 1 2 3; do
    (cd "$dir" && "$bin" part --permute haplotypes --mode "$mode" --data "${args[1]}" --params "${args[2]}" "${intervals[@]}" \
      --chunk $k --chunks 3 --out $k.part) || fail "part $k of 3 failed"
  done
  # Twice: the second merge replaces the first's files rather than adding to them.
  for _ in 1 2; do
    (cd "$dir" && "$bin" merge --out merged 3.part 2.part 1.part > /dev/null 2> merge.stderr) || fail "the merge failed"
  done
  same_file "$case_dir/expected/output" "$dir/merged/output" "the report"
  same_file "$case_dir/expected/results" "$dir/merged/results" "the results block"
  [ -f "$case_dir/expected/stderr" ] && same_file "$case_dir/expected/stderr" "$dir/merge.stderr" "the warnings"
  end_case
done

# ---- 2. the workflow on a real slice ----
begin_case workflow-chr20-slice
cp "$slice"/* "$dir"/
rm "$dir/output" "$dir/data.txt-results"
(cd "$dir" && "$bin" -s data.txt params.txt intervals.txt) || fail "the classic run failed"
(cd "$dir" && PATH="$(dirname "$bin"):$PATH" snakemake --quiet --cores 2 --snakefile "$top/workflow/Snakefile" \
  --config data="$slice" mode=s permute=haplotypes chunks=4 out=OUT > snakemake.log 2>&1) || { fail "the workflow failed:"; tail -n 20 "$dir/snakemake.log"; }
[ "$(ls "$dir/OUT/parts" 2> /dev/null | wc -l)" -eq 4 ] || fail "expected 4 part files in OUT/parts"
cmp -s "$dir/output" "$dir/OUT/output" || fail "OUT/output differs from the classic run's output"
cmp -s "$dir/data.txt-results" "$dir/OUT/results" || fail "OUT/results differs from the classic run's results"
(cd "$dir" && "$bin" part --data data.txt --params params.txt --intervals intervals.txt --out whole.part &&
  "$bin" merge --out whole whole.part) || fail "the single part failed"
(cd "$dir" && PATH="$(dirname "$bin"):$PATH" snakemake --quiet --cores 2 --snakefile "$top/workflow/Snakefile" \
  --config data="$slice" mode=s chunks=3 out=IND > snakemake.log 2>&1) || { fail "the workflow failed:"; tail -n 20 "$dir/snakemake.log"; }
same_file "$dir/whole/output" "$dir/IND/output" "the report of the workflow shuffling individuals"
same_file "$dir/whole/results" "$dir/IND/results" "the results of the workflow shuffling individuals"
end_case

# ---- 3. shuffles of individuals ----
begin_case individuals-every-split
cp "$slice"/* "$dir"/
scan_part() {  # out [part options]
  (cd "$dir" && "$bin" part --permute individuals --data data.txt --params params.txt --intervals intervals.txt \
    "${@:2}" --out "$1") || fail "veltrane part ${*:2} failed"
}
scan_part whole.part
(cd "$dir" && "$bin" merge --out whole whole.part) || fail "the merge of one part failed"
for split in "0 1 100" "0 99 100" "0 37 38 81 100" "0 10 20 30 40 50 60 70 80 90 100"; do
  read -r -a cuts <<< "$split"
  names=()
  for ((k = 0; k + 1 < ${#cuts[@]}; k++)); do
    scan_part "$k.part" --from "${cuts[k]}" --to "${cuts[k + 1]}"
    names=("$k.part" "${names[@]}")
  done
  rm -rf "$dir/merged"
  (cd "$dir" && "$bin" merge --permute individuals --out merged "${names[@]}") || fail "the merge of $split failed"
  same_file "$dir/whole/output" "$dir/merged/output" "the report split at $split"
  same_file "$dir/whole/results" "$dir/merged/results" "the results split at $split"
done
end_case

begin_case individuals-of-one-haplotype
cp "$slice"/* "$dir"/
awk 'BEGIN { FS = OFS = "\t" } NR > 1 { $1 = NR } { print }' "$slice/data.txt" > "$dir/data.txt"
for unit in individuals haplotypes; do
  (cd "$dir" && "$bin" part --permute $unit --data data.txt --params params.txt --intervals intervals.txt \
    --out $unit.part && "$bin" merge --out $unit $unit.part) || fail "the scan shuffling $unit failed"
done
same_file "$dir/haplotypes/output" "$dir/individuals/output" "the report"
same_file "$dir/haplotypes/results" "$dir/individuals/results" "the results"
end_case

begin_case part-file-version-1
cp "$slice"/* "$dir"/
(cd "$dir" && "$bin" part --permute haplotypes --data data.txt --params params.txt --intervals intervals.txt \
  --out new.part && "$bin" merge --out new new.part) || fail "the scan failed"
# The same part in version 1: no permute line, and the checksum of what is left.
python3 - "$dir/new.part" "$dir/old.part" << 'EOF2'
import sys
lines = open(sys.argv[1], "rb").read().split(b"\n")
body = b"\n".join([b"veltrane part file 1", lines[1]] + lines[3:-2]) + b"\n"
h = 0xcbf29ce484222325
for c in body:
    h = ((h ^ c) * 0x100000001b3) % (1 << 64)
open(sys.argv[2], "wb").write(body + b"end %016x\n" % h)
EOF2
(cd "$dir" && "$bin" merge --permute haplotypes --out old old.part) || fail "the version-1 part was refused"
same_file "$dir/new/output" "$dir/old/output" "the report of the version-1 part"
same_file "$dir/new/results" "$dir/old/results" "the results of the version-1 part"
end_case

# ---- 4. refusals ----
# Parts of the slice: positions 0-39 (early), 40-69 (middle), 70-99 (late),
# 30-49 (overlap), and 40-69 of other data, parameters and intervals.
parts="$work/parts"
mkdir -p "$parts/other-data" "$parts/other-params" "$parts/other-intervals"
cp "$slice"/* "$parts"/
for variant in other-data other-params other-intervals; do cp "$slice"/* "$parts/$variant"/; done
sed -i '2s/\t\([12]\)$/\t3/' "$parts/other-data/data.txt"
sed -i 's/^permutations.*/permutations\t4/' "$parts/other-params/params.txt"
sed -i 's/^[^\t]*/0.5/' "$parts/other-intervals/intervals.txt"
make_part() {  # folder from to name
  (cd "$1" && "$bin" part --data data.txt --params params.txt --intervals intervals.txt --from "$2" --to "$3" \
    --out "$parts/$4.part") || fail_extra "veltrane part $4 failed"
}
make_part "$parts" 0 40 early
make_part "$parts" 40 70 middle
make_part "$parts" 70 100 late
make_part "$parts" 30 50 overlap
for variant in other-data other-params other-intervals; do make_part "$parts/$variant" 40 70 "$variant"; done
(cd "$parts" && "$bin" part --permute haplotypes --data data.txt --params params.txt --intervals intervals.txt \
  --from 40 --to 70 --out "$parts/haplotypes.part") || fail_extra "veltrane part haplotypes failed"
cp "$parts/middle.part" "$parts/damaged.part"
printf 'X' | dd of="$parts/damaged.part" bs=1 seek=2000 conv=notrunc status=none
head -c 3000 "$parts/middle.part" > "$parts/truncated.part"

refuse() {  # name 'text the message must hold' part-name...
  begin_case "refuse-$1"
  local files=()
  for name in "${@:3}"; do files+=("$parts/$name"); done
  check_refusal "$2" "$bin" merge --out merged "${files[@]}"
  end_case
}
refuse missing-middle   "late.part: no part holds positions 40 to 69"   early.part late.part
refuse missing-first    "middle.part: no part holds positions 0 to 39"  late.part middle.part
refuse missing-last     "middle.part: no part holds positions 70 to 99" middle.part early.part
refuse overlap          "overlap.part: positions 30 to 39 are also in"  early.part overlap.part middle.part late.part
refuse twice            "middle.part: positions 40 to 69 are also in"   early.part middle.part middle.part late.part
refuse other-data       "other-data.part: a scan of other data"         early.part other-data.part late.part
refuse other-params     "other-params.part: a scan with other parameters" early.part other-params.part late.part
refuse other-intervals  "other-intervals.part: a scan with other marker intervals" early.part other-intervals.part late.part
refuse other-shuffle    "haplotypes.part: a scan with another shuffle (--permute) than" early.part haplotypes.part late.part
begin_case refuse-not-the-asked-shuffle
check_refusal "early.part: its replicates shuffled individuals, not haplotypes as --permute asks" \
  "$bin" merge --permute haplotypes --out merged "$parts/early.part" "$parts/middle.part" "$parts/late.part"
end_case
refuse damaged          "damaged.part:"                                 early.part damaged.part late.part
refuse truncated        "truncated.part:"                               early.part truncated.part late.part
refuse not-a-part       "data.txt:1: not a veltrane part file"          early.part data.txt late.part
refuse no-such-file     "absent.part"                                   early.part absent.part late.part
finish
