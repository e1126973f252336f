#!/bin/sh
# Runs a test script with the prefix's cscript of the architecture. Wine's
# cscript exits 0 and prints nothing when a script fails to run, so a pass
# needs the script's fixed last line and no line starting "FAIL".
#   cscript.sh x86|x64 PREFIX SCRIPT LAST_LINE [SCRIPT ARGUMENTS...]
# MORVIK_CSCRIPT names another host, such as the 32-bit one of a 64-bit
# prefix: C:\windows\syswow64\cscript.exe.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 prefix=$2 script=$3 last=$4
shift 4

"$here/../../cmake/wine.sh" "$arch" "$prefix" --check || exit $?
status=0
out=$("$here/../../cmake/wine.sh" "$arch" "$prefix" "${MORVIK_CSCRIPT:-cscript}" //nologo \
      "Z:$(printf %s "$script" | tr / '\\')" "$@" 2>&1) || status=$?
out=$(printf '%s\n' "$out" | tr -d '\r')
printf '%s\n' "$out"
if printf '%s\n' "$out" | grep -q '^FAIL'; then exit 1; fi
if [ "$(printf '%s\n' "$out" | sed '/^$/d' | tail -n 1)" != "$last" ]; then
    echo "FAIL: the script did not reach its last line (cscript exited $status)"
    exit 1
fi
