#!/usr/bin/env bash
# Scaling out, measured. One whole classic run of a data set, then the
# workflow in each chunk count, called from the repository root as users call it:
#   snakemake --cores 2 --snakefile workflow/Snakefile --config data=DIR mode=s chunks=N out=OUT
# Every merged OUT/output and OUT/results must be the whole run's, byte for
# byte (the script fails otherwise). Prints a Markdown table: wall time, CPU
# time of all jobs (chunks and merge), peak memory of one chunk; and the CPU
# time per position of the whole run.
#
#   bench/scale-out.sh [DATA_DIR [CHUNKS...]]    default: ../shared/data/chr20-large 1 2 4 8
#   bench/scale-out.sh ../shared/data/chr20-cc 4    the chr20-cc comparison (100 replicates)
#   MODE=q CORES=2 bench/scale-out.sh ../shared/data/chr20-qt 2 4
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=$(cd "${1:-$top/../shared/data/chr20-large}" && pwd)
shift || true
chunk_counts=("${@:-1 2 4 8}")
read -r -a chunk_counts <<< "${chunk_counts[*]}"
mode=${MODE:-s}
cores=${CORES:-2}

cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j "$(nproc)" --target veltrane > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/data" "$work/whole"
for f in data.txt params.txt intervals.txt; do
  [ -f "$data/$f" ] && cp "$data/$f" "$work/data/" && cp "$data/$f" "$work/whole/"
done

# Runs veltrane and appends "command wall-seconds cpu-seconds peak-KB" to jobs.log.
cat > "$work/measure" << EOF
#!/usr/bin/env python3
import os, sys, time
start = time.monotonic()
pid = os.fork()
if pid == 0:
    os.execv("$top/build/veltrane", ["veltrane"] + sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
with open("$work/jobs.log", "a") as log:
    log.write(f"{sys.argv[1]} {time.monotonic() - start:.2f} {usage.ru_utime + usage.ru_stime:.2f} {usage.ru_maxrss}\n")
sys.exit(os.waitstatus_to_exitcode(status))
EOF
chmod +x "$work/measure"

intervals=()
[ -f "$work/whole/intervals.txt" ] && intervals=(intervals.txt)
(cd "$work/whole" && "$work/measure" "-$mode" data.txt params.txt "${intervals[@]}" 2> /dev/null)
markers=$(awk 'NR == 2 { print NF - 2; exit }' "$work/data/data.txt")
haplotypes=$(awk 'NR > 1 && NF > 0' "$work/data/data.txt" | wc -l)
replicates=$(awk '$1 ~ /^perm/ { print $2 }' "$work/data/params.txt")
read -r _ whole_wall whole_cpu whole_kb < "$work/jobs.log"

echo "$(basename "$data"): $markers markers, $haplotypes haplotypes, $replicates replicates, mode $mode, snakemake --cores $cores"
echo
echo "| run | wall time (s) | CPU time, all jobs (s) | peak memory of a chunk (MB) |"
echo "| --- | ---: | ---: | ---: |"
echo "| whole run (classic) | $whole_wall | $whole_cpu | $((whole_kb / 1024)) |"
for n in "${chunk_counts[@]}"; do
  rm -f "$work/jobs.log"
  start=$(date +%s.%N)
  (cd "$top" && snakemake --quiet --cores "$cores" --snakefile workflow/Snakefile \
    --config data="$work/data" mode="$mode" permute=haplotypes chunks="$n" out="$work/out-$n" veltrane="$work/measure" > "$work/snakemake.log" 2>&1) ||
    { tail -n 20 "$work/snakemake.log"; exit 1; }
  wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  cmp "$work/whole/output" "$work/out-$n/output"
  cmp "$work/whole/data.txt-results" "$work/out-$n/results"
  awk -v n="$n" -v wall="$wall" '
    { cpu += $3 } $1 == "part" && $4 > peak { peak = $4 }
    END { printf "| %d chunk%s | %.1f | %.1f | %d |\n", n, (n > 1 ? "s" : ""), wall, cpu, peak / 1024 }' "$work/jobs.log"
done
echo
echo "Every workflow run's output and results are byte-identical to the whole run's."
awk -v cpu="$whole_cpu" -v m="$markers" -v h="$haplotypes" -v r="$replicates" 'BEGIN {
  printf "Whole run: %.2f ms of CPU per position (%d haplotypes, %d replicates).\n", 1000 * cpu / m, h, r }'
