#!/bin/sh
# Runs a Windows program under Wine, headless and without add-ons, in the test
# prefix of one architecture. Also the CMake cross-compiling emulator.
#   wine.sh x86|x64 PREFIX PROGRAM [ARGUMENTS...]
#   wine.sh x86|x64 PREFIX --check   can this machine run Wine for the architecture?
#   wine.sh x86|x64 PREFIX --stop    end the prefix's wineserver
# Exits 77, which CTest reports as skipped, where Wine cannot run the
# architecture. With MORVIK_REQUIRE_WINE set (as CI does) that is a failure,
# except for 32-bit code on a kernel that runs no 32-bit program at all: some
# machines of our kind are built or booted without IA-32 emulation, and which
# kind CI gets is not ours to choose. The kernel itself is asked (a tiny
# i386 program, below), not a setting, so a machine that could run the x86
# tests never skips them.
#
# Wine gives each process the ANSI code page of the locale in LC_ALL (the
# prefix's registry only records it), so MORVIK_WINE_LOCALE, such as
# ja_JP.UTF-8 for code page 932, sets it for one program; by default
# C.UTF-8 gives 1252. The locale need not be installed on the host.
set -eu
arch=$1 prefix=$2
shift 2

export WINEPREFIX="$prefix" WINEDEBUG=-all LC_ALL="${MORVIK_WINE_LOCALE:-C.UTF-8}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY 2>/dev/null || true

case $arch in
    # In a 64-bit prefix plain `wine` starts the 32-bit loader, so call the
    # 64-bit one by name where Debian keeps it.
    x64) export WINEARCH=win64
         loader=/usr/lib/wine/wine64
         [ -x "$loader" ] || loader=$(command -v wine64 || command -v wine) ;;
    x86) export WINEARCH=win32
         loader=${MORVIK_WINE_X86_LOADER:-$(command -v wine || echo wine)} ;;
    *)   echo "wine.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# Does the kernel run a 32-bit x86 program? The program is 91 bytes of static
# i386 ELF, written here byte by byte: one loadable segment whose code is
# "xor ebx,ebx; xor eax,eax; inc eax; int 0x80", that is exit(0). It needs no
# library, no loader and no package, so only the kernel can refuse it.
# MORVIK_I386_PROBE names another program to try instead: the probe's own
# test uses it to play a machine without 32-bit support.
kernel_runs_i386() {  # false only where the kernel refuses the program
    if [ -n "${MORVIK_I386_PROBE:-}" ]; then
        refused "$MORVIK_I386_PROBE"
        return
    fi
    probe=$(mktemp "${TMPDIR:-/tmp}/morvik-i386-XXXXXX") || return 0
    # ELF header: class 32, little-endian, executable, machine 3 (i386),
    # entry 0x08048054, one program header at offset 52.
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
    # Program header: PT_LOAD of the whole 91-byte file at 0x08048000, r-x.
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
    printf '\133\000\000\000\133\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
    # The code at 0x08048054.
    printf '\061\333\061\300\100\315\200' >>"$probe"
    chmod 700 "$probe"
    status=0
    refused "$probe" || status=$?
    rm -f "$probe"
    return "$status"
}

# Only the kernel's own refusal counts as "cannot": any other failure to start
# the probe (a folder mounted noexec, say) must not turn the x86 tests into
# skips, so it is taken as "can", and a Wine that then fails is a failure.
refused() {
    case $("$1" 2>&1 >/dev/null) in
        *"Exec format error"*) return 1 ;;
    esac
    return 0
}

case ${1:-} in
    --check)
        "$loader" --version >/dev/null 2>&1 && exit 0
        if [ "$arch" = x86 ] && ! kernel_runs_i386; then
            echo "wine.sh: this machine's kernel cannot run 32-bit programs (Exec format error): x86 Windows tests skipped"
            exit 77
        fi
        if [ -n "${MORVIK_REQUIRE_WINE:-}" ]; then
            echo "wine.sh: this machine cannot run $arch Windows code with $loader"
            exit 1
        fi
        echo "wine.sh: this machine cannot run $arch Windows code with $loader; skipped"
        exit 77 ;;
    --stop)
        [ -d "$prefix" ] && "$server" -k 2>/dev/null || true
        exit 0 ;;
    --persist)
        # Keep the server between the tests' processes (it ends by itself
        # a minute after the last one, should the cleanup test not run).
        exec "$server" -p60 ;;
esac

"$loader" --version >/dev/null 2>&1 || exec "$0" "$arch" "$prefix" --check
exec "$loader" "$@"
