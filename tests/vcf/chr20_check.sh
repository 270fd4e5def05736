#!/usr/bin/env bash
# The benchmark files from the VCF they were made from: converting the markers
# of shared/data/chr20-cc/markers.tsv from the VCF of Debian's
# shapeit4-example with chr20-vcf/chr20-cc.fam gives chr20-cc/data.txt and,
# from INFO/CM, chr20-cc/intervals.txt, byte for byte; chr20-qt.pheno gives
# chr20-qt/data.txt. Exits 77 (skipped) without the shared folder (SHARED,
# default ../shared beside the checkout) or the package.
#
#   chr20_check.sh path/to/veltrane
source "$(dirname "$0")/../e2e/lib.sh"
shared=${SHARED:-$(cd "$(dirname "$0")/../.." && pwd)/../shared}
debian_vcf=/usr/share/doc/shapeit4/examples/test/reference.vcf.gz
for needed in "$shared/data/chr20-cc/markers.tsv" "$shared/data/chr20-vcf/chr20-qt.pheno" "$debian_vcf"; do
  if [ ! -f "$needed" ]; then
    echo "SKIP: $needed is missing (the shared data folder, or: apt-get install shapeit4-example)"
    exit 77
  fi
done
data=$shared/data
tail -n +2 "$data/chr20-cc/markers.tsv" | cut -f3 > "$work/ids"

for set in cc qt; do
  begin_case "chr20-$set"
  pheno=$data/chr20-vcf/chr20-cc.fam mode=s
  [ "$set" = qt ] && pheno=$data/chr20-vcf/chr20-qt.pheno mode=q
  "$bin" convert --quiet --vcf "$debian_vcf" --pheno "$pheno" --mode "$mode" --include-ids "$work/ids" \
    --out "$work/$set" || fail "convert failed"
  cmp -s "$data/chr20-$set/data.txt" "$work/$set.data.txt" || fail "data.txt differs"
  cmp -s "$data/chr20-$set/intervals.txt" "$work/$set.intervals.txt" || fail "intervals.txt differs"
  diff <(tail -n +2 "$data/chr20-$set/markers.tsv" | cut -f1,2,3,6,7) \
    <(tail -n +2 "$work/$set.markers.tsv" | cut -f1,3,4,5,6) > /dev/null || fail "the markers differ"
  end_case
done
finish
