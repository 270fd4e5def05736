#!/usr/bin/python3
"""Ancestry study: false positives where the phenotype follows population
structure alone. Data sets of simulate.py with no causal SNP (--causal none)
and a phenotype that rises with PC1 of the whole Debian VCF (--pc-effect E:
case-control log-odds or trait SDs per SD of PC1) on a random 300-marker
region; every detection is false. Per data set, the corrected p-value of:

  Veltrane cluster         `run` (its defaults), the cluster score's permutation p
  Veltrane single-marker   mode s: the allelic test's smallest p times the markers
                           (it has no permutation p); mode q: the pooled t's permutation p
  PLINK 1.9 max(T)         `--assoc --mperm`, the smallest EMP2
  PLINK 1.9 with PC1-4     `--logistic` (s) / `--linear` (q) with PC1-PC4 as
                           covariates, the smallest p times the markers
  Veltrane --covar PC1-4   `run --covar PCS --covar-name PC1-PC4`, the adjusted
                           permutation p-values of the summary (only with a binary
                           whose run takes --covar)
  Veltrane --within        `run --within STRATA`, the strata the fifths of PC1: the
                           unadjusted p-values with replicates shuffled within a
                           stratum (only with a binary whose run takes --within)

Power, with and without --covar: data sets with a common causal SNP
(--causal common, untyped, no ancestry effect) on a subset, the others'
phenotypes set missing (the VCF does not say who comes from which population):
MODE:common keeps the individuals whose PC1 is below its median, which still
spreads over PC2-PC4; MODE:central the half nearest the centre of PC1-PC4 (each
PC in units of its SD), the more homogeneous. The fraction below
0.05 is then each method's power, PLINK's with and without the PCs showing
what the adjustment costs a regression on the same data sets.

    bench/ancestry.py --pcs EIGENVEC [--sets 200] [--first-seed 1] [--permutations 100]
                      [--scenarios s:0.5 s:1 q:0.5 q:1 s:common q:common s:central q:central] [--dir DIR]

A scenario is MODE:EFFECT (a null one) or MODE:common, MODE:central (power). EIGENVEC is plink2 --pca's table (#IID PC1 ...) of
the whole VCF. Each method's p-values go to its own table in DIR (one row per
scenario and seed) as they come, so a stopped study continues and a method
added later runs on the data sets already done. The summary, a Markdown table,
gives per scenario the fraction below 0.05 with a 95% Wilson interval.
"""
import argparse
import math
import os
import re
import subprocess
import tempfile

import numpy

import benchlib
import sweep

SCENARIOS = ["s:0.5", "s:1", "q:0.5", "q:1", "s:common", "q:common", "s:central", "q:central"]
COVARIATES = "PC1-PC4"
ALPHA = 0.05
# The summary's column of each method's p-values, by table and column.
HEADINGS = {("veltrane", "cluster"): "Veltrane cluster", ("veltrane", "single"): "Veltrane single-marker",
            ("plink-maxT", "p"): "PLINK 1.9 max(T)",
            ("plink-pcs", "p"): "PLINK 1.9 `--logistic`/`--linear`, PC1-4",
            ("veltrane-covar", "cluster"): "Veltrane cluster, `--covar` PC1-4",
            ("veltrane-covar", "single"): "Veltrane single-marker, `--covar` PC1-4",
            ("veltrane-within", "cluster"): "Veltrane cluster, `--within` PC1 fifths",
            ("veltrane-within", "single"): "Veltrane single-marker, `--within` PC1 fifths"}


def run_veltrane(prefix, mode, out, permutations, extra=()):
    subprocess.run([benchlib.VELTRANE, "run", "--quiet", "--threads", "1", "--vcf", prefix + ".vcf.gz",
                    "--pheno", benchlib.pheno_file(prefix, mode), "--mode", mode,
                    "--genetic-map", prefix + ".gmap.gz", "--permutations", str(permutations),
                    "--report", "none", "--out", out, *extra], check=True)


def marker_count(out):
    with open(os.path.join(out, "scan.tsv")) as f:
        return sum(1 for _ in f) - 1


def unadjusted_p(out, mode):
    """(cluster, single-marker) corrected p-values from the results block."""
    with open(os.path.join(out, "results")) as f:
        last = f.read().splitlines()[-1].split("\t")
    if mode == "q":
        return float(last[3]), float(last[7])
    return float(last[3]), min(1.0, 10 ** -float(last[6]) * marker_count(out))


def adjusted_p(out):
    """(cluster, single-marker) from the summary's line of the adjusted permutation p-values."""
    with open(os.path.join(out, "summary.txt")) as f:
        found = re.search(r"Adjusted permutation p-value: cluster ([0-9.e+-]+), single-marker ([0-9.e+-]+)", f.read())
    if not found:
        raise RuntimeError(out + "/summary.txt: no adjusted permutation p-values")
    return float(found.group(1)), float(found.group(2))


def takes(option):
    usage = subprocess.run([benchlib.VELTRANE, "run", "--help"], check=True, stdout=subprocess.PIPE, text=True).stdout
    return option + " " in usage


