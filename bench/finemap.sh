#!/usr/bin/env bash
# Fine-mapping study: on data sets from bench/simulate.py (one common causal
# SNP, typed or not, modes s and q), how often the 95% credible set of a run
# holds the causal SNP and how large it is, against a set sharpened by the
# risk haplotype (finemap.py) and SuSiE's (R susieR, L = 10), on the data sets
# where the run detects a signal. Prints the table of the README.
#   bench/finemap.sh [data sets per scenario (50)] [folder to keep the runs in]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seeds=${1:-50}
keep=${2:-$top/bench/.cache/finemap}
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$top/build" -j 2 --target veltrane > /dev/null
mkdir -p "$keep"
for mode in s q; do
  pheno=$([ "$mode" = s ] && echo fam || echo pheno)
  for typed in yes no; do
    for seed in $(seq 1 "$seeds"); do
      set_dir=$keep/$mode-$typed-$seed
      [ -s "$set_dir/summary.txt" ] && continue
      mkdir -p "$set_dir"
      nice -n 10 /usr/bin/python3 "$top/bench/simulate.py" --seed "$seed" --causal common --typed "$typed" \
        --mode "$mode" --out "$set_dir/data"
      nice -n 10 "$top/build/veltrane" run --quiet --threads 1 --vcf "$set_dir/data.vcf.gz" \
        --genetic-map "$set_dir/data.gmap.gz" --pheno "$set_dir/data.$pheno" --mode "$mode" --report none \
        --out "$set_dir/run"
      mv "$set_dir"/run/{scan.tsv,credible-set.tsv,risk-haplotype.tsv,summary.txt} "$set_dir/"
      rm -rf "$set_dir/run"
    done
  done
done
# SuSiE on the same individuals: ALT counts against the phenotype (0/1 for case-control).
nice -n 10 /usr/bin/python3 "$top/bench/finemap.py" dosages "$keep"
nice -n 10 Rscript --vanilla - "$keep" <<'R' > /dev/null
suppressMessages(library(susieR))
for (dir in list.dirs(commandArgs(TRUE)[1], recursive = FALSE)) {
  out <- file.path(dir, "susie.txt")
  if (file.exists(out)) next
  x <- as.matrix(read.table(file.path(dir, "dosages.tsv"))) * 1.0
  y <- scan(file.path(dir, "outcome.txt"), quiet = TRUE)
  fit <- susie(x, y, L = 10)
  sets <- fit$sets$cs
  # The set that holds the marker of the largest PIP; none when SuSiE gives none.
  top <- which.max(fit$pip)
  held <- Filter(function(s) top %in% s, sets)
  writeLines(if (length(held)) paste(held[[1]] - 1, collapse = " ") else "", out)
}
R
/usr/bin/python3 "$top/bench/finemap.py" table "$keep"
