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
source "$(dirname "$0")/lib.sh"
chmod 755 "$work"
snapshot_modes=1  # permissions matter here

# A fresh folder with valid inputs and earlier output files. The report
# threshold decides the size of the report: -1000 reports every cluster
# (over 100 KB here), 1e30 only the position lines (under 1 KB).
new_case() {  # name threshold
  begin_case "$1"
  generate_data 60 40 7 > "$dir/data.txt"
  params_with '2 0.05' 0.1 9 '1 -30 1' 0 "$2" > "$dir/params.txt"
}

# Runs the binary with the given command prefix (a limit, another user) and
# checks the outcome. The snapshot is taken before and after as root, so a
# change the run made is seen even when the run's own user could not see it.
#   expect_failure 'file the message must name' prefix-command...
expect_failure() {
  check_refusal "$1" "${@:2}" "$bin" -s data.txt params.txt
  end_case
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
  fail_extra "a run without faults did not write its files; the cases below would prove nothing"
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
  skip 3 read-only-cases "no unprivileged user available (setpriv failed)"
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

finish
