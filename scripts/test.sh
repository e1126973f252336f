#!/usr/bin/env bash
# Builds every configuration and runs every test: the native suite (warnings as
# errors), the same suite under AddressSanitizer and UBSan, and the Windows
# cross-builds. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

run_preset() {
  local preset=$1
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}

run_preset ci
ctest --preset ci -j "$jobs"
# Every test once more on each bulk kernel, forced (one the processor lacks
# falls back to the best it has).
for kernel in scalar sse2 avx2 avx512; do
  echo "== ci, MORVIK_KERNEL=$kernel"
  MORVIK_KERNEL=$kernel ctest --preset ci -j "$jobs"
done

run_preset sanitizers
ctest --preset sanitizers -j "$jobs"

run_preset mingw-x86
run_preset mingw-x64

# The kernels' self-check in the 64-bit Windows build, under Wine. (The 32-bit
# build's needs a host that can run 32-bit Wine.)
ctest --test-dir build/mingw-x64 --output-on-failure
WINEPREFIX="$PWD/build/mingw-x64/.wine-tests" wineserver -k || true
