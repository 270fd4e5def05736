#!/usr/bin/env bash
# Interrupted runs: SIGINT, SIGTERM or SIGHUP part-way through a long run must
# end the process by that signal, remove the temporary report and leave the
# earlier "output" and results file byte for byte as they were. A hangup that
# the caller chose to ignore (as nohup does) must stay ignored.
#
#   interrupt_test.sh path/to/veltrane
#
# The input (2000 haplotypes of 200 random markers) takes minutes to scan, so
# every signal arrives long before the run could end; each case waits only
# until the temporary report exists, i.e. until the run has read its inputs
# and opened its files.
source "$(dirname "$0")/lib.sh"
pid=""  # the run going on, killed on exit
generate_data 2000 200 11 > "$work/data.txt"
params_with '2 0.05' 0.1 21 '1 -30 1' 0 2 > "$work/params.txt"

# Starts a run in a fresh folder holding earlier output files and waits (at
# most 60 s) until its temporary report exists. The signals are reset to their
# defaults first (a background job of a script starts with SIGINT ignored);
# "ignore-hup" starts it with SIGHUP ignored instead, as nohup would.
start_run() {  # name [ignore-hup | no-earlier-files]
  begin_case "$1"
  cp "$work/data.txt" "$work/params.txt" "$dir"/
  [ "${2:-}" != no-earlier-files ] || rm "$dir/output" "$dir/data.txt-results"
  before=$(snapshot)
  if [ "${2:-}" = ignore-hup ]; then
    (cd "$dir" && trap '' HUP && exec env --default-signal=INT,TERM "$bin" -s data.txt params.txt \
      > "$dir/stdout" 2> "$dir/stderr") &
  else
    (cd "$dir" && exec env --default-signal=INT,TERM,HUP "$bin" -s data.txt params.txt \
      > "$dir/stdout" 2> "$dir/stderr") &
  fi
  pid=$!
  # Once the file exists, a short pause lets the run record its name for the
  # signal handler, which it does right after creating it.
  for ((i = 0; i < 600; i++)); do
    compgen -G "$dir/output.tmp*" > /dev/null && sleep 0.2 && return 0
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  fail "the run never created its temporary report (or ended first):"
  sed 's/^/    /' "$dir/stderr"
  return 1
}

# Waits (at most 60 s) for the run to end and checks what it left.
check_end() {  # expected exit status
  local status=""
  for ((i = 0; i < 600; i++)); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2> /dev/null; then
    fail "the run did not end within 60 s of the signal"
    kill -KILL "$pid"
  fi
  wait "$pid" 2> /dev/null
  status=$?
  pid=""
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
  compgen -G "$dir/output.tmp*" > /dev/null && fail "the temporary report was left behind: $(ls "$dir")"
  rm -f "$dir/stdout" "$dir/stderr"
  check_unchanged "$before" "$(snapshot)"
  end_case
}

# (The shell's own notices of jobs ended by a signal go to /dev/null.)
for sig in INT TERM HUP; do
  if start_run "sig$sig"; then
    kill -"$sig" "$pid"
    check_end $((128 + $(kill -l "$sig")))
  else
    check_end 999
  fi
done 2> /dev/null

# Without earlier files: the results file the run created must be removed too.
{
  if start_run sigINT-no-earlier-files no-earlier-files; then
    kill -INT "$pid"
    check_end 130
  else
    check_end 999
  fi
} 2> /dev/null

# nohup: the ignored hangup must not end the run. A run that let it through
# ends within moments of it by SIGHUP (status 129); one that kept it ignored
# is still scanning two seconds later and then ends by SIGTERM (143). A
# machine too loaded to schedule the run in those two seconds can only make
# this case pass when it should fail, never the other way round.
{
  if start_run nohup ignore-hup; then
    kill -HUP "$pid"
    for ((i = 0; i < 20; i++)); do
      kill -0 "$pid" 2> /dev/null || break
      sleep 0.1
    done
    kill -TERM "$pid" 2> /dev/null
    check_end 143
  else
    check_end 999
  fi
} 2> /dev/null

finish
