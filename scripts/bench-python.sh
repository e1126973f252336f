#!/usr/bin/env bash
# Builds the Python module (Release) and prints its figures beside
# pycryptodome's in one run: 16 MiB encrypt and decrypt, and calls per second
# on 64-byte messages, with the targets. Extra arguments go to the script
# (--quick: shorter runs).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset dev -B build/bench -DCMAKE_BUILD_TYPE=Release -DMORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench --target morvik_python -j 2
python=$(sed -nE 's/^MORVIK_PYTHON:FILEPATH=(.*)$/\1/p' build/bench/CMakeCache.txt)
PYTHONPATH=build/bench/python/module exec "$python" python/bench.py "$@"