def fifths_of_pc1_file(eigenvec, path):
    """The fifths of PC1 as a within file: FID IID STRATUM (FID = IID)."""
    with open(eigenvec) as f:
        rows = [line.split() for line in f if line.strip()]
    names = [h.lstrip("#") for h in rows[0]]
    iid, pc1 = names.index("IID"), names.index("PC1")
    values = numpy.array([float(r[pc1]) for r in rows[1:]])
    fifth = numpy.searchsorted(numpy.quantile(values, [0.2, 0.4, 0.6, 0.8]), values, side="right")
    with open(path, "w") as out:
        for r, k in zip(rows[1:], fifth):
            out.write("%s %s PC1-%d\n" % (r[iid], r[iid], k + 1))


def plink_covariate_file(eigenvec, path):
    """PC1-PC4 as PLINK 1.9's --covar reads them: FID IID PC1 ... (FID = IID)."""
    with open(eigenvec) as f, open(path, "w") as out:
        header = f.readline().split()
        columns = [header.index("PC%d" % k) for k in range(1, 5)]
        out.write("FID\tIID\tPC1\tPC2\tPC3\tPC4\n")
        for line in f:
            fields = line.split()
            out.write("\t".join([fields[0], fields[0]] + [fields[c] for c in columns]) + "\n")


def plink_with_pcs(prefix, mode, work, covariates):
    """PLINK 1.9's regression with PC1-4, Bonferroni over the markers."""
    pheno, out = os.path.join(work, "plink.pheno"), os.path.join(work, "plink-pcs")
    benchlib.write_plink_pheno(prefix, mode, pheno)
    subprocess.run(["plink1.9", "--vcf", prefix + ".vcf.gz", "--double-id", "--allow-no-sex", "--pheno", pheno,
                    "--logistic" if mode == "s" else "--linear", "--covar", covariates, "--covar-name", COVARIATES,
                    "--hide-covar", "--silent", "--out", out], check=True, stdout=subprocess.DEVNULL)
    with open(out + (".assoc.logistic" if mode == "s" else ".assoc.linear")) as f:
        # P is the last column; NA (a marker the fit could not test) tests nothing.
        p = [r.split()[-1] for r in f.read().splitlines()[1:]]
    return min(1.0, min(float(x) for x in p if x != "NA") * len(p))


class Method:
    """One tool's columns of the table, with the table of its p-values."""

    def __init__(self, name, columns, measure):
        self.name, self.columns, self.measure = name, columns, measure

    def open(self, folder):
        self.table = os.path.join(folder, self.name + ".tsv")
        self.done = benchlib.start_table(self.table, "\t".join(["scenario", "seed"] + self.columns) + "\n")

    def add(self, scenario, seed, pvalues):
        with open(self.table, "a") as f:
            f.write("\t".join([scenario, str(seed)] + ["%g" % p for p in pvalues]) + "\n")

    def pvalues(self, seeds):
        """{(scenario, heading): [p, ...]} from the table's rows of these seeds."""
        found = {}
        with open(self.table) as f:
            for line in f.read().splitlines()[1:]:
                fields = line.split("\t")
                if int(fields[1]) not in seeds:
                    continue
                for column, p in zip(self.columns, fields[2:]):
                    found.setdefault((fields[0], HEADINGS[(self.name, column)]), []).append(float(p))
        return found


def methods(permutations, eigenvec, covariates, strata):
    def veltrane(prefix, mode, work):
        run_veltrane(prefix, mode, os.path.join(work, "run"), permutations)
        return unadjusted_p(os.path.join(work, "run"), mode)

    def veltrane_covar(prefix, mode, work):
        run_veltrane(prefix, mode, os.path.join(work, "covar"), permutations,
                     ["--covar", eigenvec, "--covar-name", COVARIATES])
        return adjusted_p(os.path.join(work, "covar"))

    def veltrane_within(prefix, mode, work):
        run_veltrane(prefix, mode, os.path.join(work, "within"), permutations, ["--within", strata])
        return unadjusted_p(os.path.join(work, "within"), mode)

    found = [Method("veltrane", ["cluster", "single"], veltrane),
             Method("plink-maxT", ["p"], lambda prefix, mode, work: [sweep.plink_max_t(prefix, mode, permutations, work)[1]]),
             Method("plink-pcs", ["p"], lambda prefix, mode, work: [plink_with_pcs(prefix, mode, work, covariates)])]
    if takes("--covar"):
        found.append(Method("veltrane-covar", ["cluster", "single"], veltrane_covar))
    if takes("--within"):
        found.append(Method("veltrane-within", ["cluster", "single"], veltrane_within))
    return found


def read_pcs(path, samples, count=4):
    """PC1..PCcount by sample (rows in the order of samples) from plink2's .eigenvec."""
    with open(path) as f:
        rows = [line.split() for line in f if line.strip()]
    names = [h.lstrip("#") for h in rows[0]]
    iid, columns = names.index("IID"), [names.index("PC%d" % k) for k in range(1, count + 1)]
    values = {r[iid]: [float(r[c]) for c in columns] for r in rows[1:]}
    return numpy.array([values[s] for s in samples])


