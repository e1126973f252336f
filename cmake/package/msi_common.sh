# What the MSI tests under Wine share (sourced): they set here, arch, prefix,
# wine_sh and probe (the frame tests' frame_probe.exe of the architecture) first. $arch is the package's architecture; the prefix's is
# $prefix_arch (the package's, unless set).
clsid='{12776653-3BE7-48D1-9490-F8921B6FA239}'
libid='{0EB116FF-8904-4BB6-A4F7-9AF8F7E57531}'
iid='{C5016E37-1410-4E05-B458-B3083D52B0F5}'
# morvik encrypt --key mykey --text Attack, as the Linux build prints it.
tool_answer='g=1bQ2dZ09lY2'

fail() { echo "FAIL: $*" >&2; exit 1; }
wine() { sh "$wine_sh" "${prefix_arch:-$arch}" "$prefix" "$@"; }
msiexec() {
    wine msiexec "$@" /qn 2>/dev/null || fail "msiexec $* /qn exited $?"
}
new_guid() { printf '{%s}' "$(tr a-f A-F </proc/sys/kernel/random/uuid)"; }
msi_template() { if [ "$1" = x64 ]; then echo 'x64;1033'; else echo 'Intel;1033'; fi; }
# reg query, without carriage returns; nothing where the key is missing
# (which reg reports on standard output).
q() { if out=$(wine reg query "$@" 2>/dev/null); then printf '%s\n' "$out" | tr -d '\r'; fi; }
# The package's view of the registry in the prefix.
view() { if [ "${prefix_arch:-$arch}" = x64 ] && [ "$arch" = x86 ]; then echo /reg:32; else echo /reg:64; fi; }
unix_path() { printf '%s' "$prefix/drive_c/$(printf '%s' "${1#[Cc]:\\}" | tr '\\' /)"; }
program_files() {
    if [ "${prefix_arch:-$arch}" = x64 ] && [ "$arch" = x86 ]; then
        echo 'C:\Program Files (x86)\Morvik RC2'
    else
        echo 'C:\Program Files\Morvik RC2'
    fi
}

# The versions of the installed products named for the architecture.
products() {
    q "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s "$(view)" | awk -v name="Morvik RC2 ($arch)" '
        /^HKEY_/ { if (match_) print version; match_ = 0; version = "" }
        $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); match_ = ($0 == name) }
        $1 == "DisplayVersion" { version = $3 }
        END { if (match_) print version }' | tr '\n' ' ' | sed 's/ $//'
}
# Every key of the server under a hive's Software\Classes, in a view.
classes() {
    for key in "CLSID\\$clsid" Morvik.RC2 "TypeLib\\$libid" "Interface\\$iid"; do
        q "$1\\Software\\Classes\\$key" /s "${2:-$(view)}"
    done
}
installed_dir() {
    q "$1\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve "$(view)" |
        sed -n 's/^ *(Default) *REG_SZ *\(.*\)\\Morvik\.dll$/\1/p'
}
path_has() {
    if [ "$1" = HKLM ]; then
        q 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH
    else
        q 'HKCU\Environment' /v PATH
    fi | grep -qi 'Morvik RC2'
}
# Once, under load, Wine's msiexec came back from an upgrade before the
# path named the folder, which it did a moment later: a path that is to name
# it is given up to 30 seconds.
path_gets() {
    for _ in $(seq 30); do
        path_has "$1" && return 0
        sleep 1
    done
    return 1
}

# The package's script host: the 32-bit one for x86 in a 64-bit prefix.
# Under load Wine's cscript now and then ends without running the script at
# all; that alone (no line of the script's own) earns one more run, which
# the output reports.
cscript() {
    host=cscript
    [ "$(view)" = /reg:32 ] && host='C:\windows\syswow64\cscript.exe'
    for attempt in 1 2; do
        out=$(wine "$host" //nologo "Z:$(printf %s "$here/msi_check.vbs" | tr / '\\')" "$1" 2>&1 | tr -d '\r') || true
        [ -z "$(printf '%s\n' "$out" | grep -E '^(FAIL|armoured|Morvik|MORVIK)')" ] && [ $attempt = 1 ] || break
        echo "cscript ended without running the script; once more" >&2
    done
    printf '%s\n' "$out"
    printf '%s\n' "$out" | grep -q '^FAIL' && fail "the script ($1) failed: $out"
    [ "$(printf '%s\n' "$out" | sed '/^$/d' | tail -n 1)" = "MORVIK SCRIPT END" ] ||
        fail "the script ($1) did not reach its last line: $out"
}

check_installed() { # HIVE DIR
    [ "$(installed_dir "$1")" = "$2" ] || fail "$1's class names $(installed_dir "$1"), not $2"
    for f in Morvik.dll morvik.exe; do
        [ -f "$(unix_path "$2\\$f")" ] || fail "no $2\\$f"
    done
    if [ "$1" = HKLM ]; then
        out=$(cscript installed) || exit 1
        printf '%s\n' "$out" | grep -qx 'armoured VKPAyyty0bBg2' || fail "Morvik.RC2 did not give the known ciphertext: $out"
    else
        # Wine's COM reads only the machine's classes: the probe follows the
        # user's entries as Windows would (ProgID, class, module, type library).
        out=$(wine "$probe" user 2>&1 | tr -d '\r') || fail "the probe cannot use the user's registration: $out"
        printf '%s\n' "$out"
    fi
}
check_tool() {
    out=$(wine cmd /c morvik encrypt --key mykey --text Attack 2>&1 | tr -d '\r') || true
    [ "$out" = "$tool_answer" ] || fail "morvik.exe from the path printed: $out"
    echo "morvik.exe from the path: $out"
}
check_removed() { # DIR
    cscript removed >/dev/null || exit 1
    for hive in HKLM HKCU; do
        [ -z "$(classes $hive)" ] || fail "left in $hive: $(classes $hive)"
        [ -z "$(q "$hive\\Software\\Morvik RC2" /s "$(view)")" ] || fail "left: $hive\\Software\\Morvik RC2"
        ! path_has $hive || fail "the $hive path still names the folder"
    done
    [ ! -e "$(unix_path "$1")" ] || fail "left: $1 ($(ls "$(unix_path "$1")"))"
    [ -z "$(products HKLM)" ] || fail "still installed: $(products HKLM)"
    echo "removed: no file, key or path entry left"
}
