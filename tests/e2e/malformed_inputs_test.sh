#!/usr/bin/env bash
# Malformed inputs: every case must end with exit status 1, exactly one line on
# standard error starting with "veltrane: " (and naming what is wrong where the
# table says so), nothing on standard output, and the working folder exactly
# as it was: the earlier "output" and results files byte for byte, and no new
# file (no temporary report, no results file created).
#
#   malformed_inputs_test.sh path/to/veltrane
#
# Each case starts from a valid set of files (params.txt, data.txt,
# intervals.txt) in a fresh folder, breaks one of them, and runs the binary.
# The inputs found by fuzzing under tests/fuzz/regressions/ are replayed too.
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
prefix=()  # a command the binary runs under, for the cases that need one

# Prints a run of bytes that are not text: the start of the binary itself.
garbage() { head -c "${1:-65536}" "$bin"; }

# A line of about 1 MB made of one token.
one_mb_token() { head -c 1048576 /dev/zero | tr '\0' "${1:-7}"; }

# Starts a case: a fresh folder with valid inputs and earlier output files.
new_case() {
  begin_case "$1"
  params_with '2 0.2' 0.1 3 '1 -30 1' 2 1.0 > "$dir/params.txt"
  printf 'ID S 1 2 3 4\n1 a 1 2 1 2\n2 c 2 2 1 1\n3 a 1 1 2 2\n4 c 2 1 1 2\n5 a 1 2 2 1\n6 c 2 2 2 1\n' \
    > "$dir/data.txt"
  printf '1 1 1\n' > "$dir/intervals.txt"
}

# expect_rejection 'expected text in the message' argument...
expect_rejection() {
  check_refusal "$1" "${prefix[@]}" timeout 120 "$bin" "${@:2}"
  [ -s "$work/stdout" ] && fail "unexpected standard output: $(head -c 200 "$work/stdout")"
  end_case
}

run_s() { expect_rejection "$1" -s data.txt params.txt intervals.txt; }
run_q() { expect_rejection "$1" -q data.txt params.txt intervals.txt; }

# ---- data file ----
new_case data-binary-garbage;   garbage > "$dir/data.txt";                               run_s data.txt
new_case data-nul-byte;         printf 'ID S 1 2\n1 a 1 2\n2 c 2\0 1\n' > "$dir/data.txt"; run_s data.txt:3
new_case data-nul-in-trait;     printf 'ID T 1 2\n1 1.5\0 1 2\n' > "$dir/data.txt";        run_q data.txt:2
new_case data-1mb-token;        { echo ID; printf '1 a '; one_mb_token; echo; } > "$dir/data.txt"; run_s data.txt:2
new_case data-1mb-line-ragged
{ echo ID; printf '1 a'; head -c 524288 /dev/zero | tr '\0' '\n' | sed 's/^/ 1/' | tr -d '\n'; echo
  echo '2 c 1 2'; } > "$dir/data.txt"
