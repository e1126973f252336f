#!/bin/sh
# Runs one of examples/ under the prefix's cscript and compares what it
# prints with the expected lines (the ciphertexts are the shared vectors'),
# so an example that stops early or prints something else fails.
#   example.sh x86|x64 PREFIX SCRIPT EXPECTED
set -eu
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 prefix=$2 script=$3 expected=$4

"$here/../../cmake/wine.sh" "$arch" "$prefix" --check || exit $?
out=$("$here/../../cmake/wine.sh" "$arch" "$prefix" cscript //nologo \
      "Z:$(printf %s "$script" | tr / '\\')" 2>&1 | tr -d '\r') || true
printf '%s\n' "$out"
if ! printf '%s\n' "$out" | diff -u "$expected" - ; then
    echo "FAIL: $(basename "$script") printed something else"
    exit 1
fi
