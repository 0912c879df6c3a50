#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time, one after another.
# Usage: scripts/fuzz.sh [seconds per target, default 30] [target ...]
#   scripts/fuzz.sh             every target for 30 s (scripts/test.sh, as CI, gives each 10 s)
#   scripts/fuzz.sh 600         the long run: every target for 10 minutes (see docs/reliability.md)
#   scripts/fuzz.sh 3600 qr_fuzz profile_fuzz
# The corpus each target grows is kept in build-fuzz/corpus/<target> and taken up again by the next
# run; a crash leaves its input as build-fuzz/<target>-crash-* and fails the run.
# VORSA_FUZZ_BUILD names another build directory than build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [seconds per target] [target ...]" >&2
    exit 2
fi
build=${VORSA_FUZZ_BUILD:-build-fuzz}

cmake_args=()
if command -v ccache >/dev/null; then
    # Paths relative to the tree, so a fresh clone in another folder finds what an earlier one compiled.
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
    cmake_args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORSA_BUILD_GUI=OFF -DVORSA_BUILD_TESTS=OFF -DVORSA_BUILD_FUZZ=ON "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)"

fuzzers=()
if [ $# -gt 0 ]; then
    for name in "$@"; do
        if [ ! -x "$build/tests/fuzz/$name" ]; then
            echo "no fuzz target $name; there are:" $(cd "$build/tests/fuzz" && ls *_fuzz) >&2
            exit 2
        fi
        fuzzers+=("$build/tests/fuzz/$name")
    done
else
    mapfile -t fuzzers < <(find "$build/tests/fuzz" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
fi

status=0
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
    seeds=tests/fuzz/seeds/$name
    [ -d "$seeds" ] || seeds=""
    echo "-- $name for ${seconds}s"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/$name-" "$corpus" $seeds >"$build/$name.log" 2>&1; then
        tail -n 40 "$build/$name.log"
        echo "FAILED: $name"
        status=1
    else
        grep -E 'stat::number_of_executed_units' "$build/$name.log" || true
    fi
done
exit $status
