#!/usr/bin/env bash
# veltrane convert on the bundled example: inputs that mean the same give the
# same files (VCF, BCF and plain VCF; a region with and without an index; each
# phenotype and map layout), the filters keep what they say, and every
# rejection is one line, exit status 1 and nothing written.
#
#   convert_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
region=20:2760000-2780000

convert() {  # prefix args...: converts quietly, failing the case on an error
  "$bin" convert --quiet --out "$@" 2> "$work/stderr" || fail "convert $* failed: $(cat "$work/stderr")"
}

# ---- the same conversion from different files or layouts ----
# Rows: name | reference arguments | arguments that must give the same three files.
cp "$vcf" "$in/no-index.vcf.gz"
cp "$example/chr20-slice.bcf" "$in/no-index.bcf"
awk 'BEGIN { print "#FID\tIID\tcase" } { print $1 "\t" $2 "\t" $6 }' "$fam" > "$in/fid.pheno"
awk 'BEGIN { print "#IID SEX case" } { print $2, 0, $6 }' "$fam" > "$in/sex.pheno"
awk 'BEGIN { print "IID junk case" } { print $2, "x", $6 }' "$fam" > "$in/named.pheno"
awk 'NR > 1 { print $1, $1, 0, 0, 0, $2 }' "$qt" > "$in/trait.fam"
awk 'NR == 1 { print "#FID IID other trait"; next } { print $1, $1, -9, $2 }' "$qt" > "$in/trait.pheno"
# The same map as PLINK .map (after rows of another chromosome) and as HapMap.
zcat "$gmap" | awk 'NR == 1 { print "21 rs0 1.5 2700000"; next } { print $2, "m" NR, $3, $1 }' > "$in/slice.map"
zcat "$gmap" | awk 'NR == 1 { print "Chromosome\tPosition(bp)\tRate(cM/Mb)\tMap(cM)"; next } { print "chr" $2 "\t" $1 "\t0\t" $3 }' \
  > "$in/slice.hapmap"
while IFS='|' read -r name reference other; do
  begin_case "$name"
  read -r -a args <<< "$reference"
  convert "$work/ref" "${args[@]}"
  read -r -a args <<< "$other"
  convert "$work/other" "${args[@]}"
  for file in data.txt intervals.txt markers.tsv; do same "$work/ref.$file" "$work/other.$file"; done
  end_case
done << EOF2
bcf-as-vcf|--vcf $vcf --pheno $fam|--vcf $example/chr20-slice.bcf --pheno $fam
plain-vcf|--vcf $vcf --pheno $fam|--vcf $in/slice.vcf --pheno $fam
region-vcf-without-index|--vcf $vcf --pheno $fam --region $region|--vcf $in/no-index.vcf.gz --pheno $fam --region $region
region-bcf-with-index|--vcf $vcf --pheno $fam --region $region|--vcf $example/chr20-slice.bcf --pheno $fam --region $region
region-bcf-without-index|--vcf $vcf --pheno $fam --region $region|--vcf $in/no-index.bcf --pheno $fam --region $region
region-plain-vcf|--vcf $vcf --pheno $fam --region $region|--vcf $in/slice.vcf --pheno $fam --region $region
region-chr-prefix-index|--vcf $vcf --pheno $fam --region $region|--vcf $example/chr20-slice.bcf --pheno $fam --region chr$region
region-chr-prefix-plain|--vcf $vcf --pheno $fam --region $region|--vcf $in/slice.vcf --pheno $fam --region chr$region
pheno-fid-iid-table|--vcf $vcf --pheno $fam|--vcf $vcf --pheno $in/fid.pheno
pheno-table-skips-sex|--vcf $vcf --pheno $fam|--vcf $vcf --pheno $in/sex.pheno
pheno-name|--vcf $vcf --pheno $fam|--vcf $vcf --pheno $in/named.pheno --pheno-name case
trait-fam|--vcf $vcf --pheno $qt --mode q|--vcf $vcf --pheno $in/trait.fam --mode q
trait-table-pheno-name|--vcf $vcf --pheno $qt --mode q|--vcf $vcf --pheno $in/trait.pheno --mode q --pheno-name trait
plink-map|--vcf $vcf --pheno $fam --genetic-map $gmap|--vcf $vcf --pheno $fam --genetic-map $in/slice.map
hapmap-map|--vcf $vcf --pheno $fam --genetic-map $gmap|--vcf $vcf --pheno $fam --genetic-map $in/slice.hapmap
EOF2

