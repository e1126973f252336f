#!/bin/bash
# The man page against the tool: it renders without a warning, fits 80
# columns, has each section once, lexgrog reads its NAME, and it names every
# command and option of the --help texts and no option they lack.
#   manual.sh MORVIK PAGE
set -euo pipefail
MORVIK=$1 page=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/help_options.sh"

warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1) || true
[ -z "$warnings" ] || fail "groff warns: $warnings"
if command -v man >/dev/null; then
    text=$(MANWIDTH=80 LC_ALL=C.UTF-8 MAN_KEEP_FORMATTING= man -l "$page" 2>&1 | col -b)
else
    text=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -rLL=80n "$page" | col -b)
fi
wide=$(printf '%s\n' "$text" | awk 'length > 80' || true)
[ -z "$wide" ] || fail "lines wider than 80 columns:
$wide"
wide=$(awk 'length > 80' "$page")
[ -z "$wide" ] || fail "source lines wider than 80 columns:
$wide"
if command -v lexgrog >/dev/null; then
    lexgrog "$page" | grep -q 'morvik - RC2' || fail "lexgrog reads no NAME: $(lexgrog "$page" 2>&1)"
fi
for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
    n=$(printf '%s\n' "$text" | grep -cx "$section" || true)
    [ "$n" = 1 ] || fail "section $section appears $n times"
done
for command in encrypt decrypt "hex encode" "hex decode" "asc encode" "asc decode" help; do
    printf '%s\n' "$text" | grep -qE "(morvik |^ *|, )$command" || fail "command '$command' is not described"
done
for option in $(all_options); do
    printf '%s\n' "$text" | grep -qE -- "(^|[ ,(])$option([ ,.;:)=]|$)" || fail "option $option of --help is missing"
done
known=" $(all_options | tr '\n' ' ') "
for option in $(printf '%s\n' "$text" | grep -oE -- '(^|[ ,(])--[a-z][a-z0-9-]*' | tr -d ' ,(' | sort -u); do
    case $known in *" $option "*) ;; *) fail "the page names $option, which --help does not know" ;; esac
done
for status in 0 1 2 3 4 5 6 7; do
    "$MORVIK" --help | grep -qE "^  $status  " || fail "status $status is not in morvik --help"
    printf '%s\n' "$text" | sed -n '/^EXIT STATUS$/,/^[A-Z]/p' | grep -qE "^ +$status\b" ||
        fail "status $status is not in EXIT STATUS"
done
[ "$faults" = 0 ] && echo "man page: every check passed" || exit 1
