#!/usr/bin/python3
"""Writes a mosaic set of bench/make-mosaics.sh as a phased VCF and a PLINK .fam.

    bench/mosaic-bcf.py MOSAIC-FOLDER MARKERS.TSV OUT-PREFIX

Haplotypes 2i-1 and 2i of the data file are sample Si. Allele 1 is REF, 2 ALT;
the genetic positions go into INFO/CM. A sample is a case when its first
haplotype carries the case label (PLINK status 2, else 1). Writes
OUT-PREFIX.vcf and OUT-PREFIX.fam; the caller turns the VCF into a BCF.
Deterministic: the same folder gives the same bytes.
"""
import sys

import numpy as np


def read_haplotypes(path):
    with open(path, "rb") as f:
        f.readline()
        lines = f.read().splitlines()
    first = lines[0]
    start = first.index(b"\t", first.index(b"\t") + 1) + 1
    markers = (len(first) - start + 1) // 2
    alleles = np.empty((len(lines), markers), dtype=np.uint8)
    status = []
    for h, line in enumerate(lines):
        tab = line.index(b"\t")
        status.append(line[tab + 1:tab + 2] == b"a")
        start = line.index(b"\t", tab + 1) + 1
        alleles[h] = np.frombuffer(line[start::2], dtype=np.uint8)
    return alleles, status


def main():
    folder, markers_tsv, prefix = sys.argv[1:4]
    alleles, status = read_haplotypes(folder + "/data.txt")
    n, m = alleles.shape
    samples = n // 2
    with open(markers_tsv) as f:
        f.readline()
        markers = [line.rstrip("\n").split("\t") for line in f][:m]
    with open(prefix + ".fam", "w") as fam:
        for i in range(samples):
            fam.write(f"S{i + 1} S{i + 1} 0 0 0 {2 if status[2 * i] else 1}\n")
    # One genotype field per sample: a|b and a tab, the last tab a line end.
    cells = np.empty((samples, 4), dtype=np.uint8)
    cells[:, 1] = ord("|")
    cells[:, 3] = ord("\t")
    with open(prefix + ".vcf", "wb") as vcf:
        vcf.write(b"##fileformat=VCFv4.2\n##contig=<ID=20>\n")
        vcf.write(b'##INFO=<ID=CM,Number=1,Type=Float,Description="Genetic position">\n')
        vcf.write(b'##FORMAT=<ID=GT,Number=1,Type=String,Description="Phased genotype">\n')
        vcf.write(b"#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" +
                  "\t".join(f"S{i + 1}" for i in range(samples)).encode() + b"\n")
        for k, (_, bp, rsid, cm, _, ref, alt, _) in enumerate(markers):
            column = alleles[: 2 * samples, k] - ord("1") + ord("0")
            cells[:, 0] = column[0::2]
            cells[:, 2] = column[1::2]
            row = cells.tobytes()
            vcf.write(f"20\t{bp}\t{rsid}\t{ref}\t{alt}\t.\tPASS\tCM={cm}\tGT\t".encode() + row[:-1] + b"\n")


if __name__ == "__main__":
    main()
