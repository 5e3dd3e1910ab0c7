#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the machine lacks for one purpose, and nothing more:
#   main  the build and amirun (the README's main job)                        [default]
#   test  main, plus the test and benchmark libraries, the Windows cross compiler and Wine
#   ci    test, plus clang with its fuzzing runtime, a local Slurm cluster and Chromium
#   cluster  a local Slurm cluster (slurm-wlm, munge)
# Does nothing (and needs no network) when everything is there.
set -euo pipefail
purpose=${1:-main}
packages=(cmake g++ make pkg-config libcli11-dev libfftw3-dev nlohmann-json3-dev gnuplot-nox locales
          binutils)
case "$purpose" in
  main) ;;
  cluster) packages=(slurm-wlm munge) ;;
  test|ci)
    packages+=(libgtest-dev libbenchmark-dev libmpfr-dev clang-format g++-mingw-w64-x86-64 wine64)
    [ "$purpose" = ci ] && packages+=(clang libclang-rt-14-dev slurm-wlm munge chromium)
    ;;
  *) echo "usage: $0 [main|test|ci]" >&2; exit 2 ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
