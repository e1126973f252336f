#!/bin/sh
# Registration in a fresh prefix with regsvr32 /s: the ProgID resolves, the
# class, type library and interface entries are right, registering twice
# leaves one set of entries, and regsvr32 /u removes every one of them.
# Leaves the server registered for the tests that follow.
#   registration.sh x86|x64 PREFIX DLL IID EARLIER_IID
set -eu
[ -n "${MORVIK_TRACE:-}" ] && set -x
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 prefix=$2 dll=$3 iid=$4 iid_earlier=$5

wine() { "$here/../../cmake/wine.sh" "$arch" "$prefix" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }
reg_query() { wine reg query "$@" 2>/dev/null | tr -d '\r'; }
# The data of a string value ("" for the default value).
value() {
    if [ -n "${2:-}" ]; then reg_query "$1" /v "$2"; else reg_query "$1" /ve; fi |
        sed -n 's/^.*REG_SZ    //p'
}
exists() { wine reg query "$1" >/dev/null 2>&1; }
same() { [ "$(printf %s "$1" | tr a-z A-Z)" = "$(printf %s "$2" | tr a-z A-Z)" ]; }

"$here/../../cmake/wine.sh" "$arch" "$prefix" --check || exit $?
"$here/../../cmake/wine.sh" "$arch" "$prefix" --stop
rm -rf "$prefix"
mkdir -p "$prefix"
wine --persist >/dev/null 2>&1 </dev/null  # holding no pipe of the caller open
wine wineboot -i >/dev/null 2>&1 || fail "wineboot could not make a prefix"

winpath="Z:$(printf %s "$dll" | tr / '\\')"
iid="{$iid}" iid_earlier="{$iid_earlier}"
case $arch in x64) platform=win64 ;; *) platform=win32 ;; esac

# regsvr32's exit status must mean something before it is trusted.
if wine regsvr32 /s 'Z:\nonexistent\Morvik.dll' >/dev/null 2>&1; then fail "regsvr32 reports success for a missing file"; fi
exists 'HKCR\Morvik.RC2' && fail "a fresh prefix already knows Morvik.RC2"

wine regsvr32 /s "$winpath" || fail "regsvr32 /s failed ($?)"

clsid=$(value 'HKCR\Morvik.RC2\Clsid')
echo "Morvik.RC2 -> $clsid"
printf %s "$clsid" | grep -Eqx '\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}' || fail "the ProgID does not resolve to a class"
cls="HKCR\\CLSID\\$clsid"
same "$(value "$cls\\InprocServer32")" "$winpath"            || fail "InprocServer32 is not the module's path"
[ "$(value "$cls\\InprocServer32" ThreadingModel)" = Apartment ] || fail "ThreadingModel is not Apartment"
[ "$(value "$cls\\ProgID")" = Morvik.RC2 ]                    || fail "the class does not name its ProgID"
libid=$(value "$cls\\TypeLib")
[ -n "$libid" ]                                               || fail "the class does not name its type library"
lib="HKCR\\TypeLib\\$libid\\1.1"
same "$(value "$lib\\0\\$platform")" "$winpath"               || fail "type library $platform path is not the module's path"
[ -n "$(value "$lib")" ]                                      || fail "the type library has no help string"
[ "$(value "HKCR\\Interface\\$iid\\TypeLib")" = "$libid" ]    || fail "_RC2 is not registered with its type library"
[ "$(value "HKCR\\Interface\\$iid")" = _RC2 ]                 || fail "_RC2 is registered under another name"
exists "HKCR\\Interface\\$iid_earlier" && fail "the earlier identifier must not carry a marshalling entry"

snapshot() {
    for key in 'HKCR\Morvik.RC2' "$cls" "HKCR\\TypeLib\\$libid" "HKCR\\Interface\\$iid"; do
        reg_query "$key" /s
    done
}
first=$(snapshot)
wine regsvr32 /s "$winpath" || fail "registering a second time failed"
[ "$(snapshot)" = "$first" ] || fail "registering twice changed the entries"

wine regsvr32 /u /s "$winpath" || fail "regsvr32 /u failed ($?)"
for key in 'HKCR\Morvik.RC2' "$cls" "HKCR\\TypeLib\\$libid" "HKCR\\Interface\\$iid"; do
    exists "$key" && fail "regsvr32 /u left $key behind"
done
wine regsvr32 /u /s "$winpath" || fail "unregistering an unregistered server failed"

wine regsvr32 /s "$winpath" || fail "registering again failed"
[ "$(snapshot)" = "$first" ] || fail "registering after /u gave other entries"
echo "registration: all checks passed"
