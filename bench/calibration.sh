#!/usr/bin/env bash
# Calibration of the permutation test under a null phenotype: the case-control
# labels of chr20-cc are shuffled among the haplotypes (20 seeds), so they are
# independent of the alleles; the permutation p-values should then spread
# over (0, 1] rather than pile up at 0 or 1.
#   bench/calibration.sh [chr20-cc folder] [seeds]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-$top/../shared/data/chr20-cc}
seeds=${2:-20}
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j "$(nproc)" --target veltrane > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$data"/{params.txt,intervals.txt} "$work/"
for seed in $(seq 1 "$seeds"); do
  # Shuffle the status column with a seeded awk generator, keeping the alleles in place.
  awk -v seed="$seed" 'BEGIN { srand(seed) }
    NR == 1 { print; next }
    { line[NR] = $0; status[NR] = $2; n = NR }
    END {
      for (i = n; i > 2; i--) { j = 2 + int(rand() * (i - 1)); t = status[i]; status[i] = status[j]; status[j] = t }
      for (i = 2; i <= n; i++) { split(line[i], f, "\t"); f[2] = status[i]; out = f[1]
        for (k = 2; k <= length(f); k++) out = out "\t" f[k]; print out }
    }' "$data/data.txt" > "$work/data.txt"
  (cd "$work" && rm -f data.txt-results && "$top/build/veltrane" -s data.txt params.txt intervals.txt)
  tail -n 1 "$work/data.txt-results" | cut -f 4
done | awk '{ p[NR] = $1; if ($1 == 0) zero++; if ($1 == 1) one++; sum += $1 }
  END { printf "permutation p-values:"; for (i = 1; i <= NR; i++) printf " %s", p[i]
        printf "\nmean %.3f, at 0: %d, at 1: %d of %d\n", sum / NR, zero, one, NR }'
