#!/bin/sh
# Runs a Windows program under Wine, headless and without add-ons, in the test
# prefix of one architecture. Also the CMake cross-compiling emulator.
#   wine.sh x86|x64 PREFIX PROGRAM [ARGUMENTS...]
#   wine.sh x86|x64 PREFIX --check   can this machine run Wine for the architecture?
#   wine.sh x86|x64 PREFIX --stop    end the prefix's wineserver
# Exits 77, which CTest reports as skipped, where Wine cannot run the
# architecture at all (such as 32-bit code on a kernel without it), unless
# MORVIK_REQUIRE_WINE is set: then that is a failure.
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
         loader=$(command -v wine) ;;
    *)   echo "wine.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)

case ${1:-} in
    --check)
        "$loader" --version >/dev/null 2>&1 && exit 0
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