def outside_low_pc1(pcs):
    """The individuals whose PC1 is at or above its median."""
    return pcs[:, 0] >= numpy.median(pcs[:, 0])


def outside_centre(pcs):
    """The half of the individuals furthest from the median of PC1-PC4, each PC in units of its SD."""
    distance = (((pcs - numpy.median(pcs, axis=0)) / pcs.std(axis=0)) ** 2).sum(axis=1)
    return distance >= numpy.median(distance)


SUBSETS = {"common": (outside_low_pc1, "PC1 below its median"),
           "central": (outside_centre, "the half nearest the centre of PC1-PC4")}


def keep_subset(prefix, mode, eigenvec, outside):
    """Sets missing the phenotypes of the individuals outside(PCs) picks."""
    path = benchlib.pheno_file(prefix, mode)
    with open(path) as f:
        lines = f.read().splitlines(True)
    header = lines[:1] if mode == "q" else []
    rows = [line.split() for line in lines[len(header):]]
    drop = outside(read_pcs(eigenvec, [r[0] if mode == "q" else r[1] for r in rows]))
    with open(path, "w") as out:
        out.writelines(header)
        for r, dropped in zip(rows, drop):
            if dropped:
                r[-1] = "NA" if mode == "q" else "-9"
            out.write("\t".join(r) + "\n")


def is_power(scenario):
    return scenario.split(":")[1] in SUBSETS


def make_data_set(prefix, seed, scenario, pcs):
    mode, effect = scenario.split(":")
    if effect not in SUBSETS:
        benchlib.make_data_set(prefix, seed, mode, pc_effect=float(effect), pcs=pcs)
        return
    benchlib.make_data_set(prefix, seed, mode, causal="common")
    keep_subset(prefix, mode, pcs, SUBSETS[effect][0])


def scenario_name(scenario):
    mode, effect = scenario.split(":")
    if effect in SUBSETS:
        return "%s, a common causal SNP, %s" % ("case-control" if mode == "s" else "trait", SUBSETS[effect][1])
    if mode == "s":
        return "case-control, log-odds %s per SD of PC1" % effect
    return "trait, %s SD per SD of PC1" % effect


def wilson(below, n):
    """The fraction and its 95% Wilson interval."""
    share, z = below / n, 1.96
    centre = (share + z * z / (2 * n)) / (1 + z * z / n)
    half = z * math.sqrt(share * (1 - share) / n + z * z / (4 * n * n)) / (1 + z * z / n)
    return share, max(0.0, centre - half), min(1.0, centre + half)


def summarise(scenarios, tools, seeds):
    """The table of the data sets of these seeds only, so that every cell of a row counts the same sets."""
    columns = [HEADINGS[(m.name, c)] for m in tools for c in m.columns]
    pvalues = {}
    for m in tools:
        pvalues.update(m.pvalues(seeds))
    print("| phenotype | data sets | " + " | ".join(columns) + " |")
    print("|---" * (len(columns) + 2) + "|")
    for scenario in scenarios:
        cells = []
        for column in columns:
            p = pvalues.get((scenario, column), [])
            cells.append("%.3f (%.3f-%.3f)" % wilson(sum(x < ALPHA for x in p), len(p)) if p else "-")
        counts = sorted({len(pvalues.get((scenario, column), [])) for column in columns})
        print("| %s | %s | %s |" % (scenario_name(scenario), "-".join(map(str, counts)), " | ".join(cells)))


def main():
    a = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    a.add_argument("--pcs", required=True, help="plink2 --pca's .eigenvec of the whole VCF")
    a.add_argument("--sets", type=int, default=200, help="data sets per scenario")
    a.add_argument("--first-seed", type=int, default=1)
    a.add_argument("--permutations", type=int, default=100)
    a.add_argument("--scenarios", nargs="+", default=SCENARIOS)
    a.add_argument("--dir", default=".")
    o = a.parse_args()
    os.makedirs(o.dir, exist_ok=True)
    covariates = os.path.join(o.dir, "plink-covariates.txt")
    plink_covariate_file(o.pcs, covariates)
    strata = os.path.join(o.dir, "pc1-fifths.within")
    fifths_of_pc1_file(o.pcs, strata)
    tools = methods(o.permutations, o.pcs, covariates, strata)
    for m in tools:
        m.open(o.dir)
    seeds = range(o.first_seed, o.first_seed + o.sets)
    with tempfile.TemporaryDirectory() as work:
        prefix = os.path.join(work, "set")
        # Scenario by scenario in turns, so that a stopped study has some of each.
        for seed in seeds:
            for scenario in o.scenarios:
                missing = [m for m in tools if (scenario, str(seed)) not in m.done]
                if not missing:
                    continue
                make_data_set(prefix, seed, scenario, o.pcs)
                for m in missing:
                    m.add(scenario, seed, m.measure(prefix, scenario.split(":")[0], work))
    null = [s for s in o.scenarios if not is_power(s)]
    power = [s for s in o.scenarios if is_power(s)]
    if null:
        summarise(null, tools, seeds)
    if power:
        print()
        summarise(power, tools, seeds)


if __name__ == "__main__":
    main()
