#!/usr/bin/env bash
# QR code benchmark: builds qr_bench (Release), checks our symbols against an independent construction,
# times one encode per library and input with Google Benchmark (median CPU time of REPS runs), then
# counts instructions per encode with callgrind as the difference between two loop counts (which
# removes start-up and the one-time table building), and prints both tables with the ratio
# libqrencode-mask-0 / ours.
#
# Usage: bench/qr_bench.sh [--no-timing]   (--no-timing: the instruction table only)
# Environment: BUILD_DIR (default build-qr-bench), REPS (default 5), LOOPS="low high" (default "5 25"),
#              AUTO_LOOPS for the automatic-mask encoders, which are slower (default "1 4").
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-qr-bench}
reps=${REPS:-5}
read -r low high <<<"${LOOPS:-5 25}"
read -r auto_low auto_high <<<"${AUTO_LOOPS:-1 4}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORSA_BUILD_GUI=OFF -DVORSA_BUILD_TESTS=OFF \
    -DVORSA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target qr_bench -j 2 >/dev/null
bench=$build/bench/qr_bench
command -v valgrind >/dev/null || { echo "valgrind is needed for the instruction counts" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Our symbols must match an independent construction before their speed means anything.
"$bench" --check || { echo "qr_bench: our symbols differ from the reference" >&2; exit 1; }
echo

libraries=(ours qrencode_mask0 qrencode_split_mask0 qrencode_auto qrcodegen_mask0 qrcodegen_auto)
inputs=(ascii_40 receipt_150 text_1000 max_2953 kanji_360)
header() {
    printf '| %-11s | %14s | %14s | %6s | %15s | %14s | %14s | %14s | %12s |\n' input ours \
        "qrencode m0" ratio "qrencode spl m0" "qrencode auto" "qrcodegen m0" "qrcodegen auto" "our picture"
    printf '|%s|\n' "-------------|----------------|----------------|--------|-----------------|----------------|----------------|----------------|--------------"
}
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.1fx", a / b; else print "-" }'
}

if [ "${1:-}" != "--no-timing" ]; then
    "$bench" --benchmark_min_time=0.1 --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
        --benchmark_out="$scratch/times.csv" --benchmark_out_format=csv
    echo
    # Median CPU time in microseconds of the benchmark NAME, or "-" when it did not run.
    median() {
        awk -F, -v name="\"$1_median\"" '$1 == name {
            t = $4; if ($5 == "ns") t /= 1000; else if ($5 == "ms") t *= 1000; printf "%.2f", t; found = 1 }
            END { if (!found) print "-" }' "$scratch/times.csv"
    }
    echo "Time per encode to the module grid in µs (median CPU time of $reps runs, level L, automatic version)"
    header
    for input in "${inputs[@]}"; do
        declare -A cell=()
        for library in "${libraries[@]}"; do
            cell[$library]=$(median "encode/$library/$input")
        done
        printf '| %-11s | %14s | %14s | %6s | %15s | %14s | %14s | %14s | %12s |\n' "$input" "${cell[ours]}" \
            "${cell[qrencode_mask0]}" "$(ratio "${cell[qrencode_mask0]}" "${cell[ours]}")" \
            "${cell[qrencode_split_mask0]}" "${cell[qrencode_auto]}" "${cell[qrcodegen_mask0]}" \
            "${cell[qrcodegen_auto]}" "$(median "picture/ours/$input")"
        unset cell
    done
    echo
fi

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

echo "Instructions per encode to the module grid (callgrind, level L, automatic version; v = version chosen)"
header
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
    printf '| %-11s | %14s | %14s | %6s | %15s | %14s | %14s | %14s | %12s |\n' "$input" "${cell[ours]}" \
        "${cell[qrencode_mask0]}" "$(ratio "${cell[qrencode_mask0]%% *}" "${cell[ours]%% *}")" \
        "${cell[qrencode_split_mask0]}" "${cell[qrencode_auto]}" "${cell[qrcodegen_mask0]}" \
        "${cell[qrcodegen_auto]}" "$(per_encode ours_picture "$input")"
    unset cell
done
