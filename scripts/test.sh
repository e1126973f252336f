#!/usr/bin/env bash
# Builds every configuration and runs every test: the native suite (warnings as
# errors), the same suite under AddressSanitizer and UBSan, and the Windows
# cross-builds. Stops at the first failure; ends with one summary line.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
passed=0
failed=0
skipped=0

# Seconds since the start, shown with each stage so a slow one stands out.
elapsed() { printf '%dm%02ds' $((SECONDS / 60)) $((SECONDS % 60)); }

# Every test that did not run, as "stage<TAB>test<TAB>reason", the reason being
# the last line the test printed; the closing lines name them all.
not_run=$(mktemp)
trap 'rm -f "$not_run"' EXIT

# Adds the skipped tests of one CTest run (its console LOG, its build DIR).
note_skips() {
  local log=$1 dir=$2 stage=$3 names
  names=$(sed -nE 's/^[[:space:]]*[0-9]+ - (.+) \((Skipped|Not Run|Disabled)\)$/\1/p' "$log")
  [ -n "$names" ] || return 0
  awk -v stage="$stage" -v names="$names" '
    BEGIN { n = split(names, list, "\n"); for (i = 1; i <= n; i++) want[list[i]] = 1 }
    /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); last = ""; out = 0; next }
    /^Output:$/ { out = 1; next }
    /^<end of output>$/ { out = 0; if (name in want) reason[name] = last; next }
    out && $0 !~ /^-+$/ && $0 ~ /[^[:space:]]/ { last = $0 }
    END {
      for (i = 1; i <= n; i++)
        print stage "\t" list[i] "\t" ((list[i] in reason) && reason[list[i]] != "" ? reason[list[i]] : "it printed no reason")
    }' "$dir/Testing/Temporary/LastTest.log" >>"$not_run"
}

# One line: which tests did not run, grouped by stage and reason.
say_not_run() {
  [ -s "$not_run" ] || return 0
  awk -F '\t' '
    { key = $1 "\t" $3; if (!(key in names)) { order[++n] = key; names[key] = $2 } else names[key] = names[key] ", " $2; count[key]++ }
    END {
      line = "not run:"
      for (i = 1; i <= n; i++) {
        split(order[i], part, "\t")
        line = line (i > 1 ? ";" : "") " " count[order[i]] " in " part[1] " (" names[order[i]] "), because: " part[2]
      }
      print line
    }' "$not_run"
}

summary() {
  echo "test.sh: finished after $(elapsed)"
  say_not_run
  if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
  else
    echo "$passed passed, $failed failed"
  fi
}

build() {
  local preset=$1
  echo "== build $preset (at $(elapsed))"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}

# Adds the counts of a CTest log to the summary, and its skipped tests to the
# closing lines; stops the run if CTest failed (STATUS) or ran no test.
tally() {
  local log=$1 status=$2 what=$3 dir=$4
  local line total fails skips
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
  if [ -z "$line" ]; then
    rm -f "$log"
    echo "test.sh: CTest ran no test ($what)" >&2
    exit 1
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  # CTest counts a skipped test as passed; the summary should not.
  skips=$(grep -c '\*\*\*Skipped' "$log" || true)
  passed=$((passed + total - fails - skips))
  failed=$((failed + fails))
  skipped=$((skipped + skips))
  note_skips "$log" "$dir" "$what"
  rm -f "$log"
  if [ "$status" -ne 0 ] || [ "$fails" -ne 0 ]; then
    summary
    exit 1
  fi
}

# Runs CTest on a preset (STAGE names the run in the closing lines) and adds
# its counts to the summary.
run_ctest() {
  local stage=$1 preset=$2
  shift 2
  local log
  log=$(mktemp)
  local status=0
  ctest --preset "$preset" "$@" -j "$jobs" 2>&1 | tee "$log" || status=$?
  tally "$log" "$status" "$stage" "build/$preset"
}

build ci
# CREATE EXTENSION finds an extension only in the server's own directories:
# this build's goes there first where we may write them (CI runs as root).
if [ -w "$(pg_config --sharedir 2>/dev/null || echo /nonexistent)/extension" ]; then
  cmake --install build/ci --component postgresql >/dev/null
fi
# Every test whose result cannot depend on the bulk kernel, once; this run
# includes the tool's tests under Valgrind (label memcheck).
run_ctest ci ci -LE kernel
# The tests that encrypt or decrypt in their own process (label kernel), once
# on each bulk kernel: the test programs force the one MORVIK_TEST_KERNEL
# names, and skip (status 77) when the processor lacks it.
for kernel in scalar sse2 avx2 avx512; do
  echo "== ci, kernel $kernel (at $(elapsed))"
  MORVIK_TEST_KERNEL=$kernel run_ctest "ci, kernel $kernel" ci -L kernel
done

build sanitizers
# Leak checking explicitly on (a canary test shows that it is), and any
# sanitizer report ends the process with a failure.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_ctest sanitizers sanitizers
# The core suites once more on each other kernel; the fuzz replays and the
# tool's stages, many times slower under the sanitizers, ran once above.
for kernel in scalar sse2 avx2; do
  echo "== sanitizers, kernel $kernel (at $(elapsed))"
  MORVIK_TEST_KERNEL=$kernel run_ctest "sanitizers, kernel $kernel" sanitizers -L kernel -R '^(core|kernels)'
done
unset ASAN_OPTIONS UBSAN_OPTIONS

build mingw-x86
build mingw-x64

# Under Wine, fresh prefixes per architecture: the COM server's registration,
# its early-bound client, VBScript and JScript through cscript, the tool's
# suite, and the kernels' self-check. Both architectures at once: most of
# this time is Wine waiting, not working. Each log is shown whole after.
echo "== Wine, both architectures (at $(elapsed))"
# x64 Wine runs on every machine of ours; x86 wherever the kernel runs 32-bit
# programs (cmake/wine.sh asks it). Say up front which this machine is.
for arch in x64 x86; do
  probe=$(mktemp -d)
  said=$(bash cmake/wine.sh "$arch" "$probe/prefix" --check 2>&1) && said="runs"
  echo "   $arch: $said"
  rm -rf "$probe"
done
x86_log=$(mktemp)
x64_log=$(mktemp)
ctest --test-dir build/mingw-x86 --output-on-failure -j "$jobs" >"$x86_log" 2>&1 &
x86=$!
ctest --test-dir build/mingw-x64 --output-on-failure -j "$jobs" >"$x64_log" 2>&1 &
x64=$!
x86_status=0
wait "$x86" || x86_status=$?
x64_status=0
wait "$x64" || x64_status=$?
cat "$x86_log"
cat "$x64_log"
tally "$x86_log" "$x86_status" "mingw-x86" build/mingw-x86
tally "$x64_log" "$x64_status" "mingw-x64" build/mingw-x64

# Every fuzz target for 10 seconds from its committed corpus: a check that
# new code has not opened an easy finding (the ci suite already replayed every
# corpus). Longer runs are `bash scripts/fuzz.sh SECONDS`.
echo "== fuzz (at $(elapsed))"
if ! bash scripts/fuzz.sh 10; then
  failed=$((failed + 1))
  summary
  exit 1
fi

summary
