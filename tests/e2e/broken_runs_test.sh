#!/usr/bin/env bash
# Runs that must fail or be interrupted without harm, one row each:
#   name | via | arguments | message | how to break the run (shell code)
# Each row starts in a fresh folder holding valid inputs (params.txt, data.txt,
# intervals.txt) and the files of an earlier run, breaks it, runs the binary
# ("s" or "q" stands for -s or -q data.txt params.txt intervals.txt) and checks
# that the folder is exactly as it was: no file changed, added or removed, no
# permission changed. "via": "-" a plain run, "size16" under a 16 KiB file-size
# limit (SIGXFSZ at its default, which would kill the run), "space" under a 2 GB address-space limit, "user" as an unprivileged
# user; "nproc" as that user allowed no second thread, where the threading
# runtime ends the run with its own line; INT, TERM, HUP: the run must die by that signal; "nohup": SIGHUP is
# ignored and sent, and the run must go on until SIGTERM ends it. Other runs
# must exit 1 with one line on standard error, "veltrane: " and the message,
# and nothing on standard output. Fuzz regressions are replayed as rows too.
#
#   broken_runs_test.sh path/to/veltrane
set -u
bin=$(readlink -f "$1")
regressions=$(readlink -f "$(dirname "$0")/../fuzz/regressions")
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -KILL "$pid" 2> /dev/null; chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"
passed=0 failed=0 skipped=0

# Random alleles (1 or 2) from a fixed linear congruential sequence, so that
# every awk writes the same file.
generate_data() {  # haplotypes markers seed
  awk -v n="$1" -v m="$2" -v x="$3" 'function r() { x = (x * 16807) % 2147483647; return x }
    BEGIN { printf "ID\tStatus"; for (k = 1; k <= m; k++) printf "\t%d", k; printf "\n"
            for (i = 1; i <= n; i++) { printf "%d\t%s", i, (r() % 2 ? "a" : "c")
                                       for (k = 1; k <= m; k++) printf "\t%d", 1 + r() % 2; printf "\n" } }'
}
params() {  # radius density width scheme permutations threshold
  printf 'radius %s\ndensity %s\nwindow %s\nscheme %s\npermutations %s\nthreshold %s\n' "$@"
}
garbage() { head -c 65536 "$bin"; }               # bytes that are not text
# A cluster report of over 100 KB (threshold -1000) or under 1 KB (1e30).
report_of() { cp "$work/report-data.txt" data.txt; params '2 0.05' 0.1 9 '1 -30 1' 0 "$1" > params.txt; }
long_run() { cp "$work/long-data.txt" data.txt; params '2 0.05' 0.1 21 '1 -30 1' 0 2 > params.txt; }
# The example's VCF (plain) and phenotypes as x.vcf, x.fam and x.pheno, with
# record n's column c (from 1) set to value.
example=$(readlink -f "$(dirname "$0")/../../example")
zcat "$example/chr20-slice.vcf.gz" > "$work/slice.vcf"
slice_vcf() {  # [n c value]
  awk -v n="${1:-0}" -v c="${2:-0}" -v v="${3:-}" 'BEGIN { FS = OFS = "\t" } /^#/ { print; next } ++k == n { $c = v } { print }' \
    "$work/slice.vcf" > x.vcf
  cp "$example/chr20-cc.fam" x.fam && cp "$example/chr20-qt.pheno" x.pheno
}
generate_data 60 40 7 > "$work/report-data.txt"
generate_data 2000 200 11 > "$work/long-data.txt"  # minutes of scanning

# Unprivileged runs: root ignores permissions. The user must reach the binary.
as_user=()
if [ "$(id -u)" -ne 0 ]; then
  as_user=(env)
elif setpriv --reuid=65534 --regid=65534 --clear-groups true 2> /dev/null; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  cp "$bin" "$work/veltrane" && chmod 755 "$work/veltrane" && bin="$work/veltrane"
fi
# Sanitizer builds cannot start under an address-space limit.
space_ok=$( (ulimit -v 2000000 && exec "$bin") > /dev/null 2>&1; [ $? -eq 2 ] && echo 1)

snapshot() {  # (in a subshell) every path with its type, permissions and link target; the file checksums
  cd "$dir" || return
  find . -mindepth 1 -printf '%p %y %m %l\n' | LC_ALL=C sort
  find . -type f -exec cksum {} + | LC_ALL=C sort
}

