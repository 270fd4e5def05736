#!/usr/bin/python3
"""Simulates one association data set from the phased VCF of Debian's
shapeit4-example package (300 individuals, chromosome 20), deterministically
from a seed.

    simulate.py --seed N [--markers 300] --causal none|common|rare --typed yes|no
                --mode s|q [--effect X] [--pc-effect X --pcs FILE] --out PREFIX

The region is a run of --markers consecutive biallelic SNPs of minor-allele
frequency at least 0.05 (array-like markers), drawn by the seed. The causal
SNP is a biallelic SNP inside the region, away from its edges (its middle 80%),
of minor-allele frequency 0.1-0.3 (common) or 0.01-0.04 (rare); its minor
allele raises the risk or the trait. With --typed yes the causal SNP is one of
the written markers (a rare one is added to the row), with --typed no it is
left out.

Phenotypes, per individual, with g the count of causal minor alleles (0-2)
and z the standardised PC1 of the individual (--pc-effect, else 0):
  mode s: P(case) = min(1, b * E^g * exp(X * z)), E the relative risk per allele
          (--effect; 2 for common, 4 for rare, 1 for none), b set so that a
          third of the individuals are cases on average;
  mode q: trait = E * g + X * z + N(0, 1), E the effect per allele in standard
          deviations of the noise (--effect; 0.5 common, 1.0 rare, 0 none).
The seed alone fixes the region, the causal SNP and the phenotype draws, so
--typed yes and --typed no give the same data set but for that one marker.

Writes PREFIX.vcf.gz (bgzipped), PREFIX.fam (mode s) or PREFIX.pheno (mode q),
PREFIX.gmap.gz (the package's genetic map, `pos chr cM`, cut to the region),
and PREFIX.truth: a header and one row `chrom pos id maf typed markers_before`
(markers_before: written markers that lie before the causal SNP, so in typed
sets its 0-based marker index); no row for --causal none.

The VCF is parsed once into bench/.cache/reference.npz and read from there.
"""
import argparse
import gzip
import os
import subprocess
import sys

import numpy as np

SOURCE_DIR = "/usr/share/doc/shapeit4/examples/test"
SOURCE_VCF = os.path.join(SOURCE_DIR, "reference.vcf.gz")
SOURCE_MAP = os.path.join(SOURCE_DIR, "chr20.b37.gmap.gz")
CACHE = os.path.join(os.path.dirname(os.path.abspath(__file__)), ".cache", "reference.npz")

MAF_CLASSES = {"common": (0.1, 0.3), "rare": (0.01, 0.04)}
MARKER_MIN_MAF = 0.05
DEFAULT_EFFECT = {("s", "common"): 2.0, ("s", "rare"): 4.0, ("s", "none"): 1.0,
                  ("q", "common"): 0.5, ("q", "rare"): 1.0, ("q", "none"): 0.0}
CASE_FRACTION = 1.0 / 3.0


def fail(message):
    sys.exit("simulate.py: " + message)


def query(fmt):
    return subprocess.run(["bcftools", "query", "-f", fmt, SOURCE_VCF], check=True,
                          stdout=subprocess.PIPE).stdout


def parse_source():
    """Reads the biallelic SNPs of the source VCF into arrays."""
    samples = subprocess.run(["bcftools", "query", "-l", SOURCE_VCF], check=True,
                             stdout=subprocess.PIPE).stdout.decode().split()
    sites = [line.split("\t") for line in query("%CHROM\t%POS\t%ID\t%REF\t%ALT\t%INFO/CM\n").decode().splitlines()]
    gt = np.frombuffer(query("[%GT]\n"), dtype=np.uint8)
    width = 3 * len(samples) + 1
    if gt.size != width * len(sites):
        fail(SOURCE_VCF + ": genotypes are not all phased single-digit calls")
    gt = gt.reshape(len(sites), width)[:, :-1].reshape(len(sites), len(samples), 3)
    if np.any(gt[:, :, 1] != ord("|")):
        fail(SOURCE_VCF + ": unphased genotypes")
    haplotypes = (gt[:, :, [0, 2]] - ord("0")).reshape(len(sites), 2 * len(samples))
    snp = np.array([len(s[3]) == 1 and len(s[4]) == 1 and s[4] != "." for s in sites])
    snp &= haplotypes.max(axis=1) <= 1
    keep = np.flatnonzero(snp)
    return dict(samples=np.array(samples), chrom=np.array([sites[i][0] for i in keep]),
                pos=np.array([int(sites[i][1]) for i in keep]), id=np.array([sites[i][2] for i in keep]),
                ref=np.array([sites[i][3] for i in keep]), alt=np.array([sites[i][4] for i in keep]),
                cm=np.array([sites[i][5] for i in keep]), haplotypes=haplotypes[keep].astype(np.uint8))


