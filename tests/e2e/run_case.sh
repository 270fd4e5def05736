#!/usr/bin/env bash
# Runs the binary on one case folder and compares whole files with the expected ones.
#   run_case.sh path/to/veltrane case-folder
# A case folder holds input/ (copied into an empty working folder), args (the
# command line after the program name), optionally runs (how many times to run
# it, default 1) and expected/ with any of exit-status, stdout, stderr, output
# and results (the data file's "-results" file). "nan" and "-nan" count as equal.
# The case runs on one thread and on three: the files must not depend on the
# thread count.
set -u
bin=$(readlink -f "$1")
case_dir=$(readlink -f "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
read -r -a args < "$case_dir/args"
runs=1
[ -f "$case_dir/runs" ] && runs=$(cat "$case_dir/runs")
norm() { sed -e 's/-nan/nan/g' "$1"; }
status=0
check() {  # expected-file actual-file threads
  if [ ! -e "$2" ]; then
    echo "missing $(basename "$1") output on $3 threads: $2"; status=1
  elif ! diff <(norm "$1") <(norm "$2") > "$scratch/diff.txt"; then
    echo "$(basename "$1") differs on $3 threads:"; head -n 20 "$scratch/diff.txt"; status=1
  fi
}
exp="$case_dir/expected"
for threads in 1 3; do
  work="$scratch/$threads"
  mkdir "$work" && cp -r "$case_dir"/input/. "$work"/
  for ((i = 0; i < runs; i++)); do
    (cd "$work" && OMP_NUM_THREADS=$threads "$bin" "${args[@]}" > stdout.txt 2> stderr.txt; echo $? > rc.txt)
  done
  [ -f "$exp/exit-status" ] && check "$exp/exit-status" "$work/rc.txt" "$threads"
  [ -f "$exp/stdout" ] && check "$exp/stdout" "$work/stdout.txt" "$threads"
  [ -f "$exp/stderr" ] && check "$exp/stderr" "$work/stderr.txt" "$threads"
  [ -f "$exp/output" ] && check "$exp/output" "$work/output" "$threads"
  [ -f "$exp/results" ] && check "$exp/results" "$work/${args[1]}-results" "$threads"
done
exit $status
