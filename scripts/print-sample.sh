#!/usr/bin/env bash
# Prints a sample receipt (brand 耐克, two lines) from the program's window through the test spooler's
# queue, takes the PDF the queue's printer received and renders it at 100 dpi to docs/printed-page.png,
# the picture in docs/printing.md.
#
#   bash scripts/print-sample.sh [build directory]     (default: build-bench)
#
# The build directory is configured with the benchmarks, as the sample is printed by bench/print_bench.
# The spooler and the queue come from scripts/test-env.sh; a spooler already running is left running.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-bench}"
output="$root/docs/printed-page.png"

cmake -S "$root" -B "$build" -G Ninja -DVORSA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target print_bench

# shellcheck source=scripts/test-env.sh
source "$root/scripts/test-env.sh"
start_test_services
work="$(mktemp -d)"
trap 'stop_test_services; rm -rf "$work"' EXIT

"$build/bench/print_bench" --sample="$work/printed.pdf"
pdfinfo "$work/printed.pdf" | grep -E '^(Pages|Page size):'
pdftoppm -png -r 100 -singlefile "$work/printed.pdf" "$work/page"
cp "$work/page.png" "$output"
echo "wrote $output"
