#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan and UBSan), replays the inputs kept
# under regressions/, runs each target for a bounded time on a copy of the
# seed corpus and prints the executions and crashes of every target.
#
#   tests/fuzz/run.sh [seconds-per-target] [target ...]
#   FUZZ_READER=d tests/fuzz/run.sh 60 fuzz_readers    # the data reader only
#
# The default is FUZZ_SECONDS or 150 seconds for each of fuzz_readers and
# fuzz_run. The work folder (grown corpus, crash inputs, logs) is
# build-fuzz/fuzz-work/, or FUZZ_WORK. A target that crashes is restarted (up
# to five times) for the rest of its time, so that one run can find several
# crashes. Exits 1 when any target crashed.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-150}}
[ $# -gt 0 ] && shift
targets=("$@")
[ $# -gt 0 ] || targets=(fuzz_readers fuzz_run)
build="$top/build-fuzz"
work=${FUZZ_WORK:-$build/fuzz-work}

# clang with its libFuzzer runtime, from the distribution's packages.
if ! command -v clang++ > /dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1; then
  echo "installing clang and its runtime libraries"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq clang libclang-rt-14-dev > /dev/null
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELTRANE_FUZZ=ON \
  -DVELTRANE_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" > "$build/fuzz-build.log" 2>&1 ||
  { cat "$build/fuzz-build.log"; exit 1; }

# Inputs that once crashed a target (regressions/<name>/<target>.input) must not any more.
for target in "${targets[@]}"; do
  for input in "$top"/tests/fuzz/regressions/*/"$target".input; do
    [ -f "$input" ] || continue
    name="$target: regression $(basename "$(dirname "$input")")"
    if (cd "$build" && "$build/tests/fuzz/$target" -close_fd_mask=3 "$input") > "$build/replay.log" 2>&1; then
      echo "$name passes"
    else
      echo "$name still fails:"
      grep -E 'ERROR|violated|SUMMARY|exited' "$build/replay.log" | head -n 5 | sed 's/^/    /'
    fi
  done
done

declare -A max_len=([fuzz_readers]=4096 [fuzz_run]=2048)
status=0
for target in "${targets[@]}"; do
  dir="$work/$target"
  mkdir -p "$dir/corpus" "$dir/crashes"
  cp -n "$top/tests/fuzz/corpus/$target"/* "$dir/corpus/" 2> /dev/null || true
  start=$(date +%s) executions=0
  : > "$dir/log"
  for ((restarts = 0; restarts <= 5; restarts++)); do
    left=$((seconds - ($(date +%s) - start)))
    [ "$left" -gt 0 ] || break
    (cd "$dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/tests/fuzz/$target" -max_total_time="$left" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${max_len[$target]:-4096}" -dict="$top/tests/fuzz/fuzz.dict" -close_fd_mask=3 \
      -artifact_prefix="$dir/crashes/" corpus) > "$dir/run.log" 2>&1 && rc=0 || rc=$?
    cat "$dir/run.log" >> "$dir/log"
    runs=$(grep -oE '^(#|Done )[0-9]+' "$dir/run.log" | tail -n 1 | tr -dc 0-9)  # the last progress or final line
    executions=$((executions + ${runs:-0}))
    [ "$rc" -eq 0 ] && break
    echo "$target: crashed (libFuzzer exit $rc); see $dir/crashes/ and $dir/log"
  done
  elapsed=$(($(date +%s) - start))
  crashes=$(find "$dir/crashes" -type f | wc -l)
  [ "$crashes" -eq 0 ] || status=1
  printf '%-16s %6ss %12s executions %8s exec/s %5s corpus %3s crashes\n' "$target" "$elapsed" "$executions" \
    "$((executions / (elapsed > 0 ? elapsed : 1)))" "$(ls "$dir/corpus" | wc -l)" "$crashes"
done
exit "$status"
