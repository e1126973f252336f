#!/bin/sh
# Unpacks a Windows zip and runs its register.cmd and unregister.cmd under
# Wine, in a fresh prefix, checking the ProgID's registry key after each.
#   zip_register.sh x86|x64 ZIP WORK
# Exits 77 (skipped) where Wine cannot run the architecture, as wine.sh does.
set -eu
arch=$1 zip=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
wine_sh=$here/../wine.sh
rm -rf "$work"
mkdir -p "$work/unpacked"
prefix=$work/wineprefix
sh "$wine_sh" "$arch" "$prefix" --check || exit $?
trap 'sh "$wine_sh" "$arch" "$prefix" --stop >/dev/null 2>&1 || true' EXIT
(cd "$work/unpacked" && unzip -q "$zip")
dir=$(find "$work/unpacked" -name register.cmd -exec dirname {} \;)
[ -n "$dir" ] || { echo "zip_register: no register.cmd in $zip" >&2; exit 1; }
cd "$dir"

clsid() { sh "$wine_sh" "$arch" "$prefix" reg query 'HKCR\Morvik.RC2\CLSID' 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-F-]*}' || true; }

out=$(sh "$wine_sh" "$arch" "$prefix" cmd /c register.cmd | tr -d '\r')
echo "$out"
case $out in *Registered*) ;; *) echo "zip_register: register.cmd did not report success" >&2; exit 1 ;; esac
[ -n "$(clsid)" ] || { echo "zip_register: Morvik.RC2 not registered" >&2; exit 1; }
echo "Morvik.RC2 -> $(clsid)"

out=$(sh "$wine_sh" "$arch" "$prefix" cmd /c unregister.cmd | tr -d '\r')
echo "$out"
case $out in *Unregistered*) ;; *) echo "zip_register: unregister.cmd did not report success" >&2; exit 1 ;; esac
[ -z "$(clsid)" ] || { echo "zip_register: Morvik.RC2 still registered" >&2; exit 1; }
echo "zip_register: registered and unregistered"
