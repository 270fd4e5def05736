#!/usr/bin/python3
"""Parameter sweep: power and localisation of the cluster scan over a grid of
settings (fixed radius x density fraction x window), beside PLINK 1.9's
single-marker test with its max(T) permutation, on the same data sets of
simulate.py.

    bench/sweep.py [--sets 30] [--markers 300] [--permutations 100]
                   [--radii 0.3 0.5] [--densities 0.02 0.1] [--windows 21 31]
                   [--scenarios rare:no:s ...] [--plink107] [--table sweep.tsv]

A scenario is CAUSAL:TYPED:MODE (causal none, common or rare; typed yes or
no; mode s or q). Per data set and method the table gets a row: the family-wise
p-value (the cluster permutation p, or PLINK's EMP2 minimum) and the distance
in markers from the predicted position to the causal SNP (an untyped SNP sits
half-way between its neighbouring markers). Seeds already in the table are
skipped, so a stopped sweep continues. The summary per scenario and method:
the fraction detected at family-wise 0.05, and the median distance over the
detected data sets.
"""
import argparse
import os
import statistics
import subprocess
import tempfile

import benchlib

SCENARIOS = ["rare:no:s", "rare:no:q", "rare:yes:s", "rare:yes:q",
             "common:no:s", "common:no:q", "common:yes:s", "common:yes:q", "none:no:s", "none:no:q"]


def plink_max_t(prefix, mode, permutations, work):
    """PLINK 1.9 --assoc with --mperm: (index of the smallest p, smallest EMP2)."""
    pheno = os.path.join(work, "plink.pheno")
    benchlib.write_plink_pheno(prefix, mode, pheno)
    out = os.path.join(work, "plink")
    subprocess.run(["plink1.9", "--vcf", prefix + ".vcf.gz", "--double-id", "--allow-no-sex", "--pheno", pheno,
                    "--assoc", "--mperm", str(permutations), "--seed", "1", "--silent", "--out", out],
                   check=True, stdout=subprocess.DEVNULL)
    suffix = ".assoc" if mode == "s" else ".qassoc"
    with open(out + suffix) as f:
        # P is the ninth column of both tables; NA (a monomorphic marker) tests nothing.
        p = [float(r.split()[8]) if r.split()[8] != "NA" else 1.0 for r in f.read().splitlines()[1:]]
    with open(out + suffix + ".mperm") as f:
        emp2 = [float(r.split()[3]) for r in f.read().splitlines()[1:]]
    return p.index(min(p)), min(emp2)


def plink_haplotypes(prefix, mode, work):
    """PLINK 1.07 --hap-assoc over sliding 3-SNP windows (case-control only):
    (middle marker of the window holding the smallest p, that p times the
    number of haplotype tests, at most 1). PLINK 1.07 reads no VCF, so PLINK
    1.9 writes the binary set first."""
    pheno = os.path.join(work, "plink.pheno")
    with open(benchlib.pheno_file(prefix, mode)) as f, open(pheno, "w") as out:
        out.writelines("%s\t%s\t%s\n" % (r.split()[0], r.split()[1], r.split()[5]) for r in f)
    binary = os.path.join(work, "set107")
    subprocess.run(["plink1.9", "--vcf", prefix + ".vcf.gz", "--double-id", "--allow-no-sex", "--pheno", pheno,
                    "--make-bed", "--silent", "--out", binary], check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(work, "hap")
    subprocess.run(["p-link", "--noweb", "--silent", "--allow-no-sex", "--bfile", binary, "--hap-window", "3",
                    "--hap-assoc", "--out", out], check=True, stdout=subprocess.DEVNULL)
    tests = []
    with open(out + ".assoc.hap") as f:
        for row in f.read().splitlines()[1:]:
            locus, haplotype, p = row.split()[0], row.split()[1], row.split()[6]
            if haplotype != "OMNIBUS" and p != "NA":
                tests.append((float(p), int(locus[3:])))  # WINk: markers k-1 .. k+1, from 0
    p, window = min(tests)
    return window, min(1.0, p * len(tests))


def distance(predicted, causal, typed):
    if causal is None:
        return float("nan")
    return abs(predicted - (causal if typed == "yes" else causal - 0.5))


def summarise(table):
    results = {}
    with open(table) as f:
        for line in f.read().splitlines()[1:]:
            scenario, seed, method, p, d = line.split("\t")
            results.setdefault((scenario, method), []).append((float(p), float(d)))
    print("scenario\tmethod\tdata sets\tdetected at 0.05\tmedian distance (detected)")
    for scenario in SCENARIOS:
        for (s, method), rows in sorted(results.items()):
            if s != scenario:
                continue
            hits = [d for p, d in rows if p < 0.05]
            median = statistics.median(hits) if hits and hits[0] == hits[0] else float("nan")
            print("%s\t%s\t%d\t%.2f\t%s" % (scenario, method, len(rows), len(hits) / len(rows), "%g" % median))


def main():
    a = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    a.add_argument("--sets", type=int, default=30)
    a.add_argument("--first-seed", type=int, default=1)
    a.add_argument("--markers", type=int, default=300)
    a.add_argument("--permutations", type=int, default=100)
    a.add_argument("--radii", nargs="+", type=float, default=[0.3, 0.5])
    a.add_argument("--densities", nargs="+", type=float, default=[0.02, 0.1])
    a.add_argument("--windows", nargs="+", type=int, default=[21, 31])
    a.add_argument("--scenarios", nargs="+", default=SCENARIOS)
    a.add_argument("--plink107", action="store_true",
                   help="add PLINK 1.07's haplotype tests (case-control scenarios)")
    a.add_argument("--table", default="sweep.tsv")
    o = a.parse_args()
    settings = [(r, d, w) for r in o.radii for d in o.densities for w in o.windows]
    done = benchlib.start_table(o.table, "scenario\tseed\tmethod\tp\tdistance\n")
    with tempfile.TemporaryDirectory() as work:
        prefix = os.path.join(work, "set")
        # Scenario by scenario in turns, so that a stopped sweep has some of each.
        for seed in range(o.first_seed, o.first_seed + o.sets):
            for scenario in o.scenarios:
                if (scenario, str(seed)) in done:
                    continue
                causal, typed, mode = scenario.split(":")
                where = benchlib.make_data_set(prefix, seed, mode, causal, typed, o.markers)
                rows = []
                for setting in settings:
                    pos, p = benchlib.run_veltrane(prefix, mode, setting, os.path.join(work, "run"),
                                                   permutations=o.permutations)
                    rows.append((benchlib.setting_name(setting), p, distance(pos, where, typed)))
                pos, p = plink_max_t(prefix, mode, o.permutations, work)
                rows.append(("plink1.9-maxT", p, distance(pos, where, typed)))
                if o.plink107 and mode == "s":
                    pos, p = plink_haplotypes(prefix, mode, work)
                    rows.append(("plink1.07-hap", p, distance(pos, where, typed)))
                with open(o.table, "a") as f:
                    f.writelines("%s\t%d\t%s\t%g\t%g\n" % (scenario, seed, m, p, d) for m, p, d in rows)
    summarise(o.table)


if __name__ == "__main__":
    main()