def load_source():
    if os.path.exists(CACHE) and os.path.getmtime(CACHE) >= os.path.getmtime(SOURCE_VCF):
        with np.load(CACHE) as cached:
            return {k: cached[k] for k in cached.files}
    if not os.path.exists(SOURCE_VCF):
        fail(SOURCE_VCF + " is missing: apt-get install shapeit4-example")
    source = parse_source()
    os.makedirs(os.path.dirname(CACHE), exist_ok=True)
    partial = CACHE + ".%d.npz" % os.getpid()
    np.savez(partial, **source)
    os.replace(partial, CACHE)
    return source


def choose_region(source, maf, markers, causal, rng):
    """Returns the indices of the region's marker SNPs and of the causal SNP (or None)."""
    typed = np.flatnonzero(maf >= MARKER_MIN_MAF)
    if typed.size < markers:
        fail("the VCF has only %d SNPs of MAF >= %g" % (typed.size, MARKER_MIN_MAF))
    for _ in range(10000):
        start = int(rng.integers(0, typed.size - markers + 1))
        region = typed[start:start + markers]
        if causal == "none":
            return region, None
        low, high = MAF_CLASSES[causal]
        inner_from, inner_to = region[markers // 10], region[markers - 1 - markers // 10]
        inside = np.arange(inner_from, inner_to + 1)
        candidates = inside[(maf[inside] >= low) & (maf[inside] <= high)]
        if candidates.size:
            return region, int(candidates[rng.integers(0, candidates.size)])
    fail("no region holds a %s causal SNP" % causal)


def read_pc1(path, samples):
    """PC1 by sample from a table with a header (`#IID PC1 ...`, `#FID IID PC1 ...`,
    `FID IID PC1 ...`) or from plain `sample value` lines."""
    values = {}
    with open(path) as f:
        rows = [line.split() for line in f if line.strip()]
    header = rows[0]
    names = [h.lstrip("#") for h in header]
    if "PC1" in names:
        iid, pc = names.index("IID") if "IID" in names else 0, names.index("PC1")
        rows = rows[1:]
    else:
        iid, pc = 0, 1
    for row in rows:
        values[row[iid]] = float(row[pc])
    missing = [s for s in samples if s not in values]
    if missing:
        fail("%s: no PC1 for sample '%s'" % (path, missing[0]))
    pc1 = np.array([values[s] for s in samples])
    return (pc1 - pc1.mean()) / pc1.std()


def case_baseline(relative):
    """The baseline risk b with mean(min(1, b * relative)) = CASE_FRACTION."""
    low, high = 0.0, 1.0 / relative.min()
    for _ in range(100):
        mid = (low + high) / 2
        if np.minimum(1.0, mid * relative).mean() < CASE_FRACTION:
            low = mid
        else:
            high = mid
    return (low + high) / 2


def draw_phenotypes(mode, dosage, effect, ancestry, pc_effect, rng):
    noise = rng.random(dosage.size) if mode == "s" else rng.standard_normal(dosage.size)
    if mode == "s":
        relative = effect ** dosage * np.exp(pc_effect * ancestry)
        return noise < np.minimum(1.0, case_baseline(relative) * relative)
    return effect * dosage + pc_effect * ancestry + noise


def write_vcf(path, source, rows):
    samples = source["samples"]
    lines = ["##fileformat=VCFv4.2", "##contig=<ID=%s>" % source["chrom"][rows[0]],
             '##INFO=<ID=CM,Number=A,Type=Float,Description="Interpolated cM position">',
             '##FORMAT=<ID=GT,Number=1,Type=String,Description="Phased genotypes">',
             "\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO", "FORMAT"] + list(samples))]
    for r in rows:
        h = source["haplotypes"][r]
        calls = np.char.add(np.char.add(h[0::2].astype(str), "|"), h[1::2].astype(str))
        lines.append("\t".join([source["chrom"][r], str(source["pos"][r]), source["id"][r], source["ref"][r],
                                source["alt"][r], ".", "PASS", "CM=" + source["cm"][r], "GT"] + list(calls)))
    text = ("\n".join(lines) + "\n").encode()
    with open(path, "wb") as out:
        subprocess.run(["bgzip", "-c"], input=text, stdout=out, check=True)


