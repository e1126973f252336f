#!/bin/sh
# Runs the code-page client once under each ANSI code page, in one prefix:
# Wine takes a process's code page from its locale, so each run names its own.
#   codepages.sh x86|x64 PREFIX CLIENT
set -eu
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 prefix=$2 client=$3

"$here/../../cmake/wine.sh" "$arch" "$prefix" --check || exit $?
failed=""
for pair in en_US.UTF-8:1252 el_GR.UTF-8:1253 he_IL.UTF-8:1255 th_TH.UTF-8:874 \
            ja_JP.UTF-8:932 zh_CN.UTF-8:936 ko_KR.UTF-8:949 zh_TW.UTF-8:950; do
    locale=${pair%:*} cp=${pair#*:}
    echo "== code page $cp ($locale)"
    MORVIK_WINE_LOCALE=$locale MORVIK_CODE_PAGE=$cp \
        "$here/../../cmake/wine.sh" "$arch" "$prefix" "$client" --gtest_brief=1 || failed="$failed $cp"
done
[ -z "$failed" ] || { echo "FAIL: code pages$failed"; exit 1; }
echo "code pages: all passed"
