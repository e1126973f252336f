#!/usr/bin/env bash
# Runs the tool's test suite under Valgrind's memcheck, the tool itself
# included (the tests start it as a child process), two tests at a time.
# Any memory error or leak in either process fails the run.
set -uo pipefail
tests=$1
jobs=${2:-2}
command -v valgrind >/dev/null || { echo "memcheck: valgrind is not installed" >&2; exit 1; }

# Tests named *_Natively are left out: they measure time or memory limits,
# which mean nothing under Valgrind. So are the published-vector tables: each
# row starts the tool on the same path with other bytes, they took a fifth of
# this run, and the sanitizers' build runs them with the tool instrumented.
vector_tables='^Tool\.(Rfc2268Vectors|MessageVectors|TextFormVectors)$'
names=$("$tests" --gtest_list_tests | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' |
        grep -v '_Natively$' | grep -Ev "$vector_tables")
[ -n "$names" ] || { echo "memcheck: no tests listed" >&2; exit 1; }

# Inline frames in reports are not worth reading every library's inline
# information at each of the tool's many starts; errors are found the same.
memcheck=(valgrind -q --error-exitcode=99 --leak-check=full --read-inline-info=no
          --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect)
export MEMCHECK="${memcheck[*]}"

run_one() {
  local log
  log=$(mktemp)
  local -a run
  # The tests that start the tool, directly or through sh and other
  # programs, put only the tool under Valgrind (its status 99 or any report
  # fails the test): the test program's own work is not the tool's. The
  # stages and record readers run in the test program, which goes under it.
  # The kernel test asks in process which kernels the tool will find, so
  # both sides must see Valgrind's processor, which has no AVX-512.
  case $2 in
    Tool.KernelOptionChangesNoByte) run=($MEMCHECK --trace-children=yes "$1") ;;
    */Rows.*|Tool.*|Records.*) run=(env MORVIK_TOOL_WRAPPER="$MEMCHECK" "$1") ;;
    *) run=($MEMCHECK --trace-children=yes "$1") ;;
  esac
  if "${run[@]}" --gtest_filter="$2" >"$log" 2>&1; then
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
