#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORSA_BUILD_GUI=OFF -DVORSA_BUILD_TESTS=OFF -DVORSA_BUILD_FUZZ=ON
cmake --build build-fuzz -j "$(nproc)"

status=0
for fuzzer in $(find build-fuzz/tests/fuzz -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort); do
    name=$(basename "$fuzzer")
    corpus=build-fuzz/corpus/$name
    mkdir -p "$corpus"
    seeds=tests/fuzz/seeds/$name
    [ -d "$seeds" ] || seeds=""
    echo "-- $name for ${seconds}s"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/$name-" "$corpus" $seeds >"build-fuzz/$name.log" 2>&1; then
        tail -n 40 "build-fuzz/$name.log"
        echo "FAILED: $name"
        status=1
    else
        grep -E 'stat::number_of_executed_units' "build-fuzz/$name.log" || true
    fi
done
exit $status
