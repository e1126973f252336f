#!/bin/sh
# One architecture's MSI under Wine, silently (/qn), in a fresh prefix of
# that architecture:
#   msi_install.sh x86|x64 MSI VERSION WORK PROBE
# - per machine: the files under Program Files, the class in HKLM naming
#   the installed DLL, a VBScript through the prefix's cscript creates
#   Morvik.RC2 and gets the known ciphertext, morvik.exe runs from the path;
# - uninstall: the ProgID no longer resolves, and no file, folder, key or
#   path entry of it is left;
# - per user (ALLUSERS="", as Wine 8 knows no MSIINSTALLPERUSER and installs
#   ALLUSERS=2 per machine): the registration is under
#   HKCU\Software\Classes alone and the probe (PROBE) follows it to a working
#   object and type library, morvik.exe is on the user's path,
#   and the uninstall again leaves nothing;
# - upgrade: an older package (this one as version 1.1.0, with its own
#   product and package codes) is installed, then this one replaces it: one
#   product of the name is left, of this version, and it works.
# Exits 77 (skipped) where Wine cannot run the architecture, as wine.sh does.
set -eu
[ -n "${MORVIK_TRACE:-}" ] && set -x
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 msi=$2 version=$3 work=$4 probe=$5
wine_sh=$here/../wine.sh
prefix=$work/wineprefix
sh "$wine_sh" "$arch" "$prefix" --check || exit $?
rm -rf "$work"
mkdir -p "$work"
trap 'sh "$wine_sh" "$arch" "$prefix" --stop >/dev/null 2>&1 || true' EXIT
. "$here/msi_common.sh"

echo "== per user"
msiexec /i "$msi" ALLUSERS=
dir=$(installed_dir HKCU)
[ -n "$dir" ] || fail "no class under HKCU\\Software\\Classes"
echo "per user in $dir"
check_installed HKCU "$dir"
[ -z "$(classes HKLM)" ] || fail "a per-user installation wrote HKLM\\Software\\Classes"
path_gets HKCU || fail "the user's path does not name the folder"
! path_has HKLM || fail "a per-user installation changed the system path"
check_tool
msiexec /x "$msi" ALLUSERS=
check_removed "$dir"

echo "== per machine"
msiexec /i "$msi"
[ "$(products HKLM)" = "$version" ] || fail "installed products: $(products HKLM)"
check_installed HKLM "$(program_files)"
[ -z "$(classes HKCU)" ] || fail "a per-machine installation wrote HKCU\\Software\\Classes"
path_gets HKLM || fail "the system path does not name the folder"
check_tool
msiexec /x "$msi"
check_removed "$(program_files)"

# Last, as Wine's removal of a path entry leaves its separator behind, and
# its cmd stops looking at an empty entry: morvik.exe is run from the path
# above, where each path was untouched before.
echo "== upgrade from 1.1.0"
cp "$msi" "$work/old.msi"
msibuild "$work/old.msi" -s "Morvik RC2" "The Morvik RC2 authors" "$(msi_template "$arch")" "$(new_guid)"
msibuild "$work/old.msi" -q "UPDATE \`Property\` SET \`Value\` = '1.1.0' WHERE \`Property\` = 'ProductVersion'" \
    -q "UPDATE \`Property\` SET \`Value\` = '$(new_guid)' WHERE \`Property\` = 'ProductCode'"
msiexec /i "$work/old.msi"
[ "$(products HKLM)" = "1.1.0" ] || fail "1.1.0 is not the one installed product: $(products HKLM)"
msiexec /i "$msi"
[ "$(products HKLM)" = "$version" ] || fail "after the upgrade the products are: $(products HKLM)"
check_installed HKLM "$(program_files)"
path_gets HKLM || fail "the system path does not name the folder after the upgrade"
msiexec /x "$msi"
check_removed "$(program_files)"
echo "msi_install: $arch: installed per machine and per user, upgraded, removed"
