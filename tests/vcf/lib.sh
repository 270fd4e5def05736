# shellcheck shell=bash
# Helpers of the VCF command tests (not a test itself), on top of the
# end-to-end helpers: the bundled example and a folder of variants of it.
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
example=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../example" && pwd)
vcf=$example/chr20-slice.vcf.gz
fam=$example/chr20-cc.fam
qt=$example/chr20-qt.pheno
gmap=$example/chr20-slice.gmap.gz
in=$work/inputs
mkdir -p "$in"
zcat "$vcf" > "$in/slice.vcf"

# The plain example VCF with one data field changed: record n (from 1), column c.
edited_vcf() {  # n c value
  awk -v n="$1" -v c="$2" -v v="$3" 'BEGIN { FS = OFS = "\t" } /^#/ { print; next } ++k == n { $c = v } { print }' \
    "$in/slice.vcf"
}

# Fails the case unless the files are identical.
same() {  # expected actual
  cmp -s "$1" "$2" || fail "$(basename "$2") differs from $(basename "$1")"
}

# Fails the case unless every row of a table (header skipped) passes an awk test.
rows_pass() {  # table awk-condition description
  awk -F'\t' -v what="$3" "NR > 1 && !($2) { print \"row \" NR \" is not \" what \": \" \$0; bad = 1; exit } END { exit bad }" \
    "$1" > "$work/why" || fail "$(cat "$work/why")"
}

# One case per line of standard input, name|message|arguments: the command
# followed by the arguments must be refused with a line holding the message.
refusals() {  # command...
  local name message arguments args
  while IFS='|' read -r name message arguments; do
    begin_case "$name"
    read -r -a args <<< "$arguments"
    check_refusal "$message" "$@" "${args[@]}"
    end_case
  done
}
