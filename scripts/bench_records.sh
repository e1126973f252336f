#!/usr/bin/env bash
# Per-record speed of the tool (Release build): decrypts 1,000,000 armoured
# records of 16-byte plaintexts with --lines, and the same records as column 2
# of a CSV file with --csv 2, to /dev/null, best of three runs each; then runs
# `openssl enc` once per record over the first 1,000 records, as a shell loop
# over a table's values would. Prints records per second of wall-clock time,
# and of CPU time (user + system), which other work on the machine does not
# inflate. Files go to a temporary folder, removed at the end.
# Usage: scripts/bench_records.sh [RECORDS]   (default 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."

records=${1:-1000000}
loop_records=1000
key=000102030405060708090A0B0C0D0E0F  # 16 bytes: 128 effective bits, OpenSSL's rc2-ecb default

cmake --preset dev -B build/bench -DCMAKE_BUILD_TYPE=Release -DMORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench --target morvik -j 2 >/dev/null
morvik=build/bench/cli/morvik

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 16-byte plaintexts ("record-000000000"), their armoured and hex ciphertexts,
# and a CSV file with the armoured ones in its second column.
seq -f 'record-%09.0f' 0 $((records - 1)) >"$work/plain"
MORVIK_KEY_HEX=$key "$morvik" encrypt --lines "$work/plain" -o "$work/asc"
MORVIK_KEY_HEX=$key "$morvik" encrypt --lines --form hex "$work/plain" -o "$work/hex"
seq 1 "$records" | paste -d , - "$work/asc" | sed 's/$/,"a note, with a comma"/' >"$work/csv"

# best of three: prints "wall cpu" in seconds
best() {
  local best_wall="" best_cpu="" wall cpu
  for _ in 1 2 3; do
    read -r wall cpu < <(/usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | awk '{ print $1, $2 + $3 }')
    if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
      best_wall=$wall
      best_cpu=$cpu
    fi
  done
  echo "$best_wall $best_cpu"
}

rate() { awk -v n="$1" -v t="$2" 'BEGIN { if (t < 0.005) t = 0.005; printf "%.0f", n / t }'; }

# The CSV run must give back exactly the plaintext column.
MORVIK_KEY_HEX=$key "$morvik" decrypt --csv 2 "$work/csv" | cut -d , -f 2 | cmp -s - "$work/plain" ||
  { echo "bench_records: --csv did not give back the plaintexts" >&2; exit 1; }
MORVIK_KEY_HEX=$key "$morvik" decrypt --lines "$work/asc" | cmp -s - "$work/plain" ||
  { echo "bench_records: --lines did not give back the plaintexts" >&2; exit 1; }

export MORVIK_KEY_HEX=$key
read -r lines_wall lines_cpu < <(best "$morvik" decrypt --lines "$work/asc" -o /dev/null)
read -r csv_wall csv_cpu < <(best "$morvik" decrypt --csv 2 "$work/csv" -o /dev/null)
read -r enc_wall enc_cpu < <(best "$morvik" encrypt --lines "$work/plain" -o /dev/null)
unset MORVIK_KEY_HEX

# OpenSSL reads no armour: the loop gets each hex ciphertext as base64,
# converted beforehand, and one openssl process decrypts it.
head -n "$loop_records" "$work/hex" | while read -r h; do printf %s "$h" | basenc --base16 -d | base64 -w 0; echo; done \
  >"$work/b64"
openssl_loop() {
  while read -r b; do
    printf '%s\n' "$b" | openssl enc -d -a -A -rc2-ecb -K "$key" -nopad -provider legacy -provider default
    echo
  done <"$work/b64"
}
openssl_loop | cmp -s - <(head -n "$loop_records" "$work/plain") ||
  { echo "bench_records: the openssl loop did not give back the plaintexts" >&2; exit 1; }
start=$(date +%s.%N)
openssl_loop >/dev/null
loop_wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')

printf '%-58s %12s %14s\n' "" "records/s" "records/CPU-s"
printf '%-58s %12s %14s\n' "morvik decrypt --lines, $records armoured records" "$(rate "$records" "$lines_wall")" \
  "$(rate "$records" "$lines_cpu")"
printf '%-58s %12s %14s\n' "morvik decrypt --csv 2, the same records in a CSV file" "$(rate "$records" "$csv_wall")" \
  "$(rate "$records" "$csv_cpu")"
printf '%-58s %12s %14s\n' "morvik encrypt --lines, their plaintexts" "$(rate "$records" "$enc_wall")" \
  "$(rate "$records" "$enc_cpu")"
printf '%-58s %12s %14s\n' "openssl enc -d, one process per record ($loop_records records)" \
  "$(rate "$loop_records" "$loop_wall")" "-"
awk -v l="$lines_wall" -v c="$csv_wall" -v o="$(rate "$loop_records" "$loop_wall")" -v n="$records" 'BEGIN {
  printf "CSV mode takes %.2f times as long as line mode; line mode is %.0f times the openssl loop\n", c / l, n / l / o }'
