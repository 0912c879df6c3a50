#!/usr/bin/env bash
# Builds every benchmark in a Release tree and prints each table of bench/README.md, every figure next to
# the baseline it is compared with, measured in the same run:
#   QR encoder against libqrencode and qrcodegen, the preview build phase by phase, start-up against the
#   form-only Qt program and a bare one (offline, and built with a vendor server that answers or is down),
#   the online start-up with and without concurrent downloads and against sick servers (offline start as
#   baseline), printing against lp.
# Usage: bench/run-all.sh [start-up runs, default 30]
# Needs what scripts/install-deps.sh installs (valgrind for the QR instruction counts, cupsd for printing).
set -euo pipefail
cd "$(dirname "$0")/.."
startup_runs=${1:-30}
build=build-bench

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORSA_BUILD_BENCH=ON -DVORSA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

source scripts/test-env.sh
trap stop_test_services EXIT
start_test_services

section() { printf '\n==== %s\n' "$1"; }

# Google Benchmark prints "name_median  <time> <unit> ..."; the medians in microseconds, by name.
medians() {
    awk '/_median / { t = $2; u = $3; if (u == "ns") t /= 1000; else if (u == "ms") t *= 1000; else if (u == "s") t *= 1e6
                      sub(/_median$/, "", $1); printf "%s %.3f\n", $1, t }'
}

section "QR code encoder (instructions and time per encode, ours against libqrencode and qrcodegen)"
bash bench/qr_bench.sh

section "Preview build, whole and phase by phase"
"$build/bench/preview_bench" --benchmark_repetitions=25 --benchmark_report_aggregates_only=true | tee "$build/preview.txt"
medians <"$build/preview.txt" | awk '
    { split($1, part, "/"); time[part[1] "/" part[2]] = $2 }
    END {
        print "\n| phase | empty receipt | share | five lines | share |"; print "|---|---|---|---|---|"
        n = split("record_phase qr_phase fit_phase draw_phase blit_phase", phases, " ")
        for (i = 1; i <= n; ++i) {
            a = time[phases[i] "/0"]; b = time[phases[i] "/5"]
            printf "| %s | %.1f us | %.1f%% | %.1f us | %.1f%% |\n", phases[i], a, 100 * a / time["whole_build/0"], b, 100 * b / time["whole_build/5"]
        }
        printf "| whole build | %.1f us | | %.1f us | |\n", time["whole_build/0"], time["whole_build/5"]
    }'

section "Start-up offline against the form-only program and a bare dialog (offscreen platform)"
"$build/bench/startup_bench" "$startup_runs"
section "Start-up offline against the form-only program and a bare dialog (X11 under Xvfb)"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$build/bench/startup_bench" "$startup_runs"

# A build with a vendor server on 127.0.0.1:$vendor_port: the demo site answering, then nothing listening.
vendor_port=39181
online_build=build-bench-online
cmake -S . -B "$online_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORSA_BUILD_BENCH=ON -DVORSA_BUILD_TESTS=OFF \
    -DVORSA_VENDOR_SERVER=http://127.0.0.1:$vendor_port >/dev/null
cmake --build "$online_build" -j "$(nproc)" --target startup_program
python3 -m http.server --directory resources/demo-site "$vendor_port" --bind 127.0.0.1 >/dev/null 2>&1 &
vendor=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$vendor_port/" && break; sleep 0.1; done
for platform in offscreen xcb; do
    section "Start-up with a vendor server answering ($platform)"
    # The web engine's sandbox cannot run as root, and the program shows no page without it.
    if [ "$(id -u)" -eq 0 ]; then echo "(as root no notice page is shown: the web view is not in these figures)"; fi
    QT_QPA_PLATFORM=$platform xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/bench/startup_bench" "$startup_runs" "offline=$build/app/startup_program" \
        "server answering=$online_build/app/startup_program"
done
kill "$vendor"
wait "$vendor" 2>/dev/null || true
for platform in offscreen xcb; do
    section "Start-up with a vendor server down ($platform)"
    QT_QPA_PLATFORM=$platform xvfb-run -a -s "-screen 0 1024x768x24" "$build/bench/startup_bench" "$startup_runs" \
        "offline=$build/app/startup_program" "server down=$online_build/app/startup_program"
done

section "Online start-up: logos fetched side by side against one after another"
"$build/bench/online_bench"
section "Online start-up: time to a usable window against answering, refusing, silent and trickling servers"
"$build/bench/online_bench" --usable-window

section "Print button against lp handing the same PDF to the same queue"
"$build/bench/print_bench" --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true | tee "$build/print.txt"
medians <"$build/print.txt" | awk '
    { sub(/\/(manual|real)_time$/, "", $1); time[$1] = $2 }
    END {
        print "\n| | median | ratio to lp |"; print "|---|---|---|"
        printf "| press of the print button | %.1f ms | %.2fx |\n", time["print_button"] / 1000, time["print_button"] / time["lp_command"]
        printf "| lp with the same PDF | %.1f ms | 1 |\n", time["lp_command"] / 1000
    }'
