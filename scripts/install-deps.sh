#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (gnuplot-nox: the tracks.png of
# scripts/run-site.sh; libtsan2: the ThreadSanitizer build; clang and its runtime libraries: the
# libFuzzer build of scripts/fuzz.sh). Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libace-dev libarmadillo-dev libopenblas-dev libtinyxml2-dev
  libevent-dev libcjson-dev libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux binutils python3
  gnuplot-nox
  libtsan2
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
