#!/bin/sh
# cmake/wine.sh --check decides per architecture whether this machine runs the
# Windows tests. A machine whose kernel refuses 32-bit programs is played with
# a loader and a probe program that every kernel refuses (an ELF file of no
# known machine), so each row means the same on every machine.
#   wine_probe.sh WINE_SH
set -u
wine_sh=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/morvik-probe-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# ELF header of a 64-bit file for machine 0xBEEF: the kernel answers ENOEXEC.
refused=$work/refused
printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\002\000\357\276' >"$refused"
head -c 100 /dev/zero >>"$refused"
chmod 755 "$refused"

# One row: what the probe runs as loader and as the kernel's probe program,
# whether CI's MORVIK_REQUIRE_WINE is set, the expected status and a
# fragment of the expected message, then what wine.sh is asked.
row() {
    name=$1 loader=$2 probe=$3 require=$4 want=$5 text=$6
    shift 6
    out=$(MORVIK_WINE_X86_LOADER=$loader MORVIK_I386_PROBE=$probe MORVIK_REQUIRE_WINE=$require \
          sh "$wine_sh" x86 "$work/prefix" "$@" 2>&1)
    got=$?
    case $out in *"$text"*) text_ok=1 ;; *) text_ok=0 ;; esac
    if [ "$got" -eq "$want" ] && [ "$text_ok" -eq 1 ]; then
        echo "ok   $name"
    else
        echo "FAIL $name: status $got (want $want), said: $out (want: $text)"
        failures=$((failures + 1))
    fi
}

#   name                                  loader      probe       require want text
row kernel_without_32_bit_skips_under_ci  "$refused"  "$refused"  1       77   "kernel cannot run 32-bit programs" --check
row kernel_without_32_bit_skips_a_program "$refused"  "$refused"  1       77   "x86 Windows tests skipped" cmd /c echo
row broken_wine_on_a_capable_kernel_fails "$refused"  /bin/true   1       1    "cannot run x86 Windows code" --check
row broken_wine_outside_ci_skips          "$refused"  /bin/true   ""      77   "; skipped" --check
row missing_wine_on_a_capable_kernel_fails "$work/none" /bin/true 1       1    "cannot run x86 Windows code" --check
row working_loader_needs_no_probe         /bin/true   "$refused"  1       0    "" --check

# The real probe agrees with this machine: where the 32-bit loader itself is
# refused by the kernel, the hand-made i386 program must be refused too, and
# where it runs, the program must run (a wrong byte in it would otherwise
# turn every x86 test into a skip on a machine that can run them).
loader=$(command -v wine || true)
if [ -z "$loader" ]; then
    echo "skip real_probe_agrees_with_the_loader: Wine is not installed"
else
    said=$(env -u MORVIK_WINE_X86_LOADER -u MORVIK_I386_PROBE MORVIK_REQUIRE_WINE=1 sh "$wine_sh" x86 "$work/prefix" --check 2>&1)
    status=$?
    loader_said=$("$loader" --version 2>&1)
    loader_status=$?
    if [ "$loader_status" -eq 0 ] && [ "$status" -eq 0 ]; then
        echo "ok   real_probe_agrees_with_the_loader (it runs: $loader_said)"
    elif [ "$loader_status" -ne 0 ] && [ "$status" -eq 77 ] &&
         case $loader_said in *"Exec format error"*) true ;; *) false ;; esac; then
        echo "ok   real_probe_agrees_with_the_loader (the kernel refuses both)"
    elif [ "$loader_status" -ne 0 ] && [ "$status" -ne 77 ] &&
         ! case $loader_said in *"Exec format error"*) true ;; *) false ;; esac; then
        echo "ok   real_probe_agrees_with_the_loader (Wine fails otherwise: $loader_said)"
    else
        echo "FAIL real_probe_agrees_with_the_loader: --check gave $status ($said); the loader gave $loader_status ($loader_said)"
        failures=$((failures + 1))
    fi
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
