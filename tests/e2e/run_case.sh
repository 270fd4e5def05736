#!/usr/bin/env bash
# Runs the binary on one case folder and compares whole files with the expected ones.
#   run_case.sh path/to/veltrane case-folder
# A case folder holds input/ (copied into an empty working folder), args (the
# command line after the program name), optionally runs (how many times to run
# it, default 1) and expected/ with any of exit-status, stdout, stderr, output
# and results (the data file's "-results" file). "nan" and "-nan" count as equal.
set -u
bin=$(readlink -f "$1")
case_dir=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$case_dir"/input/. "$work"/
read -r -a args < "$case_dir/args"
runs=1
[ -f "$case_dir/runs" ] && runs=$(cat "$case_dir/runs")
for ((i = 0; i < runs; i++)); do
  (cd "$work" && "$bin" "${args[@]}" > stdout.txt 2> stderr.txt; echo $? > rc.txt)
done
norm() { sed -e 's/-nan/nan/g' "$1"; }
status=0
check() {  # expected-file actual-file
  if [ ! -e "$2" ]; then
    echo "missing $(basename "$1") output: $2"; status=1
  elif ! diff <(norm "$1") <(norm "$2") > "$work/diff.txt"; then
    echo "$(basename "$1") differs:"; head -n 20 "$work/diff.txt"; status=1
  fi
}
exp="$case_dir/expected"
[ -f "$exp/exit-status" ] && check "$exp/exit-status" "$work/rc.txt"
[ -f "$exp/stdout" ] && check "$exp/stdout" "$work/stdout.txt"
[ -f "$exp/stderr" ] && check "$exp/stderr" "$work/stderr.txt"
[ -f "$exp/output" ] && check "$exp/output" "$work/output"
[ -f "$exp/results" ] && check "$exp/results" "$work/${args[1]}-results"
exit $status
