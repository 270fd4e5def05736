#!/usr/bin/env bash
# Rebuilds the seed corpus under corpus/ from the golden cases plus the
# hand-written seeds in seeds/. Run it after changing either; the corpus is
# kept in the repository, so a fuzz run does not need this script. The
# readers' inputs start with the reader's letter and its setting byte (see
# fuzz_readers.cpp): p-NAME parameter files, d-NAME data files, i-NAME
# interval files; the seeds of the other readers (h-, g-, m-, t-, r-, a-, c-, w-, j-) are in
# seeds/fuzz_readers.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
golden="$here/../golden"
out="$here/corpus"
rm -rf "$out"
mkdir -p "$out"/fuzz_readers "$out"/fuzz_run

# Caps the permutation count of a parameter file at 3, so that whole runs stay tiny.
cap_permutations() {
  awk 'BEGIN { RS = "[ \t\r\n]+"; ORS = " " }
       { tok[n++] = $0 }
       END {
         i = 1; mode = tok[i++]; if (mode == 1 || mode == 2) i++
         i += 2; i += 2; i++; scheme = tok[i++]
         np = (scheme == 1 || scheme == 2 || scheme == 6) ? 2 : scheme == 3 ? 1 : (scheme == 4 || scheme == 5) ? 4 : 0
         i += np + 1
         if (i < n && tok[i] + 0 > 3) tok[i] = 3
         for (k = 0; k < n; k++) print tok[k]
       }' "$1"
}

# The first `count` fields of lines `from` to `to`, split at spaces, commas,
# tabs and CRs and joined by `joiner`.
first_fields() {  # count from to joiner file
  awk -v keep="$1" -v from="$2" -v to="$3" -v joiner="$4" 'NR > to { exit }
    NR >= from { n = split($0, f, /[ ,\t\r]+/); line = ""; k = 0
                 for (i = 1; i <= n && k < keep; i++) if (f[i] != "") { line = line (k ? joiner : "") f[i]; k++ }
                 print line }' "$5"
}

for case_dir in "$golden"/case*; do
  name=golden-$(basename "$case_dir")
  read -r -a args < "$case_dir/args"
  mode=${args[0]:1:1}
  data="$case_dir/input/${args[1]}"
  params="$case_dir/input/${args[2]}"
  intervals=""
  [ ${#args[@]} -eq 4 ] && intervals="$case_dir/input/${args[3]}"
  [ -f "$params" ] && { printf 'p-'; cat "$params"; } > "$out/fuzz_readers/p-$name"
  if [ -f "$data" ] && [ "$(stat -c %s "$data")" -le 4096 ]; then
    # Setting: bit 0 the trait mode, the rest a window of 22.
    { if [ "$mode" = q ]; then printf 'd+'; else printf 'd*'; fi; cat "$data"; } > "$out/fuzz_readers/d-$name"
  fi
  markers=0
  [ -f "$data" ] && markers=$(($(first_fields 999999 2 2 ' ' "$data" | wc -w) - 2))
  if [ -n "$intervals" ] && [ -f "$intervals" ] && [ "$markers" -ge 1 ] && [ "$markers" -le 64 ]; then
    { printf "i\\$(printf '%03o' $((64 + markers - 1)))"; cat "$intervals"; } > "$out/fuzz_readers/i-$name"
  fi
  if [ -f "$params" ] && [ -f "$data" ]; then
    letter=$mode
    [ -n "$intervals" ] && letter=${mode^^}
    # At most 24 haplotypes of at most 12 markers, and the matching intervals.
    { printf '%s' "$letter"; cap_permutations "$params"; printf '|'
      head -n 1 "$data"
      first_fields 14 2 25 '\t' "$data"
      printf '|'
      [ -n "$intervals" ] && first_fields $(((markers < 12 ? markers : 12) - 1)) 1 1 ' ' "$intervals"
      true; } > "$out/fuzz_run/$name"
  fi
done
for target in fuzz_readers fuzz_run; do
  [ -d "$here/seeds/$target" ] && cp "$here/seeds/$target"/* "$out/$target"/
  echo "$target: $(ls "$out/$target" | wc -l) seeds"
done
