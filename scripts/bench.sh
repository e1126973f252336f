#!/usr/bin/env bash
# Builds morvik_bench (Release) and runs the whole comparison once: our paths,
# OpenSSL, Nettle and libgcrypt, with a summary of rates, multiples of
# OpenSSL and targets at the end. Extra arguments go to the benchmark, for
# example --reuse_memory or --benchmark_filter=ecb_.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset dev -B build/bench -DCMAKE_BUILD_TYPE=Release -DMORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench --target morvik_bench -j 2
exec build/bench/bench/morvik_bench --benchmark_repetitions=3 --benchmark_min_time=0.3 \
     --benchmark_report_aggregates_only=true "$@"
