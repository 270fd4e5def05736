#!/usr/bin/env bash
# Installs the Debian packages a task needs, if any is missing:
#   tools/install-deps.sh          building and running veltrane
#   tools/install-deps.sh tests    that, and what the test suite uses
#   tools/install-deps.sh bench    that, and the field's tools the bench studies compare with
set -eu
# htslib, pkg-config and zlib build the VCF commands; Eigen the covariate model.
build=(g++ cmake make libhts-dev pkg-config zlib1g-dev libeigen3-dev)
# The tests render the plot with rsvg-convert (checked by python3), run the
# workflow with Snakemake and check conversions against the VCF of shapeit4-example.
tests=(libgtest-dev libgmock-dev libbenchmark-dev librsvg2-bin shapeit4-example python3 snakemake)
# PLINK 1.07 (haplotype tests), 1.9, 2 and R with susieR to compare with, numpy for the
# simulations, bcftools/tabix to cut and index the simulated VCFs.
bench=(plink1.9 plink2 plink r-cran-susier python3-numpy bcftools tabix)
packages=("${build[@]}")
case "${1:-build}" in
  build) ;;
  tests) packages+=("${tests[@]}") ;;
  bench) packages+=("${tests[@]}" "${bench[@]}") ;;
  *) echo "usage: $0 [build|tests|bench]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
