#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for SECONDS each
# (default 60), two at a time, each on a copy of its committed corpus so that
# a run leaves the tree clean. Prints each target's executions and result;
# exits non-zero if any target found a crash, a leak, a timeout or ran out of
# memory. Findings are kept in build/fuzz/runs/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
parallel=2
targets=(object hex_read asc_decode decrypt differential streams cli_stream records)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$parallel" --target "${targets[@]/#/morvik_fuzz_}"

runs=build/fuzz/runs
rm -rf "$runs"
mkdir -p "$runs"

run() {
  local target=$1 dir=$runs/$1
  mkdir -p "$dir/findings"
  cp -r "fuzz/corpus/$target" "$dir/corpus"
  local status=0
  # -timeout: seconds for one input; -rss_limit_mb: per process, two run at once.
  "build/fuzz/fuzz/morvik_fuzz_$target" "$dir/corpus" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/findings/" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "== fuzz $target (${seconds}s)"
  run "$target" &
done
wait

found=0
for target in "${targets[@]}"; do
  dir=$runs/$target
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$dir/log" | tail -1)
  findings=$(find "$dir/findings" -type f | wc -l)
  if [ "$(cat "$dir/status")" -eq 0 ] && [ "$findings" -eq 0 ]; then
    printf '%-14s %12s executions, no finding\n' "$target" "${execs:-?}"
  else
    found=1
    printf '%-14s %12s executions, FINDING (exit %s): %s\n' "$target" "${execs:-?}" "$(cat "$dir/status")" \
      "$(find "$dir/findings" -type f | tr '\n' ' ')"
    grep -m 3 -E '^==[0-9]+==ERROR|^SUMMARY|deadly signal' "$dir/log" || true
  fi
done
exit "$found"
