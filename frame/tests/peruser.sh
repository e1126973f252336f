#!/bin/sh
# Registration for the current user alone (regsvr32 /n /i:user) in the shared
# prefix, where the server is also registered machine-wide: it writes the
# class, ProgID, type library and interface under HKCU\Software\Classes and
# nothing else, the probe follows those entries to a working object and type
# library, and /u /n /i:user removes exactly them. The machine-wide entries
# stay as they were throughout. An unknown /i: command line fails and writes
# nothing.
#   peruser.sh x86|x64 PREFIX DLL PROBE
set -eu
[ -n "${MORVIK_TRACE:-}" ] && set -x
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 prefix=$2 dll=$3 probe=$4

fail() { echo "FAIL: $*"; exit 1; }
# Runs a program and shows its output, keeping its exit status.
show() { rc=0; out=$(wine "$@" 2>&1) || rc=$?; printf '%s\n' "$out" | tr -d '\r'; return $rc; }
wine() { "$here/../../cmake/wine.sh" "$arch" "$prefix" "$@"; }
"$here/../../cmake/wine.sh" "$arch" "$prefix" --check || exit $?

winpath="Z:$(printf %s "$dll" | tr / '\\')"
keys='Morvik.RC2 CLSID\{12776653-3BE7-48D1-9490-F8921B6FA239} TypeLib\{0EB116FF-8904-4BB6-A4F7-9AF8F7E57531} Interface\{C5016E37-1410-4E05-B458-B3083D52B0F5}'
tree() {
    for key in $keys; do
        # reg reports a missing key on standard output
        if out=$(wine reg query "$1\\Software\\Classes\\$key" /s 2>/dev/null); then printf '%s\n' "$out" | tr -d '\r'; fi
    done
}
machine=$(tree HKLM)
[ -n "$machine" ] || fail "the server is not registered machine-wide to begin with"
[ -z "$(tree HKCU)" ] || fail "the user already has entries of the server"

wine regsvr32 /s /n /i:elsewhere "$winpath" && fail "an unknown command line was accepted"
[ -z "$(tree HKCU)" ] || fail "an unknown command line wrote entries"

wine regsvr32 /s /n /i:user "$winpath" || fail "regsvr32 /n /i:user exited $?"
user=$(tree HKCU)
for key in $keys; do
    printf '%s\n' "$user" | grep -qiF "HKEY_CURRENT_USER\\Software\\Classes\\$key" || fail "HKCU has no $key"
done
printf '%s\n' "$user" | grep -qiF "$winpath" || fail "the user's entries do not name the module"
[ "$(tree HKLM)" = "$machine" ] || fail "the per-user registration changed the machine's"
show "$probe" user || fail "the probe cannot use the user's registration"

wine regsvr32 /s /n /i:user "$winpath" || fail "registering for the user a second time exited $?"
[ "$(tree HKCU)" = "$user" ] || fail "registering for the user twice changed the entries"

wine regsvr32 /u /s /n /i:user "$winpath" || fail "regsvr32 /u /n /i:user exited $?"
[ -z "$(tree HKCU)" ] || fail "regsvr32 /u /n /i:user left entries behind"
[ "$(tree HKLM)" = "$machine" ] || fail "removing the per-user registration changed the machine's"
wine regsvr32 /u /s /n /i:user "$winpath" || fail "removing an absent per-user registration exited $?"
show "$probe" registered || fail "the machine-wide registration no longer works"
echo "per-user registration: all checks passed"
