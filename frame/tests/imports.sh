#!/bin/sh
# The DLL is one self-contained file: it imports only DLLs that every Windows
# has (no libgcc or libstdc++ beside it), exports exactly the four entry
# points of a self-registering in-process server, by name (a per-user
# installation is the MSI's: its own registry rows),
# and carries no debug sections (they live in the .debug file beside it).
#   imports.sh OBJDUMP DLL
set -eu
objdump=$1 dll=$2
fail() { echo "FAIL: $*"; exit 1; }

dump=$("$objdump" -p "$dll")
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
echo "exports: $exports"
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] ||
    fail "the exports are not exactly the server's four entry points"

sections=$("$objdump" -h "$dll" | awk '$1 ~ /^[0-9]+$/ {print $2}' | tr '\n' ' ')
echo "sections: $sections"
case " $sections" in
    *" .debug"*) fail "the DLL carries debug sections" ;;
esac
[ -s "$dll.debug" ] || fail "no debug information beside the DLL ($dll.debug)"
