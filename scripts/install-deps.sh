#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
# With --fuzz: also the compiler and runtime of the fuzz targets (make fuzz).
set -euo pipefail
packages=(build-essential cmake pkg-config libserialport-dev libcli11-dev libgtest-dev libgmock-dev
          libbenchmark-dev libmatio-dev libnetcdf-dev python3-netcdf4 python3-scipy qt6-base-dev
          poppler-utils)
fuzz_packages=(clang libclang-rt-14-dev)
[ "${1:-}" = --fuzz ] && packages+=("${fuzz_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
