#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and amirun need and the machine
# lacks. Does nothing (and needs no network) when everything is there.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
          clang-format libcli11-dev libplplot-dev plplot-driver-cairo locales binutils)
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