run_s data.txt:3
new_case data-empty;            : > "$dir/data.txt";                                      run_s data.txt
new_case data-header-only;      printf 'ID S 1 2 3 4\n' > "$dir/data.txt";                run_s data.txt
new_case data-header-no-break;  printf 'ID S 1 2 3 4' > "$dir/data.txt";                  run_s data.txt
new_case data-empty-first-line; printf 'ID S 1 2\n\n1 a 1 2\n' > "$dir/data.txt";         run_s data.txt
new_case data-separators-only;  printf 'ID S 1 2\n \t,\r\n1 a 1 2\n' > "$dir/data.txt";    run_s data.txt
new_case data-ragged-short;     printf 'ID\n1 a 1 2 1\n2 c 1 2\n' > "$dir/data.txt";      run_s "data.txt:3"
new_case data-ragged-long;      printf 'ID\n1 a 1 2 1\n2 c 1 2 1 1\n' > "$dir/data.txt";  run_s "data.txt:3"
new_case data-no-phenotype;     printf 'ID\n1 a 1 2\n2\n' > "$dir/data.txt";              run_s "data.txt:3"
new_case data-no-alleles;       printf 'ID\n1 a 1 2\n2 c\n' > "$dir/data.txt";            run_s "data.txt:3"
new_case data-id-not-integer;   printf 'ID\n1 a 1 2\nx2 c 1 2\n' > "$dir/data.txt";       run_s "data.txt:3"
new_case data-id-overflow;      printf 'ID\n1 a 1 2\n2147483648 c 1 2\n' > "$dir/data.txt"; run_s 2147483648
new_case data-id-huge;          printf 'ID\n99999999999999999999 a 1 2\n' > "$dir/data.txt"; run_s "data.txt:2"
new_case data-id-negative-overflow; printf 'ID\n-2147483649 a 1 2\n' > "$dir/data.txt";   run_s "data.txt:2"
new_case data-allele-overflow;  printf 'ID\n1 a 1 2147483648\n' > "$dir/data.txt";        run_s 2147483648
new_case data-allele-negative;  printf 'ID\n1 a 1 -1\n' > "$dir/data.txt";                run_s "data.txt:2"
new_case data-allele-fraction;  printf 'ID\n1 a 1 1.5\n' > "$dir/data.txt";               run_s "data.txt:2"
new_case data-allele-letter;    printf 'ID\n1 a 1 A\n' > "$dir/data.txt";                 run_s "data.txt:2"
new_case data-trait-nan;        printf 'ID\n1 1.5 1 2\n2 nan 1 2\n' > "$dir/data.txt";    run_q "data.txt:3"
new_case data-trait-inf;        printf 'ID\n1 inf 1 2\n' > "$dir/data.txt";               run_q "data.txt:2"
new_case data-trait-minus-inf;  printf 'ID\n1 -infinity 1 2\n' > "$dir/data.txt";         run_q "data.txt:2"
new_case data-trait-float-overflow; printf 'ID\n1 1e39 1 2\n' > "$dir/data.txt";          run_q "data.txt:2"
new_case data-trait-word;       printf 'ID\n1 a 1 2\n' > "$dir/data.txt";                 run_q "data.txt:2"
new_case data-is-directory;     mkdir "$dir/datadir"; expect_rejection datadir -s datadir params.txt
new_case data-missing;          expect_rejection missing.txt -s missing.txt params.txt

# ---- parameter file ----
new_case params-binary-garbage; garbage > "$dir/params.txt";                              run_s params.txt
new_case params-nul-byte;       printf 'radius 2 0.2 density 0.1 window 3\0 scheme 1 -30 1\n' > "$dir/params.txt"; run_s params.txt:1
new_case params-1mb-number;     { printf 'radius 2 0.2 density 0.1 window '; one_mb_token 3; echo ' scheme 0'; } > "$dir/params.txt"; run_s params.txt:1
new_case params-empty;          : > "$dir/params.txt";                                    run_s params.txt
new_case params-label-only;     echo radius > "$dir/params.txt";                           run_s params.txt
new_case params-ends-early;     printf 'radius 2 0.2\ndensity 0.1\nwindow\n' > "$dir/params.txt"; run_s 'window width'
new_case params-ends-in-scheme; printf 'radius 2 0.2 density 0.1 window 3 scheme 4 1 2 3\n' > "$dir/params.txt"; run_s params.txt
new_case params-width-overflow; params_with '2 0.2' 0.1 2147483648 '1 -30 1' 2 1 > "$dir/params.txt"; run_s 2147483648
new_case params-width-huge;     params_with '2 0.2' 0.1 99999999999999999999 '1 -30 1' 2 1 > "$dir/params.txt"; run_s params.txt:3
new_case params-width-zero;     params_with '2 0.2' 0.1 0 '1 -30 1' 2 1 > "$dir/params.txt";  run_s params.txt:3
new_case params-width-negative; params_with '2 0.2' 0.1 -21 '1 -30 1' 2 1 > "$dir/params.txt"; run_s params.txt:3
new_case params-width-min-int;  params_with '2 0.2' 0.1 -2147483648 '1 -30 1' 2 1 > "$dir/params.txt"; run_s params.txt:3
new_case params-width-fraction; params_with '2 0.2' 0.1 2.5 '1 -30 1' 2 1 > "$dir/params.txt";  run_s params.txt:3
new_case params-permutations-overflow; params_with '2 0.2' 0.1 3 '1 -30 1' 2147483648 1 > "$dir/params.txt"; run_s params.txt:5
new_case params-permutations-huge; params_with '2 0.2' 0.1 3 '1 -30 1' 99999999999999999999 1 > "$dir/params.txt"; run_s params.txt:5
# Two thousand million replicates of 200 haplotypes need terabytes for their
# label orders: the run must refuse before the scan and say how much it needs.
new_case params-permutations-beyond-memory
params_with '2 0.2' 0.1 3 '1 -30 1' 2000000000 1 > "$dir/params.txt"
generate_data 200 4 5 > "$dir/data.txt"
run_s "GiB"
grep -q "needs" "$work/stderr" ||
  fail_extra "the memory message does not say how much the run needs: $(cat "$work/stderr")"
