# Sourced by manual.sh and completions.sh: the options of the tool as its
# --help texts list them (the lines that start with an option), and the
# count of faults found.
#   fail MESSAGE              reports a fault and counts it in $faults
#   options_of "hex decode"   every option of that command, one a line
#   all_options               those of every command and of morvik itself
options_of() {
    # shellcheck disable=SC2086
    "$MORVIK" $1 --help | grep -E '^  -' | grep -oE '(^|[ ,])--?[a-z][a-z0-9-]*' | tr -d ' ,' | sort -u
}
all_options() {
    for c in "" encrypt decrypt "hex encode" "hex decode" "asc encode" "asc decode"; do options_of "$c"; done |
        sort -u
}
faults=0
fail() { echo "FAIL: $*"; faults=$((faults + 1)); }
