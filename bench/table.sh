#!/usr/bin/env bash
# Prints wall time and peak memory of the scan on the benchmark data sets,
# with a release build, on every core (or OMP_NUM_THREADS).
#   bench/table.sh [data-folder]    default: ../shared/data beside the repository
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-$top/../shared/data}
bin="$top/build/veltrane"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j "$(nproc)" --target veltrane > /dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$top/bench/make-mosaics.sh" "$data/chr20-large" 20000 "$scratch/mosaics-20000"
run() {  # label mode folder [replicates]
  local work="$scratch/run"
  rm -rf "$work" && mkdir "$work"
  cp "$3"/{data.txt,intervals.txt} "$work/"
  if [ -n "${4:-}" ]; then
    sed "s/^permutations.*/permutations\t$4/" "$3/params.txt" > "$work/params.txt"
  else
    cp "$3/params.txt" "$work/params.txt"
  fi
  (cd "$work" && /usr/bin/time -f "%e %M" -o time.txt "$bin" "$2" data.txt params.txt intervals.txt)
  read -r seconds kib < "$work/time.txt"
  printf '| %s | %s s | %s MB |\n' "$1" "$seconds" "$((kib / 1024))"
}
echo "| data set | wall time | peak memory |"
echo "|---|---|---|"
run "chr20-cc (600 x 1,974)" -s "$data/chr20-cc"
run "chr20-qt (600 x 1,974)" -q "$data/chr20-qt"
run "chr20-large (4,000 x 1,974)" -s "$data/chr20-large"
run "chr20-large, 1,000 replicates" -s "$data/chr20-large" 1000
run "chr20-wide (600 x 18,788)" -s "$data/chr20-wide"
run "mosaics (20,000 x 1,974)" -s "$scratch/mosaics-20000"
