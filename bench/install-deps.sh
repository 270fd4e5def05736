#!/usr/bin/env bash
# Installs what only the bench studies use: the field's own tools to compare
# with (PLINK 1.9, PLINK 2, R with susieR), numpy for the simulations, and
# bcftools/tabix to cut and index the simulated VCFs.
set -eu
packages=(plink1.9 plink2 r-cran-susier python3-numpy bcftools tabix shapeit4-example)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