# ---- what the converted files hold ----
# Rows: name | arguments | awk test of every markers.tsv row | what it means.
printf 'rs6051397\nrs215536\nrs-not-there\n' > "$in/ids"
edited_vcf 3 5 G,T > "$in/multi.vcf"
multi=$(awk '!/^#/ && ++k == 3 { print $2 }' "$in/slice.vcf")
while IFS='|' read -r name arguments test meaning; do
  begin_case "$name"
  read -r -a args <<< "$arguments"
  convert "$work/t" "${args[@]}"
  rows_pass "$work/t.markers.tsv" "$test" "$meaning"
  end_case
done << EOF2
region|--vcf $vcf --pheno $fam --region $region|\$3 >= 2760000 && \$3 <= 2780000|inside the region
snps-only|--vcf $vcf --pheno $fam --snps-only|\$5 ~ /^[ACGT]\$/ && \$6 ~ /^[ACGT]\$/|a SNP
min-maf|--vcf $vcf --pheno $fam --min-maf 0.1|\$8 >= 0.1 && \$8 <= 0.9|common
no-monomorphic|--vcf $vcf --pheno $fam|\$8 > 0 && \$8 < 1|polymorphic
min-mac|--vcf $vcf --pheno $fam --min-mac 3|\$8 * 600 > 2.5 && \$8 * 600 < 597.5|with a minor allele on 3 haplotypes
include-ids|--vcf $vcf --pheno $fam --include-ids $in/ids|index(" rs6051397 rs215536 ", " " \$4 " ")|listed
multi-allelic-skipped|--vcf $in/multi.vcf --pheno $fam|\$3 != $multi|the multi-allelic record
cm-per-mb|--vcf $vcf --pheno $fam --cm-per-mb 2|\$7 == \$3 * 2 / 1e6|at 2 cM per Mb
EOF2

# The data file of two markers, built from the VCF text independently:
# individual i on two lines, its status, then allele 1 + the GT allele.
begin_case data-file-layout
convert "$work/t" --vcf "$in/slice.vcf" --pheno "$fam" --include-ids "$in/ids"
awk -F'\t' 'NR == FNR { status[FNR] = $6 == 2 ? "a" : "c"; next }
  /^#/ || ($3 != "rs215536" && $3 != "rs6051397") { next }
  { for (s = 10; s <= NF; s++) { split($s, gt, "|"); h[s, 1] = h[s, 1] "\t" gt[1] + 1; h[s, 2] = h[s, 2] "\t" gt[2] + 1 } }
  END { print "ID\tStatus\t1\t2"; for (s = 10; s <= NF; s++) for (k = 1; k <= 2; k++) print s - 9 "\t" status[s - 9] h[s, k] }' \
  "$fam" "$in/slice.vcf" > "$work/expected.data.txt"
same "$work/expected.data.txt" "$work/t.data.txt"
end_case