def write_map(path, first, last):
    """The map rows over [first, last] and the one on each side, so every
    position of the region can be interpolated."""
    with gzip.open(SOURCE_MAP, "rt") as f:
        header = f.readline()
        rows = [line for line in f if line.strip()]
    bp = np.array([int(line.split()[0]) for line in rows])
    lo = max(int(np.searchsorted(bp, first, side="right")) - 1, 0)
    hi = min(int(np.searchsorted(bp, last, side="left")) + 1, len(rows))
    with gzip.open(path, "wt") as out:
        out.write(header)
        out.writelines(rows[lo:hi])


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--seed", type=int, required=True)
    p.add_argument("--markers", type=int, default=300)
    p.add_argument("--causal", choices=["none", "common", "rare"], required=True)
    p.add_argument("--typed", choices=["yes", "no"], default="no")
    p.add_argument("--mode", choices=["s", "q"], required=True)
    p.add_argument("--effect", type=float)
    p.add_argument("--pc-effect", type=float, default=0.0)
    p.add_argument("--pcs")
    p.add_argument("--out", required=True)
    a = p.parse_args()
    if a.pc_effect and not a.pcs:
        fail("--pc-effect needs --pcs FILE")
    if a.markers < 10:
        fail("--markers must be at least 10")

    source = load_source()
    haplotypes = source["haplotypes"]
    freq = haplotypes.mean(axis=1)
    maf = np.minimum(freq, 1 - freq)
    region, causal = choose_region(source, maf, a.markers, a.causal, np.random.default_rng([a.seed, 1]))

    individuals = haplotypes.shape[1] // 2
    dosage = np.zeros(individuals)
    if causal is not None:
        minor = 1 if freq[causal] <= 0.5 else 0
        dosage = (haplotypes[causal] == minor).reshape(individuals, 2).sum(axis=1).astype(float)
    ancestry = read_pc1(a.pcs, source["samples"]) if a.pcs else np.zeros(individuals)
    effect = a.effect if a.effect is not None else DEFAULT_EFFECT[(a.mode, a.causal)]
    pheno = draw_phenotypes(a.mode, dosage, effect, ancestry, a.pc_effect, np.random.default_rng([a.seed, 2]))

    rows = [int(r) for r in region if r != causal]
    if causal is not None and a.typed == "yes":
        rows = sorted(rows + [causal])
    write_vcf(a.out + ".vcf.gz", source, rows)
    samples = source["samples"]
    if a.mode == "s":
        with open(a.out + ".fam", "w") as f:
            f.writelines("%s\t%s\t0\t0\t0\t%d\n" % (s, s, 2 if case else 1) for s, case in zip(samples, pheno))
    else:
        with open(a.out + ".pheno", "w") as f:
            f.write("#IID\ttrait\n")
            f.writelines("%s\t%.5f\n" % (s, t) for s, t in zip(samples, pheno))
    write_map(a.out + ".gmap.gz", int(source["pos"][rows[0]]), int(source["pos"][rows[-1]]))
    with open(a.out + ".truth", "w") as f:
        f.write("chrom\tpos\tid\tmaf\ttyped\tmarkers_before\n")
        if causal is not None:
            before = sum(1 for r in rows if source["pos"][r] < source["pos"][causal])
            f.write("%s\t%d\t%s\t%.4f\t%s\t%d\n" % (source["chrom"][causal], source["pos"][causal],
                                                   source["id"][causal], maf[causal], a.typed, before))


if __name__ == "__main__":
    main()
