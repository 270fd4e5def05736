#!/usr/bin/env bash
# The parameter sweep and the calibration of the permutation test, niced, on a
# copy of a release build (so that a rebuild during the study does not change
# the binary under it). Tables and summaries go to DIR.
#   bench/sweep.sh DIR [sweep.py options]
#   SWEEP_ONLY=1 / CALIBRATE_ONLY=1 to run one of the two;
#   CALIBRATE_OPTIONS="--sets 1000" for calibrate.py's options.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mkdir -p "$1" && cd "$1" && pwd)
shift
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j 2 --target veltrane > /dev/null
cp "$top/build/veltrane" "$dir/veltrane"
export VELTRANE=$dir/veltrane
if [ -z "${CALIBRATE_ONLY:-}" ]; then
  nice -n 10 /usr/bin/python3 "$top/bench/sweep.py" --table "$dir/sweep.tsv" "$@" | tee "$dir/sweep.txt"
fi
if [ -z "${SWEEP_ONLY:-}" ]; then
  # shellcheck disable=SC2086
  nice -n 10 /usr/bin/python3 "$top/bench/calibrate.py" --table "$dir/calibration.tsv" ${CALIBRATE_OPTIONS:-} |
    tee "$dir/calibration.txt"
fi