# Samples without a phenotype are left out, the others numbered on; a
# phenotype for a sample the VCF lacks is counted.
begin_case missing-phenotypes
awk 'NR == 2 { $6 = -9 } NR == 3 { $6 = 0 } NR == 4 { $6 = "NA" } { print } END { print "XX XX 0 0 0 2" }' "$fam" > "$in/gaps.fam"
"$bin" convert --vcf "$vcf" --pheno "$in/gaps.fam" --region "$region" --out "$work/t" 2> "$work/stderr"
[ "$(cut -f1 "$work/t.data.txt" | uniq | tail -n 1)" = 297 ] || fail "expected individuals 1 to 297"
grep -q "1 sample with a phenotype but not in the VCF" "$work/stderr" || fail "absent sample not reported: $(cat "$work/stderr")"
grep -q "3 samples of the phenotype file with a missing phenotype" "$work/stderr" || fail "missing phenotypes not reported"
grep -q "VCF sample" "$work/stderr" && fail "the samples with a missing phenotype are counted twice: $(cat "$work/stderr")"
end_case

# What is left out is counted, one line each: symbolic ALT alleles (record
# 5 <DEL>, record 7 a lone *), a repeated record (record 9 twice), listed IDs
# no record has, monomorphic markers (--min-mac 0 keeps them); and positions
# beyond the genetic map are extrapolated and counted.
begin_case left-out-counted
awk 'BEGIN { FS = OFS = "\t" } !/^#/ && ++k { if (k == 5) $5 = "<DEL>"; if (k == 7) $5 = "*"; if (k == 9) print } { print }' \
  "$in/slice.vcf" > "$in/odd.vcf"
zcat "$gmap" | awk 'NR == 1 || ($1 > 2750000 && $1 < 2800000)' > "$in/middle.gmap"
"$bin" convert --vcf "$in/odd.vcf" --pheno "$fam" --genetic-map "$in/middle.gmap" --out "$work/t" 2> "$work/stderr" ||
  fail "convert failed: $(cat "$work/stderr")"
for line in "left out 2 records with a symbolic ALT allele" "left out 1 record repeating the position and alleles" \
            "left out 257 monomorphic markers (--min-mac 0 keeps them)" "veltrane: 655 markers beyond the map's ends" \
            "veltrane: 1069 markers of 300 individuals"; do
  grep -qF "$line" "$work/stderr" || fail "no line '$line' in: $(cat "$work/stderr")"
done
[ "$(cut -f4 "$work/t.markers.tsv" | sort | uniq -d)" = "" ] || fail "a marker ID is in markers.tsv twice"
"$bin" convert --vcf "$in/odd.vcf" --pheno "$fam" --min-mac 0 --include-ids "$in/ids" --out "$work/t" 2> "$work/stderr"
grep -qF "left out 1 listed ID (--include-ids) that no record read has" "$work/stderr" || fail "absent ID not counted: $(cat "$work/stderr")"
grep -q "monomorphic" "$work/stderr" && fail "--min-mac 0 left monomorphic markers out"
end_case

# Genetic positions interpolated in bp, and extrapolated at the outer rates
# beyond a map that covers only the middle of the markers.
begin_case map-interpolation
zcat "$gmap" | awk 'NR == 1 || ($1 > 2750000 && $1 < 2800000)' > "$in/middle.gmap"
convert "$work/t" --vcf "$vcf" --pheno "$fam" --genetic-map "$in/middle.gmap"
awk -F'\t' 'NR == FNR { if (FNR > 1) { bp[++n] = $1; cm[n] = $3 } next }
  FNR > 1 { k = 2; while (k < n && bp[k] < $3) k++
            want = cm[k-1] + (cm[k] - cm[k-1]) * ($3 - bp[k-1]) / (bp[k] - bp[k-1])
            if ((d = $7 - want) > 1e-6 || d < -1e-6) { print "marker " $1 ": " $7 " cM, expected " want; exit 1 } }' \
  "$in/middle.gmap" "$work/t.markers.tsv" > "$work/why" || fail "$(cat "$work/why")"
end_case