# Under an address-space limit the estimate may pass while the allocation
# fails: that too must end cleanly. (Sanitizer builds cannot start under such
# a limit; the case is skipped for them.)
limited() { (ulimit -v 2000000 && exec "$@"); }
if limited "$bin" > /dev/null 2>&1; [ $? -eq 2 ]; then
  new_case params-permutations-beyond-address-space
  params_with '2 0.2' 0.1 3 '1 -30 1' 100000000 1 > "$dir/params.txt"
  prefix=(limited)
  run_s memory
  prefix=()
else
  skip 1 params-permutations-beyond-address-space "the binary cannot start under ulimit -v (a sanitizer build?)"
fi
new_case params-radius-mode-fraction; params_with '2.5 0.2' 0.1 3 '1 -30 1' 2 1 > "$dir/params.txt"; run_s params.txt:1
new_case params-radius-nan;     params_with '2 nan' 0.1 3 '1 -30 1' 2 1 > "$dir/params.txt";  run_s params.txt:1
new_case params-radius-inf;     params_with '1 inf' 0.1 3 '1 -30 1' 2 1 > "$dir/params.txt";  run_s params.txt:1
new_case params-radius-overflow; params_with '1 1e999' 0.1 3 '1 -30 1' 2 1 > "$dir/params.txt"; run_s params.txt:1
new_case params-density-one;    params_with '2 0.2' 1 3 '1 -30 1' 2 1 > "$dir/params.txt";    run_s params.txt:2
new_case params-density-negative; params_with '2 0.2' -0.1 3 '1 -30 1' 2 1 > "$dir/params.txt"; run_s params.txt:2
new_case params-density-nan;    params_with '2 0.2' nan 3 '1 -30 1' 2 1 > "$dir/params.txt";  run_s params.txt:2
new_case params-weight-inf;     params_with '2 0.2' 0.1 3 '1 -inf 1' 2 1 > "$dir/params.txt"; run_s params.txt:4
new_case params-weight-word;    params_with '2 0.2' 0.1 3 '2 x 1' 2 1 > "$dir/params.txt";    run_s params.txt:4
new_case params-scheme3-bad-parameter; params_with '2 0.2' 0.1 3 '3 4' 2 1 > "$dir/params.txt"; run_s params.txt:4
new_case params-scheme-overflow; params_with '2 0.2' 0.1 3 '4294967297' 2 1 > "$dir/params.txt"; run_s params.txt:4
new_case params-threshold-float-overflow; params_with '2 0.2' 0.1 3 '1 -30 1' 2 1e39 > "$dir/params.txt"; run_s params.txt:6
new_case params-threshold-nan;  params_with '2 0.2' 0.1 3 '1 -30 1' 2 -nan > "$dir/params.txt"; run_s params.txt:6
new_case params-is-directory;   mkdir "$dir/paramdir"; expect_rejection paramdir -s data.txt paramdir
new_case params-missing;        expect_rejection missing.txt -s data.txt missing.txt

