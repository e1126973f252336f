#!/bin/sh
# Makes the fresh Wine prefix that the tool's tests run in, with its server
# kept between their processes (cmake/wine.sh --stop ends it).
#   wine_prefix.sh x86|x64 PREFIX
set -eu
here=$(cd "$(dirname "$0")" && pwd)
wine="$here/../../cmake/wine.sh $1 $2"
$wine --check || exit $?
$wine --stop
rm -rf "$2"
mkdir -p "$2"
$wine --persist >/dev/null 2>&1 </dev/null  # holding no pipe of the caller open
$wine wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot could not make a prefix"; exit 1; }
