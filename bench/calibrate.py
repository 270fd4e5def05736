#!/usr/bin/python3
"""Calibration of the permutation test: on null data sets of simulate.py
(--causal none, case-control and trait), the fraction of cluster permutation
p-values below 0.05, shuffling individuals beside shuffling haplotypes on the
same data sets, for each setting.

    bench/calibrate.py [--sets 1000] [--markers 100] [--permutations 100]
                       [--settings 0.3,0.02,31 0.3,0.02,21] [--table calibration.tsv]

Each data set's p-values are appended to the table as they come (one row per
seed, mode, setting and shuffle), so a run that stops can be continued: seeds
already in the table are skipped. The summary is printed from the table.
With a sound test and 100 replicates the expected fraction is 5/101 = 0.0495.
"""
import argparse
import math
import os
import tempfile

import benchlib

SHUFFLES = ("individuals", "haplotypes")


def summarise(table):
    counts = {}
    with open(table) as f:
        for line in f.read().splitlines()[1:]:
            seed, mode, setting, shuffle, p = line.split("\t")
            n, below = counts.get((setting, mode, shuffle), (0, 0))
            counts[(setting, mode, shuffle)] = (n + 1, below + (float(p) < 0.05))
    print("setting (radius/density/window)\tmode\tdata sets\tindividuals p<0.05\thaplotypes p<0.05")
    for setting, mode in sorted({(k[0], k[1]) for k in counts}):
        cells = []
        for shuffle in SHUFFLES:
            n, below = counts.get((setting, mode, shuffle), (0, 0))
            share = below / n if n else float("nan")
            half = 1.96 * math.sqrt(share * (1 - share) / n) if n else float("nan")
            cells.append("%.3f +- %.3f (%d)" % (share, half, below))
        n = counts.get((setting, mode, SHUFFLES[0]), (0, 0))[0]
        print("%s\t%s\t%d\t%s\t%s" % (setting, mode, n, cells[0], cells[1]))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--sets", type=int, default=1000, help="null data sets per mode")
    p.add_argument("--first-seed", type=int, default=100000)
    p.add_argument("--markers", type=int, default=100)
    p.add_argument("--permutations", type=int, default=100)
    p.add_argument("--settings", nargs="+", default=["0.3,0.02,31", "0.3,0.02,21"])
    p.add_argument("--modes", nargs="+", default=["s", "q"])
    p.add_argument("--table", default="calibration.tsv")
    a = p.parse_args()
    settings = [benchlib.parse_setting(s) for s in a.settings]
    done = benchlib.start_table(a.table, "seed\tmode\tsetting\tshuffle\tp\n")
    with tempfile.TemporaryDirectory() as work:
        prefix = os.path.join(work, "null")
        for seed in range(a.first_seed, a.first_seed + a.sets):
            for mode in a.modes:
                if (str(seed), mode) in done:
                    continue
                benchlib.make_data_set(prefix, seed, mode, markers=a.markers)
                rows = []
                for setting in settings:
                    for shuffle in SHUFFLES:
                        _, pvalue = benchlib.run_veltrane(prefix, mode, setting, os.path.join(work, "run"), shuffle,
                                                          a.permutations)
                        rows.append("%d\t%s\t%s\t%s\t%g\n" % (seed, mode, benchlib.setting_name(setting), shuffle, pvalue))
                with open(a.table, "a") as f:
                    f.writelines(rows)
    summarise(a.table)


if __name__ == "__main__":
    main()
