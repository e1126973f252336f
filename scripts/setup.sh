#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need on Debian 12.
# Safe to run again; run as root (or through sudo).
set -euo pipefail

packages=(
  # native build and tests
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  # peers for differential tests and benchmarks
  libssl-dev openssl nettle-dev libgcrypt20-dev
  # the tool's peak-memory script; its man page checked (man, lexgrog, groff)
  # and its completions asked for (bash-completion, zsh, fish)
  time man-db groff-base bash-completion zsh fish
  # the tool's shell rows: archives compressed before encryption (tar, xz),
  # a second user (setpriv, in util-linux)
  tar xz-utils util-linux
  # the Python module and its tests (Debian's python3), and the packages' checks
  python3-dev pybind11-dev python3-pytest python3-pycryptodome
  dpkg-dev unzip
  # memory checking of the tool and its tests
  valgrind
  # Windows cross-build and its tests under Wine
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  wine wine32 wine64 libwine-dev
  # fuzz targets: clang, and libFuzzer with the sanitizer runtimes (only recommended by clang)
  clang libclang-rt-dev
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
