# shellcheck shell=bash
# Helpers of the end-to-end scripts (not a test itself): cases in fresh
# folders, and refusals that must leave a folder as it was. A script sources
# it first thing with its own arguments:
#   source "$(dirname "$0")/lib.sh"
# It sets bin (the binary, $1) and work (a scratch folder removed on exit,
# along with any run still going whose id is in pid).
set -u
bin=$(readlink -f "$1")
work=$(mktemp -d)
trap '[ -n "${pid:-}" ] && kill -KILL "$pid" 2> /dev/null; chmod -R u+w "$work" 2> /dev/null; rm -rf "$work"' EXIT
cases=0 failures=0 case_failed=0

# Starts a case: the fresh folder $dir holding the files of an earlier run.
begin_case() {  # name
  case_name=$1
  dir="$work/$case_name"
  mkdir -p "$dir"
  printf 'report of an earlier run\n' > "$dir/output"
  printf 'results of an earlier run\n' > "$dir/data.txt-results"
}

# Every path in $dir with its type and content checksum, and its permissions
# too when snapshot_modes is set.
snapshot() {
  (cd "$dir" && find . -mindepth 1 | LC_ALL=C sort | while read -r path; do
    mode=""
    [ -n "${snapshot_modes:-}" ] && [ ! -L "$path" ] && mode=" $(stat -c %a "$path")"
    if [ -L "$path" ]; then
      echo "$path link $(readlink "$path")"
    elif [ -d "$path" ]; then
      echo "$path directory$mode"
    else
      echo "$path$mode $(cksum < "$path")"
    fi
  done)
}

# Case results: fail marks the current case failed, end_case counts it,
# fail_extra counts a failed check outside any case, skip counts cases not run.
fail() {
  echo "FAIL [$case_name]: $*"
  case_failed=1
}
end_case() {
  cases=$((cases + 1))
  [ "$case_failed" -eq 0 ] || failures=$((failures + 1))
  case_failed=0
}

# The closing line; the script's exit status.
finish() {
  echo "$((cases - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}

check_unchanged() {  # snapshot-before snapshot-after
  if [ "$1" != "$2" ]; then
    fail "the working folder changed (earlier output or results file, or a file left behind):"
    diff <(echo "$1") <(echo "$2") | sed 's/^/    /'
  fi
}

# Runs a command in $dir that must fail: exit status 1, exactly one line on
# standard error starting with "veltrane: " and holding the text (if any),
# and the folder as it was. Its output stays in $work/stdout and
# $work/stderr; the case is not counted yet.
#   check_refusal 'text the message must hold' command...
check_refusal() {
  local want=$1
  shift
  local before after status lines message
  before=$(snapshot)
  (cd "$dir" && "$@" > "$work/stdout" 2> "$work/stderr")
  status=$?
  after=$(snapshot)
  lines=$(wc -l < "$work/stderr")
  message=$(head -n 1 "$work/stderr")
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1 (command: $*)"
  if [ "$lines" -ne 1 ] || [[ "$message" != "veltrane: "* ]]; then
    fail "expected one line on standard error starting with 'veltrane: ', got $lines:"
    head -c 2000 "$work/stderr" | sed 's/^/    /'
  elif [ -n "$want" ] && [[ "$message" != *"$want"* ]]; then
    fail "the message does not mention '$want': $message"
  fi
  check_unchanged "$before" "$after"
}
