"""Helpers of the bench studies: data sets from simulate.py (made in this
process, so the parsed VCF is read once per data set rather than a Python
start-up per data set) and `veltrane run` on them.

The binary is $VELTRANE, else build/veltrane. A setting is (radius, density,
window): a fixed radius (radius mode 1), the density fraction and the window
width in markers.
"""
import importlib.util
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
VELTRANE = os.environ.get("VELTRANE") or os.path.join(HERE, "..", "build", "veltrane")

_spec = importlib.util.spec_from_file_location("simulate", os.path.join(HERE, "simulate.py"))
simulate = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(simulate)


def make_data_set(prefix, seed, mode, causal="none", typed="no", markers=300, pc_effect=0.0, pcs=None):
    """Writes the files of simulate.py for one seed; returns the causal SNP's
    marker index (markers before it) or None."""
    sys.argv = ["simulate.py", "--seed", str(seed), "--markers", str(markers), "--causal", causal,
                "--typed", typed, "--mode", mode, "--out", prefix]
    if pc_effect:
        sys.argv += ["--pc-effect", str(pc_effect), "--pcs", pcs]
    simulate.main()
    with open(prefix + ".truth") as f:
        rows = f.read().splitlines()[1:]
    return int(rows[0].split("\t")[5]) if rows else None


def pheno_file(prefix, mode):
    return prefix + (".fam" if mode == "s" else ".pheno")


def write_plink_pheno(prefix, mode, path):
    """The phenotype as PLINK 1.9's --pheno reads it (FID IID value; the VCF's
    samples become FID = IID under --double-id)."""
    with open(pheno_file(prefix, mode)) as f, open(path, "w") as out:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.split()
            value = fields[5] if mode == "s" else fields[1]
            out.write("%s\t%s\t%s\n" % (fields[0], fields[0] if mode == "q" else fields[1], value))


def parse_setting(text):
    radius, density, window = text.split(",")
    return float(radius), float(density), int(window)


def setting_name(setting):
    return "%g/%g/%d" % setting


def run_veltrane(prefix, mode, setting, out, permute="individuals", permutations=100):
    """Runs veltrane run on a data set; returns (best position, permutation p) of the cluster score."""
    radius, density, window = setting
    subprocess.run([VELTRANE, "run", "--quiet", "--threads", "1", "--vcf", prefix + ".vcf.gz",
                    "--pheno", pheno_file(prefix, mode), "--mode", mode, "--genetic-map", prefix + ".gmap.gz",
                    "--radius", "1,%g" % radius, "--density", "%g" % density, "--window", str(window),
                    "--permutations", str(permutations), "--permute", permute, "--report", "none",
                    "--out", out], check=True)
    with open(os.path.join(out, "results")) as f:
        last = f.read().splitlines()[-1].split("\t")
    return int(float(last[0])), float(last[3])


def start_table(path, header):
    """Opens a study's table for more rows: writes its header when it is new,
    and returns the (first, second) fields of the rows it already holds, the
    data sets a continued study skips."""
    if not os.path.exists(path):
        with open(path, "w") as f:
            f.write(header)
        return set()
    with open(path) as f:
        return {tuple(line.split("\t")[:2]) for line in f.read().splitlines()[1:]}
