#!/usr/bin/env bash
# Times the three real data sets (wall time and peak memory) with a release build.
#   bench/run-chr20.sh [data-folder]    default: ../shared/data beside the repository
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-$top/../shared/data}
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j "$(nproc)" --target veltrane > /dev/null
for set in chr20-cc chr20-qt chr20-large; do
  [ -d "$data/$set" ] || { echo "$set: not found under $data"; continue; }
  work=$(mktemp -d)
  cp "$data/$set"/{data.txt,params.txt,intervals.txt} "$work/"
  mode=-s; [ "$set" = chr20-qt ] && mode=-q
  (cd "$work" && /usr/bin/time -f "$set: %e s wall, %M KB peak" "$top/build/veltrane" $mode data.txt params.txt intervals.txt)
  rm -rf "$work"
done
