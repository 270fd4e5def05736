#!/usr/bin/env bash
# The biobank-scale table: mosaic sets of chr20-large (1,974 markers, the
# parameters of the benchmark data, 100 replicates) at growing haplotype
# counts, each scanned by `veltrane run --report none` from a BCF, by the
# classic command with its whole report, and tested by PLINK 1.9
# (--assoc mperm=100) and PLINK 2 (--glm) on the same BCF. Wall time, CPU
# (user + sys) and peak memory from /usr/bin/time -v; the write column is the
# time this machine takes to write and sync as many bytes as the classic
# report, the floor of the classic command.
#   [VELTRANE=binary] bench/biobank.sh [HAPLOTYPES...]    default: 4000 20000 40000 80000
# Everything runs under nice, on 2 threads. The sets are rebuilt
# deterministically (bench/make-mosaics.sh, bench/mosaic-bcf.py, bcftools).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
data=${DATA:-$top/../shared/data}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(4000 20000 40000 80000)
# VELTRANE=path runs that binary instead of a fresh release build.
bin=${VELTRANE:-$top/build/veltrane}
if [ -z "${VELTRANE:-}" ]; then
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$top/build" -j 2 --target veltrane > /dev/null
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs a command under /usr/bin/time -v and sets wall, cpu (user + sys) and peak (MB).
measure() {
  nice -n 10 /usr/bin/time -v -o "$scratch/time.txt" "$@" > /dev/null 2> "$scratch/stderr.txt" ||
    { echo "failed: $*" >&2; cat "$scratch/stderr.txt" >&2; return 1; }
  read -r wall cpu peak < <(awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + t[i] }
    /User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident/ { m = $2 }
    END { printf "%.2f %.2f+%.2f %.0f\n", w, u, s, m / 1024 }' "$scratch/time.txt")
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf (b > 0 ? "%.1fx" : "-"), a / b }'; }

echo "| haplotypes | run --report none: wall, CPU, peak | classic: wall, CPU, peak | output | write+sync | PLINK 1.9 mperm=100 | PLINK 2 --glm | run / PLINK 1.9 | classic / write |"
echo "|---|---|---|---|---|---|---|---|---|"
for n in "${sizes[@]}"; do
  set_dir="$scratch/mosaics-$n"
  nice -n 10 "$top/bench/make-mosaics.sh" "$data/chr20-large" "$n" "$set_dir"
  nice -n 10 "$top/bench/mosaic-bcf.py" "$set_dir" "$data/chr20-large/markers.tsv" "$set_dir/set"
  bcftools view --no-version -Ob -o "$set_dir/set.bcf" "$set_dir/set.vcf" && rm "$set_dir/set.vcf"

  measure "$bin" run --vcf "$set_dir/set.bcf" --pheno "$set_dir/set.fam" --report none --threads 2 --quiet \
    --out "$scratch/run"
  run_wall=$wall run_row="$wall s, $cpu s, $peak MB"
  rm -rf "$scratch/run"

  cd "$set_dir"
  measure "$bin" -s data.txt params.txt intervals.txt
  cd "$top"
  classic_row="$wall s, $cpu s, $peak MB" classic_wall=$wall
  bytes=$(stat -c %s "$set_dir/output")
  rm "$set_dir/output"
  start=$(date +%s.%N)
  head -c "$bytes" /dev/zero | dd of="$scratch/write" bs=1M conv=fsync status=none
  write=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  rm "$scratch/write"

  plink2 --bcf "$set_dir/set.bcf" --double-id --make-bed --out "$set_dir/pl" --silent > /dev/null
  cp "$set_dir/set.fam" "$set_dir/pl.fam"
  measure plink1.9 --bfile "$set_dir/pl" --assoc mperm=100 --allow-no-sex --out "$set_dir/a1" --silent
  plink1_wall=$wall plink1_row="$wall s"
  measure plink2 --bfile "$set_dir/pl" --glm allow-no-covars --out "$set_dir/a2" --silent
  plink2_row="$wall s"
  printf '| %s | %s | %s | %s MB | %s s | %s | %s | %s | %s |\n' "$n" "$run_row" "$classic_row" \
    "$((bytes / 1000000))" "$write" "$plink1_row" "$plink2_row" "$(ratio "$run_wall" "$plink1_wall")" \
    "$(ratio "$classic_wall" "$write")"
  rm -rf "$set_dir"
done
