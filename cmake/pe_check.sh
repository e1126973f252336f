#!/bin/sh
# A Windows program or DLL as it ships, read with objdump on any machine (no
# Wine needed, so the 32-bit files are checked where 32-bit code cannot run):
# the file is of its architecture; it is one self-contained file, importing
# only DLLs that every Windows has (no libgcc, libstdc++ or winpthread beside
# it); it exports exactly the named entry points, by name (none for a
# program); and it carries no debug sections (they live in FILE.debug).
#   pe_check.sh OBJDUMP x86|x64 FILE [EXPORT...]
set -eu
objdump=$1 arch=$2 file=$3
shift 3
fail() { echo "FAIL: $*"; exit 1; }

dump=$("$objdump" -p "$file")
format=$(printf '%s\n' "$dump" | sed -n 's/.*file format //p' | head -n 1)
echo "format: $format"
case $arch:$format in
    x86:pei-i386|x64:pei-x86-64) ;;
    *) fail "$file is $format, not a $arch file" ;;
esac

imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr a-z A-Z | sort)
echo "imports:" $imports
[ -n "$imports" ] || fail "no import table found"
for name in $imports; do
    case $name in
        KERNEL32.DLL|ADVAPI32.DLL|OLE32.DLL|OLEAUT32.DLL|MSVCRT.DLL) ;;
        *) fail "imports $name, which Windows does not provide" ;;
    esac
done

exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
want=$(printf '%s\n' "$@" | sed '/^$/d' | sort | tr '\n' ' ')
echo "exports: $exports"
[ "$exports" = "$want" ] || fail "the exports are not exactly: $want"

sections=$("$objdump" -h "$file" | awk '$1 ~ /^[0-9]+$/ {print $2}' | tr '\n' ' ')
echo "sections: $sections"
case " $sections" in
    *" .debug"*) fail "$file carries debug sections" ;;
esac
[ -s "$file.debug" ] || fail "no debug information beside the file ($file.debug)"
