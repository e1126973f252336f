#!/usr/bin/env bash
# Runs the tool's test suite under Valgrind's memcheck, the tool itself
# included (the tests start it as a child process), two tests at a time.
# Any memory error or leak in either process fails the run.
set -uo pipefail
tests=$1
jobs=${2:-2}
command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed" >&2; exit 1; }

names=$("$tests" --gtest_list_tests | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
[ -n "$names" ] || { echo "memcheck: no tests listed" >&2; exit 1; }

run_one() {
  local log
  log=$(mktemp)
  if valgrind -q --trace-children=yes --error-exitcode=99 --leak-check=full \
       --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
       "$1" --gtest_filter="$2" >"$log" 2>&1; then
    echo "memcheck: $2 clean"
    rm -f "$log"
  else
    echo "memcheck: $2 FAILED"
    cat "$log"
    rm -f "$log"
    return 1
  fi
}
export -f run_one

count=$(wc -l <<<"$names")
if xargs -P "$jobs" -I{} bash -c 'run_one "$0" "$1"' "$tests" {} <<<"$names"; then
  echo "memcheck: $count tests clean"
else
  echo "memcheck: errors found" >&2
  exit 1
fi
