#!/bin/sh
# Both architectures' MSIs side by side in one fresh 64-bit prefix, silently:
# x86 then x64 installed, each registered in its own view and working; x86
# removed while x64 stays and works; x86 installed again and x64 removed
# while x86 stays; x86 removed, and nothing of either is left.
#   msi_sidebyside.sh WORK MSI32 MSI64
# The 32-bit script host runs only where this machine runs 32-bit Windows
# code; elsewhere the 32-bit side is checked in the registry and the file
# system alone, and the output says so.
set -eu
[ -n "${MORVIK_TRACE:-}" ] && set -x
here=$(cd "$(dirname "$0")" && pwd)
work=$1 msi32=$2 msi64=$3 probe=
wine_sh=$here/../wine.sh
prefix=$work/wineprefix prefix_arch=x64 arch=x64
sh "$wine_sh" x64 "$prefix" --check || exit $?
if [ ! -f "$msi32" ]; then
    [ -n "${MORVIK_REQUIRE_WINE:-}" ] && { echo "FAIL: $msi32 is missing: build the mingw-x86 preset first" >&2; exit 1; }
    echo "$msi32 is missing (build the mingw-x86 preset first); skipped"
    exit 77
fi
run32=yes
sh "$wine_sh" x86 "$prefix" --check >/dev/null || { status=$?; [ $status = 77 ] || exit $status; run32=no; }
rm -rf "$work"
mkdir -p "$work"
trap 'sh "$wine_sh" x64 "$prefix" --stop >/dev/null 2>&1 || true' EXIT
. "$here/msi_common.sh"

# Windows 7 and later keep one ProgID key for both registry views; Wine 8
# keeps one per view, as Vista did, and links only some keys (TypeLib,
# AppId) across. The prefix is given Windows' link for Morvik.RC2, so that
# the two MSIs meet the registry they are written for: their shared
# component writes the one key, and it goes with the last of them.
wine reg query 'HKLM\Software\Classes' /ve >/dev/null 2>&1 || true
WINEPREFIX=$prefix "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
WINEPREFIX=$prefix "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -w 2>/dev/null || true
grep -q '^\[Software\\\\Classes\\\\Wow6432Node\\\\TypeLib\] [0-9]*$' "$prefix/system.reg" ||
    fail "the prefix has no linked TypeLib key to model the link on"
target=$(printf '%s' '\Registry\Machine\Software\Classes\Morvik.RC2' | od -An -tx1 -v | tr -s ' \n' ' ' |
         sed 's/^ //; s/ $//; s/\([0-9a-f][0-9a-f]\)/\1,00/g; s/ /,/g')
printf '\n[Software\\\\Classes\\\\Wow6432Node\\\\Morvik.RC2] 0\n#link\n"SymbolicLinkValue"=hex(6):%s\n' "$target" \
    >>"$prefix/system.reg"

# Each architecture's state: installed (its class in its own view names its
# folder, its files are there, its script host creates Morvik.RC2) or absent
# (none of that, and nothing of it in its view).
state() { # ARCH installed|absent
    arch=$1
    dir=$(program_files)
    if [ "$2" = installed ]; then
        [ "$(installed_dir HKLM)" = "$dir" ] || fail "$arch: the class names '$(installed_dir HKLM)', not $dir"
        q 'HKLM\Software\Classes\Morvik.RC2\Clsid' /ve "$(view)" | grep -qF "$clsid" || fail "$arch: the ProgID does not resolve"
        for f in Morvik.dll morvik.exe; do [ -f "$(unix_path "$dir\\$f")" ] || fail "$arch: no $dir\\$f"; done
        q 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH | grep -qiF "$dir" ||
            fail "$arch: the path does not name $dir"
        if [ "$arch" = x64 ] || [ $run32 = yes ]; then
            out=$(cscript installed) || exit 1
            printf '%s\n' "$out" | grep -qx 'armoured VKPAyyty0bBg2' || fail "$arch: Morvik.RC2 did not give the known ciphertext: $out"
        else
            echo "x86: the 32-bit script host is not run: this machine cannot run 32-bit Windows code"
        fi
    else
        [ -z "$(q "HKLM\\Software\\Classes\\CLSID\\$clsid" /s "$(view)")" ] || fail "$arch: its class is left"
        [ -z "$(q "HKLM\\Software\\Classes\\Interface\\$iid" /s "$(view)")" ] || fail "$arch: its interface is left"
        [ ! -e "$(unix_path "$dir")" ] || fail "$arch: $dir is left"
        ! q 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH | grep -qiF "$dir" ||
            fail "$arch: the path still names $dir"
        if [ "$arch" = x64 ] || [ $run32 = yes ]; then cscript removed >/dev/null || exit 1; fi
    fi
    echo "$arch $2"
}
step() { # ARCH i|x, then the expected states of x86 and x64
    arch=$1
    if [ "$1" = x86 ]; then msi=$msi32; else msi=$msi64; fi
    echo "== msiexec /$2 $1"
    msiexec "/$2" "$msi"
    state x86 "$3"
    state x64 "$4"
}

step x86 i installed absent
step x64 i installed installed
step x86 x absent installed
step x86 i installed installed
step x64 x installed absent
step x86 x absent absent
for a in x86 x64; do
    arch=$a
    [ -z "$(classes HKLM)" ] || fail "$a's view still holds: $(classes HKLM)"
    [ -z "$(products HKLM)" ] || fail "$a: still installed: $(products HKLM)"
done
echo "msi_sidebyside: both architectures installed and removed in every order above"
