#!/usr/bin/env bash
# Encrypts and decrypts a large file (1 GiB by default) with morvik in every
# form, and a file of blank lines as CSV, and prints the peak resident memory
# of each run, which must stay under 16 MiB. CTest runs it on 256 MiB
# (cli.large_files); the default size needs several GiB of disk and some
# minutes.
#
#   cli/tests/peak_memory.sh [path/to/morvik] [size in MiB]
set -euo pipefail
cd "$(dirname "$0")/../.."

tool=${1:-build/dev/cli/morvik}
mib=${2:-1024}
limit_kib=$((16 * 1024))
[ -x "$tool" ] || { echo "peak_memory: build morvik first (cmake --preset dev && cmake --build build/dev)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "peak_memory: /usr/bin/time is missing (scripts/setup.sh installs it)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/morvik-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT
export MORVIK_KEY_HEX=88BCA90E90875A7F0F79C384627BAFB2

# Random bytes, one non-zero byte, then a 1 MiB run of zeros that decryption
# drops: the plaintext comes back as everything before the run (which is why
# encrypt needs --allow-trailing-zeros here).
head -c $(((mib - 1) * 1048576 - 1)) /dev/urandom > "$work/plain"
printf x >> "$work/plain"
cp "$work/plain" "$work/expected"
head -c 1048576 /dev/zero >> "$work/plain"
echo "input: $(stat -c %s "$work/plain") bytes"

status=0
measure() {  # label, then the command
    local label=$1; shift
    local start=$SECONDS
    /usr/bin/time -f %M -o "$work/rss" "$@"
    local kib; kib=$(tail -n 1 "$work/rss")
    printf '%-12s peak RSS %6d KiB (%5.2f MiB) in %3d s\n' "$label" "$kib" "$(awk "BEGIN { print $kib / 1024 }")" $((SECONDS - start))
    [ "$kib" -lt "$limit_kib" ] || { echo "  over the limit of 16 MiB"; status=1; }
}

for form in raw hex asc; do
    measure "encrypt $form" "$tool" encrypt --no-progress --allow-trailing-zeros --form "$form" "$work/plain" -o "$work/cipher"
    measure "decrypt $form" "$tool" decrypt --no-progress --form "$form" "$work/cipher" -o "$work/back"
    cmp -s "$work/back" "$work/expected" || { echo "  decrypt $form: output differs from the plaintext"; status=1; }
    rm -f "$work/cipher" "$work/back"
done

# Blank lines, a quarter of the size: CSV rows with no field, which pass
# through unchanged and must not pile up in memory.
head -c $((mib / 4 * 1048576)) /dev/zero | tr '\0' '\n' > "$work/blank"
measure "csv blank" "$tool" encrypt --no-progress --csv 1 "$work/blank" -o "$work/cipher"
cmp -s "$work/cipher" "$work/blank" || { echo "  csv blank: output differs from the input"; status=1; }
exit $status
