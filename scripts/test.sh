#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite in a normal build, the same suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for a bounded time.
# Usage: scripts/test.sh [seconds per fuzz target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-30}

bash scripts/install-deps.sh
source scripts/test-env.sh
trap stop_test_services EXIT
start_test_services

jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORSA_SANITIZE=ON
cmake --build build-asan -j "$jobs"
# tests/lsan.supp names the system libraries whose own allocations stay until exit (see the file).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz (the long run is scripts/fuzz.sh 600, see docs/reliability.md)"
bash scripts/fuzz.sh "$fuzz_seconds"
