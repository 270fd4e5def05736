#!/usr/bin/python3
"""The fine-mapping study's two steps over the folders that finemap.sh keeps:

    finemap.py dosages FOLDER   writes dosages.tsv (individuals x markers, ALT
                                counts) and outcome.txt (0/1 or the trait) per data set
    finemap.py table FOLDER     prints the table: per scenario, the data sets
                                detected, and for each 95% set (the run's, the
                                cluster-sharpened one, SuSiE's) how often it holds
                                the causal SNP and its median size

The cluster-sharpened set reweighs the run's PIPs by how well each marker's
alleles separate the risk haplotype's members from the other haplotypes (r^2
of allele and membership over the haplotypes), then takes the fewest markers
reaching 0.95. For an untyped causal SNP a set "holds" it when it holds a
marker of r^2 >= 0.8 with it (its alleles from the typed twin of the data set).
"""
import gzip
import os
import statistics
import sys

import numpy as np

TAG_R2 = 0.8


def read_vcf(path):
    samples, ids, haplotypes = [], [], []
    with gzip.open(path, "rt") as vcf:
        for line in vcf:
            if line.startswith("##"):
                continue
            fields = line.rstrip("\n").split("\t")
            if line.startswith("#"):
                samples = fields[9:]
                continue
            ids.append(fields[2])
            haplotypes.append([int(a) for g in fields[9:] for a in (g[0], g[2])])
    return samples, ids, np.array(haplotypes, dtype=float)


def read_table(path):
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        return [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f]


def outcomes(folder, samples):
    if os.path.exists(os.path.join(folder, "data.fam")):
        with open(os.path.join(folder, "data.fam")) as f:
            by_sample = {r[1]: float(r[5] == "2") for r in (line.split() for line in f)}
    else:
        with open(os.path.join(folder, "data.pheno")) as f:
            by_sample = {r[0]: float(r[1]) for r in (line.split() for line in f) if r[0] != "#IID"}
    return [by_sample[s] for s in samples]


def write_dosages(folder):
    samples, _, haplotypes = read_vcf(os.path.join(folder, "data.vcf.gz"))
    dosages = haplotypes[:, 0::2] + haplotypes[:, 1::2]
    np.savetxt(os.path.join(folder, "dosages.tsv"), dosages.T, fmt="%d", delimiter="\t")
    with open(os.path.join(folder, "outcome.txt"), "w") as f:
        f.write("\n".join(str(y) for y in outcomes(folder, samples)) + "\n")


def r2(a, b):
    if a.std() == 0 or b.std() == 0:
        return 0.0
    return float(np.corrcoef(a, b)[0, 1] ** 2)


def smallest_set(pip, level=0.95):
    order = sorted(range(len(pip)), key=lambda m: -pip[m])
    chosen, mass = [], 0.0
    for m in order:
        if mass >= level or pip[m] <= 0:
            break
        chosen.append(m)
        mass += pip[m]
    return chosen


def sharpened_set(folder, samples, ids, haplotypes):
    scan = read_table(os.path.join(folder, "scan.tsv"))
    pip = {row["id"]: float(row["PIP"]) for row in scan}
    members = np.zeros(haplotypes.shape[1])
    place = {s: k for k, s in enumerate(samples)}
    for row in read_table(os.path.join(folder, "risk-haplotype.tsv")):
        members[2 * place[row["sample"]] + int(row["haplotype"]) - 1] = 1
    weighted = np.array([pip.get(i, 0.0) * r2(haplotypes[k], members) for k, i in enumerate(ids)])
    if weighted.sum() <= 0:
        return []
    return [ids[m] for m in smallest_set(list(weighted / weighted.sum()))]


def holds(set_ids, causal, typed, ids, haplotypes, causal_alleles):
    if typed:
        return causal in set_ids
    place = {i: k for k, i in enumerate(ids)}
    return any(r2(haplotypes[place[i]], causal_alleles) >= TAG_R2 for i in set_ids)


def causal_alleles_of(keep, mode, seed, causal):
    _, ids, haplotypes = read_vcf(os.path.join(keep, "%s-yes-%s" % (mode, seed), "data.vcf.gz"))
    return haplotypes[ids.index(causal)]


def summary(kind, results):
    found = [r for r in results if r is not None]
    if not found:
        return "none"
    covered = sum(1 for held, _ in found if held)
    return "%d/%d = %.2f, median %g" % (covered, len(found), covered / len(found),
                                         statistics.median(size for _, size in found))


def table(keep):
    print("| scenario | detected (permutation p < 0.05) | run's 95% set: holds causal, median size "
          "| cluster-sharpened set | SuSiE (L = 10) set |")
    print("|---|---|---|---|---|")
    for mode in ("s", "q"):
        for typed in ("yes", "no"):
            folders = sorted((f for f in os.listdir(keep) if f.startswith("%s-%s-" % (mode, typed))),
                             key=lambda f: int(f.rsplit("-", 1)[1]))
            runs, sharpened, susie = [], [], []
            for name in folders:
                folder = os.path.join(keep, name)
                credible = [row["id"] for row in read_table(os.path.join(folder, "credible-set.tsv"))]
                if not credible:
                    continue
                causal = read_table(os.path.join(folder, "data.truth"))[0]["id"]
                samples, ids, haplotypes = read_vcf(os.path.join(folder, "data.vcf.gz"))
                alleles = None if typed == "yes" else causal_alleles_of(keep, mode, name.rsplit("-", 1)[1], causal)
                judge = lambda s: (holds(s, causal, typed == "yes", ids, haplotypes, alleles), len(s))
                runs.append(judge(credible))
                sharp = sharpened_set(folder, samples, ids, haplotypes)
                sharpened.append(judge(sharp) if sharp else None)
                with open(os.path.join(folder, "susie.txt")) as f:
                    chosen = [ids[int(k)] for k in f.read().split()]
                susie.append(judge(chosen) if chosen else None)
            scenario = "%s, causal SNP %s" % ("case-control" if mode == "s" else "trait",
                                             "typed" if typed == "yes" else "untyped (r2 >= 0.8 tag)")
            given = sum(1 for s in susie if s is not None)
            print("| %s | %d of %d | %s | %s | %s (set in %d) |" % (
                scenario, len(runs), len(folders), summary("run", runs), summary("sharp", sharpened),
                summary("susie", susie), given))


def main():
    step, keep = sys.argv[1], sys.argv[2]
    if step == "dosages":
        for name in sorted(os.listdir(keep)):
            folder = os.path.join(keep, name)
            if not os.path.exists(os.path.join(folder, "outcome.txt")):
                write_dosages(folder)
    else:
        table(keep)


if __name__ == "__main__":
    main()
