#!/bin/sh
# Both architectures side by side in one fresh 64-bit prefix: every order of
# registering and unregistering the two DLLs (also unregistering one that is
# not registered, and registering twice), each step checked from both sides:
# each architecture's probe (ProgID, class, a known answer, its own type
# library, a call through the marshaller) and its script host. After each
# order nothing is left in either registry view.
#   sidebyside.sh PREFIX DLL32 PROBE32 DLL64 PROBE64
# A script host that looks for a class registered only in the other view
# waits about ten seconds inside Wine before it gives 429, so the orders run
# in three prefixes at once (PREFIX-1 to PREFIX-3): the waits overlap.
set -eu
[ -n "${MORVIK_TRACE:-}" ] && set -x
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1 dll32=$2 probe32=$3 dll64=$4 probe64=$5

fail() { echo "FAIL: $*"; exit 1; }
# Runs a program and shows its output, keeping its exit status.
show() { rc=0; out=$(wine "$@" 2>&1) || rc=$?; printf '%s\n' "$out" | tr -d '\r'; return $rc; }
wine() { "$here/../../cmake/wine.sh" x64 "$prefix" "$@"; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

"$here/../../cmake/wine.sh" x64 "$prefix" --check || exit $?
"$here/../../cmake/wine.sh" x86 "$prefix" --check || exit $?
for f in "$dll32" "$probe32"; do
    if [ ! -f "$f" ]; then
        [ -n "${MORVIK_REQUIRE_WINE:-}" ] && fail "$f is missing: build the mingw-x86 preset first"
        echo "$f is missing (build the mingw-x86 preset first); skipped"
        exit 77
    fi
done


regsvr32_32='C:\windows\syswow64\regsvr32.exe'
regsvr32_64='C:\windows\system32\regsvr32.exe'
state32=absent state64=absent

# One script host's check. Under load Wine's cscript now and then ends
# without running the script at all; that alone (no line of the script's
# own, so no FAIL of it either) earns one more run, reported as such.
host() {
    bits=$1 expected=$2
    if [ "$bits" = 32 ]; then set -- env MORVIK_CSCRIPT='C:\windows\syswow64\cscript.exe'; else set -- env; fi
    out=$("$@" "$here/cscript.sh" x64 "$prefix" "$here/sidebyside.vbs" "MORVIK SCRIPT END" "$expected" 2>&1) && return 0
    printf '%s\n' "$out"
    printf '%s\n' "$out" | grep -v '^FAIL: the script did not reach its last line' | grep -q . && return 1
    echo "the $bits-bit script host ran nothing; once more"
    "$@" "$here/cscript.sh" x64 "$prefix" "$here/sidebyside.vbs" "MORVIK SCRIPT END" "$expected"
}

# The four checks of a step at once (they only read), each into a file of its own.
check_both() {
    dir=$(mktemp -d)
    show "$probe32" "$state32" >"$dir/probe32" 2>&1 & p1=$!
    show "$probe64" "$state64" >"$dir/probe64" 2>&1 & p2=$!
    host 32 "$state32" >"$dir/host32" 2>&1 & p3=$!
    host 64 "$state64" >"$dir/host64" 2>&1 & p4=$!
    failed=""
    wait $p1 || failed="$failed 32-bit client,"
    wait $p2 || failed="$failed 64-bit client,"
    wait $p3 || failed="$failed 32-bit script host,"
    wait $p4 || failed="$failed 64-bit script host,"
    if [ -n "$failed" ]; then
        cat "$dir"/*
        rm -rf "$dir"
        fail "after$*:$failed expecting 32-bit $state32, 64-bit $state64"
    fi
    grep -h 'as expected\|once more' "$dir"/* || true
    rm -rf "$dir"
}

step() {
    case $1 in
        R32) wine "$regsvr32_32" /s "$(winpath "$dll32")" || fail "registering the 32-bit DLL exited $?"; state32=registered ;;
        U32) wine "$regsvr32_32" /u /s "$(winpath "$dll32")" || fail "unregistering the 32-bit DLL exited $?"; state32=absent ;;
        R64) wine "$regsvr32_64" /s "$(winpath "$dll64")" || fail "registering the 64-bit DLL exited $?"; state64=registered ;;
        U64) wine "$regsvr32_64" /u /s "$(winpath "$dll64")" || fail "unregistering the 64-bit DLL exited $?"; state64=absent ;;
    esac
}

clean() {
    for view in 32 64; do
        for key in 'Morvik.RC2' 'CLSID\{12776653-3BE7-48D1-9490-F8921B6FA239}' \
                   'TypeLib\{0EB116FF-8904-4BB6-A4F7-9AF8F7E57531}' 'Interface\{C5016E37-1410-4E05-B458-B3083D52B0F5}'; do
            if wine reg query "HKLM\\Software\\Classes\\$key" /reg:$view >/dev/null 2>&1; then
                fail "after $*: HKLM\\Software\\Classes\\$key is left in the $view-bit view"
            fi
        done
    done
}

# One prefix's orders, each step checked. Run in a subshell: a failure
# (fail exits) still stops the prefix's server.
run_orders() {
    trap 'wine --stop' EXIT
    wine --stop
    rm -rf "$prefix"
    mkdir -p "$prefix"
    wine --persist >/dev/null 2>&1 </dev/null
    wine wineboot -i >/dev/null 2>&1 || fail "wineboot could not make a 64-bit prefix"
    for order in "$@"; do
        state32=absent state64=absent
        done_steps=""
        for s in $order; do
            step "$s"
            done_steps="$done_steps $s"
            check_both "$done_steps"
        done
        clean "$order"
        echo "order $order: each step as expected from both sides, nothing left"
    done
}

base=$prefix
logs=$(mktemp -d)
# Steps per group: 7 + 4, 6 + 4, 4 + 4.
set -- "R64 R64 U32 U64 R32 U32 U32|R32 R64 U32 U64" \
       "R32 U64 U32 R64 U32 U64|R32 R64 U64 U32" \
       "R64 R32 U32 U64|R64 R32 U64 U32"
n=0
pids=""
for group in "$@"; do
    n=$((n + 1))
    first=${group%%|*} second=${group#*|}
    ( prefix=$base-$n; run_orders "$first" "$second" ) >"$logs/$n" 2>&1 &
    pids="$pids $!"
done
failed=0
n=0
for pid in $pids; do
    n=$((n + 1))
    wait "$pid" || failed=1
    sed "s/^/prefix $n: /" "$logs/$n"
done
rm -rf "$logs"
[ "$failed" -eq 0 ] || fail "side by side: an order failed (see above)"
echo "side by side: all orders passed"
