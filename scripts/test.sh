#!/usr/bin/env bash
# Installs what is missing, builds, and runs every check of CI:
#   - every target in a normal build (RelWithDebInfo): program, tests, benchmarks and the tools run by
#     hand; there the suite runs with the 2000-round soak session;
#   - the suite again under AddressSanitizer and UndefinedBehaviorSanitizer (Debug), without the soak;
#   - the Qt-free core and its tests built for 64-bit Windows (mingw-w64) and run under Wine;
#   - each fuzz target for a short time (the long run is scripts/fuzz.sh 600, see docs/reliability.md).
# The Windows build and its suite run in the background from the start, and the normal suite while the
# sanitizer build compiles, so both cores stay busy.
# The tests that print through the spooler's test queue (label spooler) share its port, so in every
# suite they run one at a time under the lock $VORSA_TEST_PRINTER_LOCK (scripts/test-env.sh).
# With ccache installed every build goes through it; a machine that keeps its cache rebuilds little.
# Usage: scripts/test.sh [seconds per fuzz target, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-10}

bash scripts/install-deps.sh
source scripts/test-env.sh
normal_pid=""
windows_pid=""
windows_prefix=$PWD/build-win/wineprefix
finish() {
    if [ -n "$normal_pid" ]; then kill -- -"$normal_pid" 2>/dev/null || true; fi
    if [ -n "$windows_pid" ]; then kill -- -"$windows_pid" 2>/dev/null || true; fi
    # The kept Wine server, and those of the prefixes some tests make for themselves; the X display of
    # the window tests, should their run have been cut short.
    local prefix
    for prefix in "$windows_prefix"*; do wine_server_stop "$prefix"; done
    bash scripts/wine-display.sh stop build-win/tests/runtime/win32/wine-display 2>/dev/null || true
    stop_test_services
}
trap finish EXIT
start_test_services

jobs=$(nproc)
cmake_args=()
if command -v ccache >/dev/null; then
    # Paths relative to the tree, so a fresh clone in another folder finds what an earlier one compiled.
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
    cmake_args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# run_suite BUILD [LABELS LEFT OUT]: the tests that need no spooler side by side, then those that do,
# one at a time while holding the test queue's lock (a build without them does not wait for it).
run_suite() {
    local build=$1 status=0
    local skip=(-LE "spooler${2:+|$2}") skip_spooled=()
    [ -z "${2:-}" ] || skip_spooled=(-LE "$2")
    ctest --test-dir "$build" --output-on-failure -j "$jobs" "${skip[@]}" || status=1
    if ctest --test-dir "$build" -N -L spooler "${skip_spooled[@]}" | grep '^ *Test *#' >/dev/null; then
        flock "$VORSA_TEST_PRINTER_LOCK" ctest --test-dir "$build" --output-on-failure -L spooler \
            "${skip_spooled[@]}" || status=1
    fi
    return $status
}

# The Windows build and its suite under Wine: the build tree's own Wine prefixes (the common one and that
# of the tests that open windows), made while the build compiles, and one Wine server for each kept for
# the whole suite (ended by finish).
run_windows_suite() {
    local status=0 prefix_pid window_prefix_pid
    wine_server_start "$windows_prefix" &
    prefix_pid=$!
    wine_server_start "$windows_prefix-windows" &
    window_prefix_pid=$!
    cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORSA_WERROR=ON "${cmake_args[@]}" &&
        cmake --build build-win -j "$jobs" || status=1
    wait "$prefix_pid" || status=1
    wait "$window_prefix_pid" || status=1
    [ "$status" -eq 0 ] || return "$status"
    run_suite build-win
}

echo "== Windows build and test under Wine (in the background: its output follows at the end)"
mkdir -p build-win
windows_log=build-win/test-suite.log
set -m # its own process group, so that an early exit ends its build and tests as well
run_windows_suite >"$windows_log" 2>&1 &
windows_pid=$!
set +m

echo "== build"
# Every target is built once, here: the benchmarks and the tools run by hand as well, so none of them
# stops compiling unnoticed.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORSA_WERROR=ON -DVORSA_BUILD_BENCH=ON \
    "${cmake_args[@]}"
cmake --build build -j "$jobs" --target all vorsa_tools

echo "== test (normal build, in the background: its output follows at the end)"
normal_log=build/test-suite.log
set -m # its own process group, so that an early exit ends its tests as well
run_suite build >"$normal_log" 2>&1 &
normal_pid=$!
set +m

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORSA_SANITIZE=ON -DVORSA_WERROR=ON "${cmake_args[@]}"
cmake --build build-asan -j "$jobs"
# The soak session is left out here: it runs once, in the normal build.
asan_status=0
# tests/lsan.supp names the system libraries whose own allocations stay until exit (see the file).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp run_suite build-asan soak || asan_status=$?

echo "== fuzz, ${fuzz_seconds}s per target (the long run is scripts/fuzz.sh 600, see docs/reliability.md)"
fuzz_status=0
bash scripts/fuzz.sh "$fuzz_seconds" || fuzz_status=$?

echo "== Windows build and test under Wine"
windows_status=0
wait "$windows_pid" || windows_status=$?
windows_pid=""
cat "$windows_log"

echo "== test (normal build)"
normal_status=0
wait "$normal_pid" || normal_status=$?
normal_pid=""
cat "$normal_log"
if [ "$normal_status" -ne 0 ] || [ "$asan_status" -ne 0 ] || [ "$windows_status" -ne 0 ] ||
    [ "$fuzz_status" -ne 0 ]; then
    echo "FAILED: normal suite $normal_status, sanitizer suite $asan_status, Windows suite $windows_status," \
        "fuzz $fuzz_status (exit codes)"
    exit 1
fi
