#!/usr/bin/env bash
# The biobank-scale table: mosaic sets of chr20-large (1,974 markers, the
# parameters of the benchmark data, 100 replicates) at growing haplotype
# counts, each scanned by `veltrane run --report none` from a BCF, by the
# classic command with its whole report, and tested by PLINK 1.9
# (--assoc mperm=100) and PLINK 2 (--glm) on the same BCF. Wall time, CPU
# (user + sys) and peak memory from /usr/bin/time -v; the write column is the
# time this machine takes to write and sync as many bytes as the classic
# report, the floor of the classic command. Then `run` in mode q (a trait
# made from the case label and noise) and on mosaics of chr20-wide (18,788
# markers, rare variants). Last, the targets: each with its figure, met or
# missed. Every row carries the load average when it ended: on a shared
# machine wall times are upper bounds, and CPU is the steadier figure.
#   [VELTRANE=binary] [SETS=folder] bench/biobank.sh [HAPLOTYPES...|none]
#       default sizes: 4000 20000 40000 80000 200000 1000000; none: only the
#       mode q and chr20-wide rows
#   CLASSIC_UPTO=N  the classic command only up to N haplotypes (default 80000:
#                   its report is 40 KB per haplotype)
#   QSIZES="N..."   sizes also scanned in mode q (default 200000; "" for none)
#   WIDE=N          haplotypes of the chr20-wide mosaics (default 20000; 0: none)
#   LIMIT=S         seconds any one command may take (default 900)
#   SETS=folder     keeps the mosaic sets there and reuses them (a million
#                   haplotypes took 7 minutes of CPU to make, half an hour
#                   on a crowded machine, and a 4 GB data file on the way)
# Everything runs under nice, on 2 threads. The sets are made
# deterministically (bench/make-mosaics.sh, bench/mosaic-bcf.py), so a set
# made once is the set made again.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=${DATA:-$top/../shared/data}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(4000 20000 40000 80000 200000 1000000)
[ "${sizes[*]}" != none ] || sizes=()
classic_upto=${CLASSIC_UPTO:-80000} qsizes=${QSIZES-200000} wide=${WIDE:-20000} limit=${LIMIT:-900}
# VELTRANE=path runs that binary instead of a fresh release build.
bin=${VELTRANE:-$top/build/veltrane}
if [ -z "${VELTRANE:-}" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$top/build" -j 2 --target veltrane > /dev/null
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sets=${SETS:-$scratch}
mkdir -p "$sets"

# Runs a command under /usr/bin/time -v and sets wall, cpu (user + sys) and peak (MB).
measure() {
  nice -n 10 /usr/bin/time -v -o "$scratch/time.txt" timeout "$limit" "$@" > /dev/null 2> "$scratch/stderr.txt" ||
    { echo "failed or over ${limit} s: $*" >&2; cat "$scratch/stderr.txt" >&2; return 1; }
  read -r wall cpu peak < <(awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + t[i] }
    /User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident/ { m = $2 }
    END { printf "%.2f %.2f+%.2f %.0f\n", w, u, s, m / 1024 }' "$scratch/time.txt")
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf (b > 0 ? "%.1fx" : "-"), a / b }'; }
# Microseconds of wall time and kilobytes of peak memory per haplotype.
per_haplotype() { awk -v w="$1" -v m="$2" -v n="$3" 'BEGIN { printf "%.1f us, %.1f KB", w / n * 1e6, m * 1000 / n }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# Figures the targets are judged on, by row: run_wall[n], run_peak[n],
# classic_wall[n], classic_peak[n], floor[n], plink1[n], q_wall[n], wide_wall,
# wide_peak.
declare -A run_wall run_cpu run_peak classic_wall classic_cpu classic_peak floor plink1 q_wall q_cpu
wide_wall='' wide_cpu='' wide_peak=''
cpu_total() { awk -v c="$1" 'BEGIN { split(c, t, "+"); printf "%.2f", t[1] + t[2] }'; }

# The mosaic set of n haplotypes of a source folder, in DIR: data.txt (kept
# only when the classic command reads it), set.bcf and set.fam.
mosaic_set() {
  local source=$1 n=$2 dir=$3 keep_text=$4
  if [ ! -e "$dir/set.bcf" ] || { [ "$keep_text" = yes ] && [ ! -e "$dir/data.txt" ]; }; then
    nice -n 10 "$top/bench/make-mosaics.sh" "$source" "$n" "$dir"
    # Written under another name first: a set cut short is not taken for a whole one.
    nice -n 10 "$top/bench/mosaic-bcf.py" "$dir" "$source/markers.tsv" "$dir/partial"
    mv "$dir/partial.fam" "$dir/set.fam"
    mv "$dir/partial.bcf" "$dir/set.bcf"
  fi
  [ "$keep_text" = yes ] || rm -f "$dir/data.txt"
}

# A trait for mode q: the case label (0 or 1) plus noise, deterministic.
trait_table() {
  awk -v seed=20261208 '
    function rnd() { seed = (seed * 1103515245 + 12345) % 2147483648; return seed / 2147483648 }
    BEGIN { print "#IID\ttrait" }
    { printf "%s\t%.5f\n", $2, ($6 == 2) + rnd() + rnd() + rnd() + rnd() - 2 }' "$1"
}

run_scan() {  # set_dir, extra flags...
  local dir=$1
  shift
  measure "$bin" run --vcf "$dir/set.bcf" --params "$dir/params.txt" --report none --threads 2 --quiet \
    --out "$scratch/run" "$@"
  rm -rf "$scratch/run"
}

echo "load average before: $(load)"
echo
if [ ${#sizes[@]} -gt 0 ]; then
  echo "| haplotypes | run --report none: wall, CPU, peak | per haplotype | classic: wall, CPU, peak | output | write+sync | PLINK 1.9 mperm=100: wall, CPU | PLINK 2 --glm: wall, CPU | run / PLINK 1.9 | run / PLINK 2 | classic / write | load |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
fi
for n in "${sizes[@]+"${sizes[@]}"}"; do
  set_dir="$sets/mosaics-$n"
  classic=no
  [ "$n" -le "$classic_upto" ] && classic=yes
  mosaic_set "$data/chr20-large" "$n" "$set_dir" "$classic"

  run_scan "$set_dir" --pheno "$set_dir/set.fam"
  run_wall[$n]=$wall run_cpu[$n]=$(cpu_total "$cpu") run_peak[$n]=$peak
  run_row="$wall s, $cpu s, $peak MB" run_per=$(per_haplotype "$wall" "$peak" "$n")

  classic_row=- bytes=0 write=- classic_ratio=-
  if [ "$classic" = yes ]; then
    cd "$set_dir"
    measure "$bin" -s data.txt params.txt intervals.txt
    cd "$top"
    classic_row="$wall s, $cpu s, $peak MB"
    classic_wall[$n]=$wall classic_cpu[$n]=$(cpu_total "$cpu") classic_peak[$n]=$peak
    bytes=$(stat -c %s "$set_dir/output")
    rm "$set_dir/output" "$set_dir/data.txt-results"
    start=$(date +%s.%N)
    head -c "$bytes" /dev/zero | dd of="$scratch/write" bs=1M conv=fsync status=none
    write=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    rm "$scratch/write"
    classic_ratio=$(ratio "$wall" "$write")
    floor[$n]=$write write="$write s"
  fi

  plink2 --bcf "$set_dir/set.bcf" --double-id --make-bed --out "$scratch/pl" --silent > /dev/null
  cp "$set_dir/set.fam" "$scratch/pl.fam"
  measure plink1.9 --bfile "$scratch/pl" --assoc mperm=100 --allow-no-sex --out "$scratch/a1" --silent
  plink1[$n]=$wall plink1_row="$wall s, $cpu s"
  measure plink2 --bfile "$scratch/pl" --glm allow-no-covars --out "$scratch/a2" --silent
  plink2_wall=$wall plink2_row="$wall s, $cpu s"
  rm -f "$scratch"/pl.* "$scratch"/a1.* "$scratch"/a2.*
  printf '| %s | %s | %s | %s | %s MB | %s | %s | %s | %s | %s | %s | %s |\n' "$n" "$run_row" "$run_per" "$classic_row" \
    "$((bytes / 1000000))" "$write" "$plink1_row" "$plink2_row" "$(ratio "${run_wall[$n]}" "${plink1[$n]}")" \
    "$(ratio "${run_wall[$n]}" "$plink2_wall")" "$classic_ratio" "$(load)"
  [ -n "${SETS:-}" ] || rm -rf "$set_dir"
done

if [ -n "$qsizes" ] || [ "$wide" != 0 ]; then
  echo
  echo "| run --report none | haplotypes x markers | wall, CPU, peak | per haplotype | load |"
  echo "|---|---|---|---|---|"
fi
for n in $qsizes; do
  set_dir="$sets/mosaics-$n"
  mosaic_set "$data/chr20-large" "$n" "$set_dir" no
  trait_table "$set_dir/set.fam" > "$scratch/trait.tsv"
  run_scan "$set_dir" --pheno "$scratch/trait.tsv" --mode q
  q_wall[$n]=$wall q_cpu[$n]=$(cpu_total "$cpu")
  echo "| mode q | $n x 1,974 | $wall s, $cpu s, $peak MB | $(per_haplotype "$wall" "$peak" "$n") | $(load) |"
  [ -n "${SETS:-}" ] || rm -rf "$set_dir"
done
if [ "$wide" != 0 ]; then
  set_dir="$sets/wide-$wide"
  mosaic_set "$data/chr20-wide" "$wide" "$set_dir" no
  run_scan "$set_dir" --pheno "$set_dir/set.fam"
  wide_wall=$wall wide_cpu=$(cpu_total "$cpu") wide_peak=$peak
  echo "| chr20-wide mosaics | $wide x 18,788 | $wall s, $cpu s, $peak MB | $(per_haplotype "$wall" "$peak" "$wide") | $(load) |"
  [ -n "${SETS:-}" ] || rm -rf "$set_dir"
fi

# One target: its name, the figure, and whether it is met (an awk condition
# on the figures).
target() {
  local verdict
  verdict=$(awk "BEGIN { print ($3) ? \"met\" : \"missed\" }")
  echo "| $1 | $2 | $verdict |"
}
echo
echo "| target | figure | |"
echo "|---|---|---|"
if [ -n "${run_wall[40000]:-}" ]; then
  target "40,000: run within 20x of PLINK 1.9 mperm=100" \
    "$(ratio "${run_wall[40000]}" "${plink1[40000]}") (${run_wall[40000]} s against ${plink1[40000]} s)" \
    "${run_wall[40000]} <= 20 * ${plink1[40000]}"
fi
if [ -n "${classic_wall[40000]:-}" ]; then
  target "40,000: classic command <= 2x write+sync" \
    "$(ratio "${classic_wall[40000]}" "${floor[40000]}") (${classic_wall[40000]} s, CPU ${classic_cpu[40000]} s, against ${floor[40000]} s)" \
    "${classic_wall[40000]} <= 2 * ${floor[40000]}"
fi
if [ -n "${classic_wall[80000]:-}" ] && [ -n "${classic_wall[40000]:-}" ]; then
  target "80,000: classic command <= 3x the 40,000 time, <= 2 GB" \
    "$(ratio "${classic_wall[80000]}" "${classic_wall[40000]}") (${classic_wall[80000]} s, CPU ${classic_cpu[80000]} s), ${classic_peak[80000]} MB" \
    "${classic_wall[80000]} <= 3 * ${classic_wall[40000]} && ${classic_peak[80000]} <= 2048"
fi
if [ -n "${run_wall[200000]:-}" ]; then
  target "200,000: run <= 2 min, <= 2 GB" "${run_wall[200000]} s (CPU ${run_cpu[200000]} s), ${run_peak[200000]} MB" \
    "${run_wall[200000]} <= 120 && ${run_peak[200000]} <= 2048"
fi
if [ -n "${run_wall[1000000]:-}" ]; then
  target "1,000,000: run from a BCF <= 10 min, <= 8 GB" "${run_wall[1000000]} s (CPU ${run_cpu[1000000]} s), ${run_peak[1000000]} MB" \
    "${run_wall[1000000]} <= 600 && ${run_peak[1000000]} <= 8192"
fi
if [ -n "${q_wall[200000]:-}" ]; then
  target "200,000, mode q: <= 5 min" "${q_wall[200000]} s (CPU ${q_cpu[200000]} s)" "${q_wall[200000]} <= 300"
fi
if [ -n "$wide_wall" ] && [ "$wide" = 20000 ]; then
  target "20,000 chr20-wide: <= 2 min, <= 4 GB" "$wide_wall s (CPU $wide_cpu s), $wide_peak MB" \
    "$wide_wall <= 120 && $wide_peak <= 4096"
fi
echo
echo "load average after: $(load)"