# ---- marker-interval file ----
new_case intervals-binary-garbage; garbage > "$dir/intervals.txt";                         run_s intervals.txt
new_case intervals-nul-byte;    printf '1 1\0 1\n' > "$dir/intervals.txt";                 run_s intervals.txt:1
new_case intervals-1mb-token;   { one_mb_token 1; echo ' 1 1'; } > "$dir/intervals.txt";   run_s intervals.txt:1
new_case intervals-1mb-line;    { head -c 524288 /dev/zero | tr '\0' '\n' | sed 's/^/1 /' | tr -d '\n'; echo; } > "$dir/intervals.txt"; run_s intervals.txt:1
new_case intervals-empty;       : > "$dir/intervals.txt";                                  run_s intervals.txt
new_case intervals-too-few;     printf '1 1\n' > "$dir/intervals.txt";                     run_s intervals.txt:1
new_case intervals-too-many;    printf '1 1 1 1\n' > "$dir/intervals.txt";                 run_s intervals.txt:1
new_case intervals-on-two-lines; printf '1 1\n1\n' > "$dir/intervals.txt";                 run_s intervals.txt:1
new_case intervals-nan;         printf '1 nan 1\n' > "$dir/intervals.txt";                 run_s intervals.txt:1
new_case intervals-inf;         printf '1 1 inf\n' > "$dir/intervals.txt";                 run_s intervals.txt:1
new_case intervals-float-overflow; printf '1 3.5e38 1\n' > "$dir/intervals.txt";           run_s intervals.txt:1
new_case intervals-word;        printf '1 one 1\n' > "$dir/intervals.txt";                 run_s intervals.txt:1
new_case intervals-is-directory; rm "$dir/intervals.txt"; mkdir "$dir/intervals.txt";      run_s intervals.txt
new_case intervals-missing;     rm "$dir/intervals.txt";                                   run_s intervals.txt

# ---- inputs found by fuzzing ----
# Each regression folder holds args (the command line after the program name)
# and the input files; "expect" holds the exit status the run must end with
# (1, or 0 for an input that must be accepted) and "message", if present, text
# the error message must hold. A rejection must meet every rule above; an
# accepted input must exit 0 with nothing on standard error. (The *.input
# files are the same faults in the fuzz targets' own format, for run.sh.)
for reg in "$here"/../fuzz/regressions/*/; do
  [ -f "$reg/args" ] || continue
  new_case "regression-$(basename "$reg")"
  rm -f "$dir/params.txt" "$dir/data.txt" "$dir/intervals.txt"
  find "$reg" -mindepth 1 -maxdepth 1 ! -name args ! -name expect ! -name message ! -name README \
    ! -name '*.input' -exec cp -r {} "$dir"/ \;
  read -r -a reg_args < "$reg/args"
  if [ "$(cat "$reg/expect" 2> /dev/null || echo 1)" = 1 ]; then
    expect_rejection "$(cat "$reg/message" 2> /dev/null)" "${reg_args[@]}"
  else
    (cd "$dir" && timeout 120 "$bin" "${reg_args[@]}" > "$work/stdout" 2> "$work/stderr")
    status=$?
    [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
    [ -s "$work/stderr" ] && fail "unexpected standard error: $(head -c 2000 "$work/stderr")"
    ls "$dir" | grep -q '^output\.tmp' && fail "a temporary report was left behind"
    end_case
  fi
done

finish