# Starts the run with the signals at their defaults (SIGHUP ignored for nohup),
# waits (at most 20 s) until the run has made its temporary report and noted its
# name, sends the signal (and a second one seconds later), waits at most 60 s
# for the end.
signal_run() {  # signal [seconds signal]
  local signals=--default-signal=INT,TERM,HUP  # (a script's background job starts with SIGINT ignored)
  [ "$via" = nohup ] && signals=--ignore-signal=HUP
  (cd "$dir" && exec env "$signals" "$bin" "${args[@]}") &
  pid=$!
  for ((i = 0; i < 200; i++)); do
    ! compgen -G "$dir/output.tmp*" > /dev/null && kill -0 "$pid" && sleep 0.1 || break
  done
  sleep 0.2
  kill -"$1" "$pid"
  [ $# -eq 1 ] || { sleep "$2" && kill -"$3" "$pid"; }
  for ((i = 0; i < 600; i++)); do kill -0 "$pid" && sleep 0.1 || break; done
  kill -KILL "$pid"
  wait "$pid"
  status=$? pid=""
}

run_row() {  # sets status
  case $via in
    -) (cd "$dir" && exec "$bin" "${args[@]}") ;;
    size16) (cd "$dir" && ulimit -f 16 && exec "$bin" "${args[@]}") ;;
    space) (cd "$dir" && ulimit -v 2000000 && exec "$bin" "${args[@]}") ;;
    user) (cd "$dir" && exec "${as_user[@]}" "$bin" "${args[@]}") ;;
    nproc) (cd "$dir" && ulimit -u 1 && exec "${as_user[@]}" "$bin" "${args[@]}") ;;
    nohup) signal_run HUP 2 TERM; return ;;  # a run that let SIGHUP through ended by it (129)
    *) signal_run "$via"; return ;;
  esac
  status=$?
}

check_row() {  # name via arguments message setup
  local name=$1 via=$2 message=$4 before after fail="" want=1
  case $3 in s | q) args=("-$3" data.txt params.txt intervals.txt) ;; *) read -r -a args <<< "$3" ;; esac
  if { [[ $via == @(user|nproc) ]] && [ ${#as_user[@]} -eq 0 ]; } || { [ "$via" = space ] && [ -z "$space_ok" ]; }; then
    echo "SKIP [$name]: no unprivileged user, or a sanitizer build under an address-space limit"
    skipped=$((skipped + 1)) && return
  fi
  dir="$work/$name"
  mkdir -p "$dir" && cd "$dir" || return
  params '2 0.2' 0.1 3 '1 -30 1' 2 1.0 > params.txt
  printf 'ID S 1 2 3 4\n1 a 1 2 1 2\n2 c 2 2 1 1\n3 a 1 1 2 2\n4 c 2 1 1 2\n5 a 1 2 2 1\n6 c 2 2 2 1\n' > data.txt
  printf '1 1 1\n' > intervals.txt
  printf 'report of an earlier run\n' > output
  printf 'results of an earlier run\n' > data.txt-results
  eval "$5"
  cd "$work" || return
  before=$(snapshot)
  run_row > "$work/stdout" 2> "$work/stderr"
  after=$(snapshot)
  case $via in INT | TERM | HUP) want=$((128 + $(kill -l "$via"))) ;; nohup) want=143 ;; esac
  [ "$status" -eq "$want" ] || fail+="exit status $status, expected $want; "
  if [ "$want" -eq 1 ] && [ "$via" != nproc ]; then
    [ "$(wc -l < "$work/stderr")" -eq 1 ] && [[ "$(cat "$work/stderr")" == "veltrane: "*"$message"* ]] ||
      fail+="expected one line 'veltrane: ...$message...'; "
    [ -s "$work/stdout" ] && fail+="output on standard output; "
  fi
  [ "$before" = "$after" ] ||
    fail+="the folder changed: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]' | tr '\n' ' ')"
  count "$name" "$fail${fail:+ standard error: $(head -c 300 "$work/stderr")}"
}
count() {  # name failures
  if [ -n "$2" ]; then echo "FAIL [$1]: $2"; failed=$((failed + 1)); else passed=$((passed + 1)); fi
}

