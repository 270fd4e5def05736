#!/usr/bin/env bash
# The neighbour search and the packed alleles must not move a byte: every
# weighting scheme, both modes, a fixed radius and a radius percentile,
# windows clipped at both ends of the row and a window wider than the row,
# missing alleles, on one thread and on three. The expected checksums of
# `output` and the results file were taken from the build that still formed
# every class-pair distance.
#
#   weighting_schemes_test.sh path/to/veltrane [--print]
#
# --print writes the table of checksums of this binary instead of checking.
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
slice="$here/../data/chr20-slice"
print=${2:-}

# The slice in mode q: a trait from the alleles around marker 50 and the line
# number, five decimals as the converter writes them.
awk -F'\t' 'BEGIN { OFS = "\t" } NR == 1 { print; next }
  { t = (NR * 7919 % 1000) / 1000; for (k = 45; k <= 55; k++) t += $(k + 2) - 1
    $2 = sprintf("%.5f", t); print }' "$slice/data.txt" > "$work/trait.txt"
# The slice with missing alleles: every 13th allele of every 7th haplotype.
awk -F'\t' 'BEGIN { OFS = "\t" } NR > 1 && NR % 7 == 0 { for (k = 3; k <= NF; k += 13) $k = 0 } { print }' \
  "$slice/data.txt" > "$work/missing.txt"

# name mode data radius-mode radius density window scheme-and-parameters
cases_table='
map-exp        s data.txt    1 0.5  0.1  21  1 -30 1
map-exp-pct    s data.txt    2 0.6  0.1  21  1 -30 1
map-linear     s data.txt    1 0.3  0.05 15  2 -10 1
ld-identity    s data.txt    1 0.4  0.1  21  3 1
ld-run-pct     s data.txt    2 0.4  0.2  21  3 2
ld-both        s data.txt    1 0.5  0.1  11  3 3
map-exp-two    s data.txt    1 0.5  0.1  21  4 -30 1 -10 0.5
map-linear-two s data.txt    2 0.6  0.05 31  5 -20 1 -5 0.8
constant       s data.txt    1 0.6  0.1  9   6 1 0.5
trait-exp      q trait.txt   1 0.5  0.1  21  1 -30 1
trait-two-pct  q trait.txt   2 0.4  0.1  21  4 -30 1 -10 0.5
trait-ld       q trait.txt   1 0.4  0.1  21  3 3
missing-wide   s missing.txt 1 0.5  0.1  150 2 -10 1
missing-pct    s missing.txt 2 0.4  0.1  41  1 -30 1
'

declare -A expected
while read -r name sums; do
  [ -n "$name" ] && expected[$name]=$sums
done <<'SUMS'
map-exp 3344796611 2597779748
map-exp-pct 2493164135 294399524
map-linear 2387407191 521713033
ld-identity 3030910776 3286019742
ld-run-pct 719296218 2071227599
ld-both 3117957898 1027170079
map-exp-two 3885348750 3730487114
map-linear-two 748687470 3064800723
constant 3658674267 1508899279
trait-exp 2033409480 4259043595
trait-two-pct 3670881362 326180474
trait-ld 1335933787 3436752559
missing-wide 1684192758 3259834772
missing-pct 4063514247 1870442118
SUMS

checksum() { sed -e 's/-nan/nan/g' "$1" | cksum | cut -d' ' -f1; }

while read -r name mode data radius_mode radius density window scheme; do
  [ -n "$name" ] || continue
  for threads in 1 3; do
    begin_case "$name-$threads"
    cp "$slice/intervals.txt" "$dir"/
    cp "$work/$data" "$dir/$data" 2> /dev/null || cp "$slice/$data" "$dir/$data"
    printf 'radiusMode\t%s\t%s\ndensityFraction\t%s\nwindowWidth\t%s\nweightScheme\t%s\npermutations\t5\nreportThreshold\t1.0\n' \
      "$radius_mode" "$radius" "$density" "$window" "${scheme// /$'\t'}" > "$dir/params.txt"
    (cd "$dir" && OMP_NUM_THREADS=$threads "$bin" "-$mode" "$data" params.txt intervals.txt > /dev/null 2>&1) ||
      fail "the run failed"
    sums="$(checksum "$dir/output") $(checksum "$dir/$data-results")"
    if [ "$print" = --print ]; then
      [ "$threads" = 1 ] && echo "$name $sums"
    elif [ "$sums" != "${expected[$name]:-none}" ]; then
      fail "checksums $sums, expected ${expected[$name]:-none}"
    fi
    end_case
  done
done <<< "$cases_table"
[ "$print" = --print ] || finish
