#!/usr/bin/python3
"""Writes a mosaic set of bench/make-mosaics.sh as a phased BCF and a PLINK .fam.

    bench/mosaic-bcf.py MOSAIC-FOLDER MARKERS.TSV OUT-PREFIX

Haplotypes 2i-1 and 2i of the data file are sample Si. Allele 1 is REF, 2 ALT;
the genetic positions go into INFO/CM. A sample is a case when its first
haplotype carries the case label (PLINK status 2, else 1). Writes
OUT-PREFIX.bcf (the VCF text piped through bcftools, so htslib writes it) and
OUT-PREFIX.fam. The alleles are held marker by marker, one byte each (2 GB
for a million haplotypes x 1,974 markers), and the data file is read in
chunks. Deterministic: the same folder gives the same bytes.
"""
import subprocess
import sys

import numpy as np

CHUNK = 1 << 16  # haplotype lines parsed at a time


def count_lines(path):
    with open(path, "rb") as f:
        return sum(block.count(b"\n") for block in iter(lambda: f.read(1 << 24), b""))


def read_haplotypes(path):
    """The alleles as a markers x haplotypes array of b'1' / b'2', and the case labels."""
    haplotypes = count_lines(path) - 1
    status = np.empty(haplotypes, dtype=bool)
    alleles = None
    with open(path, "rb") as f:
        f.readline()
        for first in range(0, haplotypes, CHUNK):
            lines = [f.readline() for _ in range(min(CHUNK, haplotypes - first))]
            start = lines[0].index(b"\t", lines[0].index(b"\t") + 1) + 1
            markers = (len(lines[0].rstrip(b"\n")) - start + 1) // 2
            if alleles is None:
                alleles = np.empty((markers, haplotypes), dtype=np.uint8)
            chunk = np.empty((len(lines), markers), dtype=np.uint8)
            for i, line in enumerate(lines):
                tab = line.index(b"\t")
                status[first + i] = line[tab + 1:tab + 2] == b"a"
                begin = line.index(b"\t", tab + 1) + 1
                chunk[i] = np.frombuffer(line[begin:begin + 2 * markers - 1:2], dtype=np.uint8)
            alleles[:, first:first + len(lines)] = chunk.T
    return alleles, status


def write_vcf(out, alleles, markers):
    samples = alleles.shape[1] // 2
    # One genotype field per sample: a|b and a tab, the last tab a line end.
    cells = np.empty((samples, 4), dtype=np.uint8)
    cells[:, 1] = ord("|")
    cells[:, 3] = ord("\t")
    out.write(b"##fileformat=VCFv4.2\n##contig=<ID=20>\n")
    out.write(b'##INFO=<ID=CM,Number=1,Type=Float,Description="Genetic position">\n')
    out.write(b'##FORMAT=<ID=GT,Number=1,Type=String,Description="Phased genotype">\n')
    out.write(b"#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" +
              "\t".join(f"S{i + 1}" for i in range(samples)).encode() + b"\n")
    for k, (_, bp, rsid, cm, _, ref, alt, _) in enumerate(markers):
        column = alleles[k, : 2 * samples] - ord("1") + ord("0")
        cells[:, 0] = column[0::2]
        cells[:, 2] = column[1::2]
        row = cells.tobytes()
        out.write(f"20\t{bp}\t{rsid}\t{ref}\t{alt}\t.\tPASS\tCM={cm}\tGT\t".encode() + row[:-1] + b"\n")


def main():
    folder, markers_tsv, prefix = sys.argv[1:4]
    alleles, status = read_haplotypes(folder + "/data.txt")
    samples = alleles.shape[1] // 2
    with open(markers_tsv) as f:
        f.readline()
        markers = [line.rstrip("\n").split("\t") for line in f][: alleles.shape[0]]
    with open(prefix + ".fam", "w") as fam:
        for i in range(samples):
            fam.write(f"S{i + 1} S{i + 1} 0 0 0 {2 if status[2 * i] else 1}\n")
    bcftools = subprocess.Popen(["bcftools", "view", "--no-version", "-Ob", "-o", prefix + ".bcf"],
                                stdin=subprocess.PIPE)
    write_vcf(bcftools.stdin, alleles, markers)
    bcftools.stdin.close()
    if bcftools.wait() != 0:
        sys.exit("bcftools failed")


if __name__ == "__main__":
    main()
