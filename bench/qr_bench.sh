#!/usr/bin/env bash
# QR code benchmark: builds qr_bench (Release), runs it with Google Benchmark, then counts instructions
# per encode with callgrind as the difference between two loop counts (which removes start-up and the
# one-time table building), and prints the table with the ratio libqrencode-mask-0 / ours.
#
# Usage: bench/qr_bench.sh [--no-timing]
# Environment: BUILD_DIR (default build-qr-bench), LOOPS="low high" (default "5 25"),
#              AUTO_LOOPS for the automatic-mask encoders, which are slower (default "1 4").
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-qr-bench}
read -r low high <<<"${LOOPS:-5 25}"
read -r auto_low auto_high <<<"${AUTO_LOOPS:-1 4}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORSA_BUILD_GUI=OFF -DVORSA_BUILD_TESTS=OFF \
    -DVORSA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target qr_bench -j 2 >/dev/null
bench=$build/bench/qr_bench

if [ "${1:-}" != "--no-timing" ]; then
    "$bench" --benchmark_min_time=0.2
    echo
fi

command -v valgrind >/dev/null || { echo "valgrind is needed for the instruction counts" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Total instructions of COUNT encodes of INPUT by LIBRARY.
total() {
    valgrind --tool=callgrind --callgrind-out-file="$scratch/out" "$bench" --loop "$1" "$2" "$3" \
        >"$scratch/stdout" 2>/dev/null || return 1
    awk '/^summary:/ { print $2 }' "$scratch/out"
}

# Instructions per encode, or "-" when the library cannot take the input.
per_encode() {
    local a b lo=$low hi=$high
    case $1 in *_auto) lo=$auto_low hi=$auto_high ;; esac
    a=$(total "$1" "$2" "$lo") && b=$(total "$1" "$2" "$hi") || { echo "-"; return; }
    echo $(((b - a) / (hi - lo)))
}

version() {
    "$bench" --loop "$1" "$2" 1 2>/dev/null | awk '/^version/ { print $2 }' || true
}

libraries=(ours qrencode_mask0 qrencode_split_mask0 qrencode_auto qrcodegen_mask0 qrcodegen_auto)
inputs=(ascii_40 receipt_150 text_1000 max_2953 kanji_360)

echo "Instructions per encode to the module grid (callgrind, level L, automatic version; v = version chosen)"
printf '| %-11s | %14s | %14s | %6s | %14s | %14s | %14s | %14s | %12s |\n' input ours \
    "qrencode m0" ratio "qrencode spl m0" "qrencode auto" "qrcodegen m0" "qrcodegen auto" "our picture"
printf '|%s|\n' "-------------|----------------|----------------|--------|-----------------|----------------|----------------|----------------|--------------"
for input in "${inputs[@]}"; do
    declare -A cell=()
    for library in "${libraries[@]}"; do
        count=$(per_encode "$library" "$input")
        if [ "$count" = "-" ]; then
            cell[$library]="-"
        else
            cell[$library]="$count v$(version "$library" "$input")"
        fi
    done
    ours=${cell[ours]%% *}
    mask0=${cell[qrencode_mask0]%% *}
    ratio=$(awk -v a="$mask0" -v b="$ours" 'BEGIN { printf "%.1fx", a / b }')
    picture=$(per_encode ours_picture "$input")
    printf '| %-11s | %14s | %14s | %6s | %15s | %14s | %14s | %14s | %12s |\n' "$input" "${cell[ours]}" \
        "${cell[qrencode_mask0]}" "$ratio" "${cell[qrencode_split_mask0]}" "${cell[qrencode_auto]}" \
        "${cell[qrcodegen_mask0]}" "${cell[qrcodegen_auto]}" "$picture"
    unset cell
done
