#!/usr/bin/env bash
# Writes that fail: each case must end with exit status 1 and one line on
# standard error starting with "veltrane: " that names the file, and leave the
# earlier "output" and results file as they were, with no temporary report
# left behind.
#
#   failing_writes_test.sh path/to/veltrane
#
# Cases: the results file is a link to /dev/full; the report cannot grow past
# a file-size limit (with and without earlier files); the results block cannot be appended past that limit
# after part of it was written (the part must be taken back); "output" cannot
# be replaced because it is a folder; the results file is a folder; and, run as
# an unprivileged user, a read-only working folder and a read-only results
# file. The unprivileged cases are skipped, with a message, where no such user
# can be had.
set -u
bin=$(readlink -f "$1")
work=$(mktemp -d)
chmod 755 "$work"
trap 'chmod -R u+w "$work" 2> /dev/null; rm -rf "$work"' EXIT
failures=0
cases=0
skipped=0

# Random alleles from a fixed linear congruential sequence (same file on every awk).
generate_data() {  # haplotypes markers seed
  awk -v n="$1" -v m="$2" -v x="$3" '
    function r() { x = (x * 16807) % 2147483647; return x }
    BEGIN {
      printf "ID\tStatus"; for (k = 1; k <= m; k++) printf "\t%d", k; printf "\n"
      for (i = 1; i <= n; i++) {
        printf "%d\t%s", i, (r() % 2 ? "a" : "c")
        for (k = 1; k <= m; k++) printf "\t%d", 1 + r() % 2
        printf "\n"
      }
    }'
}

# A fresh folder with valid inputs and earlier output files. The report
# threshold decides the size of the report: -1000 reports every cluster
# (over 100 KB here), 1e30 only the position lines (under 1 KB).
new_case() {  # name threshold
  case_name=$1
  case_failed=0
  dir="$work/$case_name"
  mkdir -p "$dir"
  generate_data 60 40 7 > "$dir/data.txt"
  printf 'radius 2 0.05\ndensity 0.1\nwindow 9\nscheme 1 -30 1\npermutations 0\nthreshold %s\n' "$2" > "$dir/params.txt"
  printf 'report of an earlier run\n' > "$dir/output"
  printf 'results of an earlier run\n' > "$dir/data.txt-results"
}

snapshot() {
  (cd "$dir" && find . -mindepth 1 | LC_ALL=C sort | while read -r path; do
    if [ -L "$path" ]; then
      echo "$path link $(readlink "$path")"
    elif [ -d "$path" ]; then
      echo "$path directory $(stat -c %a "$path")"
    else
      echo "$path $(stat -c %a "$path") $(cksum < "$path")"
    fi
  done)
}

fail() {
  echo "FAIL [$case_name]: $*"
  case_failed=1
}

# Runs the binary with the given command prefix (a limit, another user) and
# checks the outcome. The snapshot is taken before and after as root, so a
# change the run made is seen even when the run's own user could not see it.
#   expect_failure 'file the message must name' prefix-command...
expect_failure() {
  local want=$1
  shift
  local before after status lines message
  before=$(snapshot)
  (cd "$dir" && "$@" "$bin" -s data.txt params.txt > "$work/stdout" 2> "$work/stderr")
  status=$?
  after=$(snapshot)
  lines=$(wc -l < "$work/stderr")
  message=$(head -n 1 "$work/stderr")
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
  if [ "$lines" -ne 1 ] || [[ "$message" != "veltrane: "* ]]; then
    fail "expected one line on standard error starting with 'veltrane: ', got $lines:"
    head -c 2000 "$work/stderr" | sed 's/^/    /'
  elif [[ "$message" != *"$want"* ]]; then
    fail "the message does not name '$want': $message"
  fi
  if [ "$before" != "$after" ]; then
    fail "the working folder changed (earlier output or results file, or a file left behind):"
    diff <(echo "$before") <(echo "$after") | sed 's/^/    /'
  fi
  cases=$((cases + 1))
  [ "$case_failed" -eq 0 ] || failures=$((failures + 1))
}

# Runs the command with a file-size limit of $1 KiB and SIGXFSZ ignored, so
# that a write past the limit fails with EFBIG instead of killing the process.
with_size_limit() {
  local kib=$1
  shift
  (trap '' XFSZ; ulimit -f "$kib" && exec "$@")
}

# The check itself must see a change: a run without any fault writes both files.
new_case control 1e30
(cd "$dir" && "$bin" -s data.txt params.txt > /dev/null 2>&1)
if [ "$(cat "$dir/output")" = "report of an earlier run" ] || [ "$(wc -l < "$dir/data.txt-results")" -lt 40 ]; then
  echo "FAIL [control]: a run without faults did not write its files; the cases below would prove nothing"
  failures=$((failures + 1))
fi

# Every write to /dev/full fails with ENOSPC: the results block cannot be written.
new_case results-on-full-device 1e30
ln -sf /dev/full "$dir/data.txt-results"
expect_failure data.txt-results env

# The report grows past 100 KB; with a 16 KiB limit it cannot.
new_case report-cannot-grow -1000
expect_failure output with_size_limit 16

# The same without earlier files: the results file this run created must go too.
new_case report-cannot-grow-no-earlier-files -1000
rm "$dir/output" "$dir/data.txt-results"
expect_failure output with_size_limit 16

# The results file is 100 bytes short of the limit, so part of the block is
# written before the write fails: that part must be taken back. The report
# stays under 1 KB.
new_case results-cannot-grow 1e30
head -c $((16 * 1024 - 100)) /dev/zero | tr '\0' 'r' > "$dir/data.txt-results"
expect_failure data.txt-results with_size_limit 16

# rename() cannot put a file in place of a folder: the results block has been
# appended by then and must be taken back.
new_case output-is-a-folder 1e30
rm "$dir/output"
mkdir -p "$dir/output/inside"
echo kept > "$dir/output/inside/file"
expect_failure output env

new_case results-is-a-folder 1e30
rm "$dir/data.txt-results"
mkdir "$dir/data.txt-results"
expect_failure data.txt-results env

# Permissions: root ignores them, so these cases run as an unprivileged user.
as_user=()
if [ "$(id -u)" -ne 0 ]; then
  as_user=(env)
elif setpriv --reuid=65534 --regid=65534 --clear-groups true 2> /dev/null; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  # The user must reach the binary: copy it where it can.
  cp "$bin" "$work/veltrane"
  chmod 755 "$work/veltrane"
  bin="$work/veltrane"
fi
if [ ${#as_user[@]} -eq 0 ]; then
  echo "SKIP: no unprivileged user available (setpriv failed); read-only cases not run"
  skipped=3
else
  # A read-only folder with a results file the user may append to: the
  # temporary report cannot be created.
  new_case read-only-folder 1e30
  chmod 666 "$dir/data.txt-results"
  chmod 555 "$dir"
  expect_failure output "${as_user[@]}"

  # A read-only folder without a results file: it cannot be created.
  new_case read-only-folder-no-results 1e30
  rm "$dir/data.txt-results"
  chmod 555 "$dir"
  expect_failure data.txt-results "${as_user[@]}"

  # A writable folder but a read-only results file.
  new_case read-only-results 1e30
  chmod 777 "$dir"
  chmod 444 "$dir/data.txt-results"
  expect_failure data.txt-results "${as_user[@]}"
fi

echo "$((cases - failures)) passed, $failures failed, $skipped skipped"
[ "$failures" -eq 0 ]