# ---- rejections: one line, status 1, nothing written ----
edited_vcf 5 12 0/1 > "$in/unphased.vcf"
edited_vcf 5 12 '.|.' > "$in/missing.vcf"
edited_vcf 5 12 0 > "$in/haploid.vcf"
edited_vcf 5 2 2700000 > "$in/unsorted.vcf"
awk 'BEGIN { FS = OFS = "\t" } !/^#/ && ++k >= 5 { $1 = 21 } { print }' "$in/slice.vcf" > "$in/two-chromosomes.vcf"
sed 's/;CM=[0-9.]*//' "$in/slice.vcf" > "$in/no-cm.vcf"
awk 'NR == 7 { $6 = 3 } { print }' "$fam" > "$in/bad-status.fam"
awk 'NR == 7 { $6 = "" } { print }' "$fam" > "$in/five-fields.fam"
cat "$fam" "$fam" > "$in/twice.fam"
awk '{ $1 = $2 = "X" NR; print }' "$fam" > "$in/strangers.fam"
zcat "$gmap" | awk 'NR != 50' | sed '60s/^2/1/' > "$in/unsorted.gmap"
zcat "$gmap" | head -n 2 > "$in/one-row.gmap"
printf 'rs1 rs2\n' > "$in/two-ids"
head -c 3000 "$vcf" > "$in/truncated.vcf.gz"
refusals "$bin" convert --out out << EOF2
unphased|20:2700547: unphased genotype 0/1 of sample 'HG00099'|--vcf $in/unphased.vcf --pheno $fam
missing-genotype|20:2700547: missing genotype|--vcf $in/missing.vcf --pheno $fam
haploid|20:2700547: the genotype of sample 'HG00099' is not diploid|--vcf $in/haploid.vcf --pheno $fam
unsorted-markers|20:2700000: comes after 20:2700465|--vcf $in/unsorted.vcf --pheno $fam
two-chromosomes|21:2700547: a second chromosome|--vcf $in/two-chromosomes.vcf --pheno $fam
no-map-no-info-cm|no-cm.vcf: 20:2700121: no genetic position (INFO/CM)|--vcf $in/no-cm.vcf --pheno $fam
not-a-vcf|fam: not a VCF or BCF file|--vcf $fam --pheno $fam
truncated-vcf|truncated.vcf.gz: cannot read the record|--vcf $in/truncated.vcf.gz --pheno $fam
missing-vcf|nothing.vcf: cannot open the genotype file|--vcf $in/nothing.vcf --pheno $fam
bad-status|bad-status.fam:7: phenotype '3' of sample 'HG00103'|--vcf $vcf --pheno $in/bad-status.fam
fam-five-fields|five-fields.fam:7: expected 6 fields, found 5|--vcf $vcf --pheno $in/five-fields.fam
trait-not-a-number|named.pheno:2: trait 'x' of sample 'HG00096'|--vcf $vcf --pheno $in/named.pheno --mode q --pheno-name junk
unknown-pheno-name|named.pheno:1: no phenotype column 'bmi'|--vcf $vcf --pheno $in/named.pheno --pheno-name bmi
pheno-name-of-fam|chr20-cc.fam:1: --pheno-name needs a phenotype table|--vcf $vcf --pheno $fam --pheno-name case
sample-twice|twice.fam:301: sample 'HG00096' is already on line 1|--vcf $vcf --pheno $in/twice.fam
no-sample-phenotyped|none of its 300 samples has a phenotype|--vcf $vcf --pheno $in/strangers.fam
empty-region|no record in --region 21:1-1000; its contigs are '20'|--vcf $vcf --pheno $fam --region 21:1-1000
map-unsorted|unsorted.gmap:60: position|--vcf $vcf --pheno $fam --genetic-map $in/unsorted.gmap
map-one-row|one-row.gmap: 1 map position(s) on chromosome '20'|--vcf $vcf --pheno $fam --genetic-map $in/one-row.gmap
ids-two-per-line|two-ids:1: expected one marker ID|--vcf $vcf --pheno $fam --include-ids $in/two-ids
EOF2

finish