rows() {
  cat << 'EOF'
data-binary-garbage       |-|s|data.txt        |garbage > data.txt
data-nul-in-trait         |-|q|data.txt:2      |printf 'ID T 1 2\n1 1.5\0 1 2\n' > data.txt
data-1mb-token            |-|s|data.txt:2      |{ echo ID; printf '1 a '; head -c 1048576 /dev/zero | tr '\0' 7; echo; } > data.txt
data-1mb-line-ragged      |-|s|data.txt:3      |{ echo ID; printf '1 a'; yes ' 1' | head -n 524288 | tr -d '\n'; printf '\n2 c 1 2\n'; } > data.txt
data-empty                |-|s|data.txt        |: > data.txt
data-id-overflow          |-|s|2147483648      |printf 'ID\n1 a 1 2\n2147483648 c 1 2\n' > data.txt
data-trait-float-overflow |-|q|data.txt:2      |printf 'ID\n1 1e39 1 2\n' > data.txt
data-is-directory         |-|-s datadir params.txt|datadir|mkdir datadir
params-binary-garbage     |-|s|params.txt      |garbage > params.txt
params-empty              |-|s|params.txt      |: > params.txt
params-radius-nan         |-|s|params.txt:1    |params '2 nan' 0.1 3 '1 -30 1' 2 1 > params.txt
params-density-negative   |-|s|params.txt:2    |params '2 0.2' -0.1 3 '1 -30 1' 2 1 > params.txt
params-threshold-float-overflow|-|s|params.txt:6|params '2 0.2' 0.1 3 '1 -30 1' 2 1e39 > params.txt
intervals-binary-garbage  |-|s|intervals.txt   |garbage > intervals.txt
intervals-nul-byte        |-|s|intervals.txt:1 |printf '1 1\0 1\n' > intervals.txt
intervals-on-two-lines    |-|s|intervals.txt:1 |printf '1 1\n1\n' > intervals.txt
intervals-float-overflow  |-|s|intervals.txt:1 |printf '1 3.5e38 1\n' > intervals.txt
# Two thousand million replicates of 200 haplotypes need terabytes for their
# label orders: refused before the scan. Under an address-space limit the
# estimate may pass while an allocation fails: that too must end cleanly.
permutations-beyond-memory|-|s|needs at least  |params '2 0.2' 0.1 3 '1 -30 1' 2000000000 1 > params.txt; generate_data 200 4 5 > data.txt
permutations-beyond-address-space|space|s|memory|params '2 0.2' 0.1 3 '1 -30 1' 100000000 1 > params.txt
# Output files that cannot be written. Beyond a size limit the report cannot
# grow, or the results block is cut part-way and must be taken back; rename()
# cannot put the report in place of a folder once the block is appended.
results-on-full-device    |-|-s data.txt params.txt|data.txt-results|report_of 1e30; ln -sf /dev/full data.txt-results
report-cannot-grow        |size16|-s data.txt params.txt|output|report_of -1000
report-cannot-grow-no-earlier-files|size16|-s data.txt params.txt|output|report_of -1000; rm output data.txt-results
results-cannot-grow       |size16|-s data.txt params.txt|data.txt-results|report_of 1e30; head -c 16284 /dev/zero | tr '\0' r > data.txt-results
convert-cannot-grow       |size16|convert --vcf x.vcf --pheno x.fam --out c|File too large|slice_vcf
run-cannot-grow           |size16|run --vcf x.vcf --pheno x.fam --out r|File too large|slice_vcf
output-is-a-folder        |-|-s data.txt params.txt|output|report_of 1e30; rm output; mkdir -p output/inside; echo kept > output/inside/file
results-is-a-folder       |-|-s data.txt params.txt|data.txt-results|report_of 1e30; rm data.txt-results; mkdir data.txt-results
read-only-folder          |user|-s data.txt params.txt|output|report_of 1e30; chmod 666 data.txt-results; chmod 555 .
read-only-folder-no-results|user|-s data.txt params.txt|data.txt-results|report_of 1e30; rm data.txt-results; chmod 555 .
read-only-results         |user|-s data.txt params.txt|data.txt-results|report_of 1e30; chmod 777 .; chmod 444 data.txt-results
# A thread the runtime cannot start ends the run by exit(): its files go too.
no-second-thread          |nproc|-s data.txt params.txt||long_run; chmod 666 output data.txt-results; chmod 777 .
# Genotypes and phenotypes that convert and run refuse (a message holds no '|':
# the genotype 0|2 shows as its end).
vcf-allele-beyond-alt     |-|convert --vcf x.vcf --pheno x.fam --out c|2 of sample 'HG00099' names allele 2, but the record has one ALT allele|slice_vcf 5 12 0/2; sed -i 's#0/2#0|2#' x.vcf
vcf-sample-twice          |-|convert --vcf x.vcf --pheno x.fam --out c|sample 'HG00096' is named twice in the header|slice_vcf; sed -i '/^#CHROM/s/HG00097/HG00096/' x.vcf
vcf-no-samples            |-|convert --vcf x.vcf --pheno x.fam --out c|x.vcf: no samples|slice_vcf; cut -f1-8 x.vcf > y.vcf; mv y.vcf x.vcf
bcf-damaged-first-block   |-|convert --vcf x.bcf --pheno x.fam --out c|x.bcf: BGZF-compressed, but its contents cannot be read: the file is damaged|slice_vcf; cp "$example/chr20-slice.bcf" x.bcf; printf 'damage' | dd of=x.bcf bs=1 seek=30 conv=notrunc 2> /dev/null
bcf-truncated-header      |-|convert --vcf x.bcf --pheno x.fam --out c|x.bcf: cannot read the VCF header: the file is damaged, truncated|slice_vcf; head -c 2000 "$example/chr20-slice.bcf" > x.bcf
region-of-another-contig  |-|convert --vcf x.vcf --pheno x.fam --region chr21:1-100 --out c|no record in --region chr21:1-100; its contigs are '20'|slice_vcf
pheno-all-cases           |-|convert --vcf x.vcf --pheno x.fam --out c|x.fam: all 300 individuals kept are cases; a case-control scan needs both|slice_vcf; awk '{ $6 = 2; print }' "$example/chr20-cc.fam" > x.fam
pheno-all-controls-run    |-|run --vcf x.vcf --pheno x.fam --out r|x.fam: all 300 individuals kept are controls|slice_vcf; awk '{ $6 = 1; print }' "$example/chr20-cc.fam" > x.fam
trait-constant            |-|run --vcf x.vcf --pheno x.pheno --mode q --out r|x.pheno: the trait is 1.5 in all 300 individuals kept|slice_vcf; awk 'NR > 1 { $2 = 1.5 } { print }' "$example/chr20-qt.pheno" > x.pheno
# Interrupted runs leave no trace; an ignored hangup stays ignored.
interrupt-INT             |INT|-s data.txt params.txt||long_run
interrupt-TERM            |TERM|-s data.txt params.txt||long_run
interrupt-HUP             |HUP|-s data.txt params.txt||long_run
interrupt-no-earlier-files|INT|-s data.txt params.txt||long_run; rm output data.txt-results
nohup-keeps-hangup-ignored|nohup|-s data.txt params.txt||long_run
EOF
  # Inputs found by fuzzing: args (the command line), message, and the files.
  for reg in "$regressions"/*/; do
    [ -f "$reg/args" ] || continue
    printf 'regression-%s|-|%s|%s|rm ./*.txt; find %q -maxdepth 1 -name "*.txt" -exec cp {} . \\;\n' \
      "$(basename "$reg")" "$(cat "$reg/args")" "$(cat "$reg/message")" "$reg"
  done
}

shopt -s extglob
while IFS='|' read -r name via arguments message setup; do
  [[ -z $name || $name == '#'* ]] && continue
  check_row "${name%%+( )}" "$via" "$arguments" "${message%%+( )}" "$setup" < /dev/null
done < <(rows)

# While another run holds the lock of the results file, a run must wait for it
# before appending (or it could take back a block that is not its own).
dir="$work/locked-results"
mkdir "$dir" && cd "$dir" && printf 'ID S 1 2\n1 a 1 2\n2 c 2 1\n' > data.txt && : > data.txt-results
params '1 0.5' 0 1 0 0 1 > params.txt
flock data.txt-results sleep 2 & holder=$!
while flock -n data.txt-results true; do sleep 0.05; done
"$bin" -s data.txt params.txt && ! kill -0 "$holder" 2> /dev/null
count locked-results "$([ $? -eq 0 ] || echo "the run failed, or appended while another run held the lock")"
wait "$holder"
# Thread counts: any number asked for through the environment runs on the
# cores there are, with the same files; --threads beyond them is noted once;
# a count that is not a positive number is a usage error (status 2).
dir="$work/thread-counts"
mkdir "$dir" && cd "$dir" && generate_data 40 30 3 > data.txt && params '2 0.2' 0.1 3 '1 -30 1' 5 1.0 > params.txt
mkdir one many && cp data.txt params.txt one && cp data.txt params.txt many
(cd one && OMP_NUM_THREADS=1 "$bin" -s data.txt params.txt) && (cd many && OMP_NUM_THREADS=100000 "$bin" -s data.txt params.txt)
count classic-100000-threads "$([ $? -eq 0 ] && diff -r one many > /dev/null || echo "the run failed, or its files differ from those of one thread")"
"$bin" part --data data.txt --params params.txt --threads 100000 --out 100000.part 2> stderr && [ -s 100000.part ] &&
  [ "$(grep -c 'note: 100000 threads asked for' stderr)" -eq 1 ] && [ "$(wc -l < stderr)" -eq 1 ]
count part-100000-threads "$([ $? -eq 0 ] || echo "expected a part file and one note: $(head -c 300 stderr)")"
for threads in 0 -3 x; do
  "$bin" part --data data.txt --params params.txt --threads "$threads" --out refused.part 2> /dev/null
  count "part-threads-$threads" "$([ $? -eq 2 ] && [ ! -e refused.part ] || echo "expected status 2 and no part file")"
done
echo "$passed passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
[ "$failed" -eq 0 ]
