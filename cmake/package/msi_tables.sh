#!/bin/sh
# Checks the tables of a built MSI with msitools (msiinfo, msidump), where no
# Windows runs it: the architecture, version and upgrade rows, both files,
# the COM registration as registry rows under HKMU (root -1) with the shared
# component the same in both architectures, the path's Environment rows and
# their components' conditions, and the actions that use them.
#   msi_tables.sh MSI x86|x64 VERSION
set -eu
msi=$1 arch=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
msidump -d "$work" -t "$msi" >/dev/null
sed -i "s/\r\$//" "$work"/*.idt  # msidump writes CRLF
fails=""
fail() { fails="$fails
$*"; }
# has TABLE REGEX: a row of the table (tab-separated) matches.
has() { grep -qE "$2" "$work/$1.idt" 2>/dev/null || fail "$1: no row like $2"; }
T="$(printf '\t')"

case $arch in
    x64) template='x64;1033' bits=256 platform=win64 ;;
    x86) template='Intel;1033' bits=0 platform=win32 ;;
esac
msiinfo suminfo "$msi" | grep -qx "Template: $template" || fail "summary: not $template"
has Property "^ProductVersion${T}${version}\$"
has Property "^ALLUSERS${T}1\$"
has Property "^UpgradeCode${T}\{[0-9A-F-]+\}\$"
has Upgrade "${T}${version}${T}{2}1${T}{2}WIX_UPGRADE_DETECTED\$"
has InstallExecuteSequence "^RemoveExistingProducts${T}"
has File "${T}Morvik\.dll${T}"
has File "${T}morvik\.exe${T}"
for component in Server Tool; do
    has Component "^${component}${T}\{[0-9A-F-]+\}${T}INSTALLDIR${T}${bits}${T}"
done
has Component "^SharedClasses${T}\{0C9B2E3D-5A41-4F7E-8E6B-2D7C91A4F100\}${T}INSTALLDIR${T}$((bits + 4))${T}"
has Component "^PathMachine${T}.*${T}ALLUSERS AND NOT \(ALLUSERS=2 AND MSIINSTALLPERUSER=1\)${T}"
has Component "^PathUser${T}.*${T}NOT ALLUSERS OR \(ALLUSERS=2 AND MSIINSTALLPERUSER=1\)${T}"
clsid='\{12776653-3BE7-48D1-9490-F8921B6FA239\}'
libid='\{0EB116FF-8904-4BB6-A4F7-9AF8F7E57531\}'
has Registry "${T}-1${T}Software\\\\Classes\\\\CLSID\\\\${clsid}\\\\InprocServer32${T}${T}\[#MorvikDll\]${T}Server\$"
has Registry "${T}-1${T}Software\\\\Classes\\\\TypeLib\\\\${libid}\\\\1\.1\\\\0\\\\${platform}${T}${T}\[#MorvikDll\]${T}Server\$"
has Registry "${T}-1${T}Software\\\\Classes\\\\Morvik\.RC2\\\\Clsid${T}${T}${clsid}${T}SharedClasses\$"
has Registry "${T}-1${T}Software\\\\Classes\\\\Interface\\\\.*${T}Server\$"
# Only HKMU rows, and the path's own keys, which name their hive.
if grep -vE "${T}-1${T}|${T}[12]${T}Software\\\\Morvik RC2\\\\${arch}${T}" "$work/Registry.idt" | tail -n +4 | grep -q .; then
    fail "Registry: rows outside HKMU"
fi
has Environment "^PathMachine${T}=-\*PATH${T}\[~\];\[INSTALLDIR\]${T}PathMachine\$"
has Environment "^PathUser${T}=-PATH${T}\[~\];\[INSTALLDIR\]${T}PathUser\$"
has InstallExecuteSequence "^WriteEnvironmentStrings${T}${T}5200\$"
has InstallExecuteSequence "^RemoveEnvironmentStrings${T}${T}3300\$"
[ ! -e "$work/SelfReg.idt" ] || ! tail -n +4 "$work/SelfReg.idt" | grep -q . || fail "SelfReg: the DLL registers itself"

if [ -n "$fails" ]; then
    echo "msi_tables: $msi:$fails" >&2
    exit 1
fi
echo "msi_tables: $(basename "$msi"): every table as it should be"
