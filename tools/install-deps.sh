#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if any is missing.
set -eu
# htslib, pkg-config and zlib build the VCF commands; the tests render the plot
# with rsvg-convert (checked by python3) and check conversions against the VCF of shapeit4-example.
packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev libhts-dev pkg-config zlib1g-dev librsvg2-bin
  shapeit4-example python3 snakemake)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
