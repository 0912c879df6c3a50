#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, with a Wine prefix of its own: CTest's emulator for the
# tests of a Windows build (CMAKE_CROSSCOMPILING_EMULATOR, set in CMakeLists.txt to the build tree's
# "wineprefix"), and how scripts/test.sh prepares that prefix.
# Usage: scripts/wine-run.sh PREFIX PROGRAM [ARGUMENT ...]   runs PROGRAM, exits with its exit code
#        scripts/wine-run.sh PREFIX --prepare                only makes the prefix
# The prefix is made at its first use, once (under a lock), in about 20 s. A Wine server is started
# when none runs for the prefix (about 3 s) and stays for 30 s after the last program, so a test run
# starts one for all its programs; scripts/test.sh ends it after the suite (scripts/test-env.sh).
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: scripts/wine-run.sh PREFIX PROGRAM [ARGUMENT ...] | PREFIX --prepare" >&2
    exit 2
fi
prefix=$1
shift
# Wine's services (services.exe, winedevice.exe, ...) outlive the program when it starts them, and take
# its open files along: a lock the caller holds (flock around the spooler tests) would stay held by them
# as long as the Wine server runs. Only the standard streams go on to Wine (255 is bash's own).
for fd in /proc/$$/fd/*; do
    fd=${fd##*/}
    if [ "$fd" -gt 2 ] && [ "$fd" -ne 255 ]; then eval "exec $fd>&-"; fi
done

export WINEPREFIX=$prefix WINEDEBUG=-all
# Neither Mono nor Gecko nor menu entries: the tests need none of them, and making the prefix would
# otherwise install or ask for them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# No window system: the programs are console programs, and a display would only slow Wine's start. The
# tests of the window are given an X display of their own in VORSA_WINE_DISPLAY (scripts/wine-display.sh or
# scripts/with-xvfb.sh).
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${VORSA_WINE_DISPLAY:-}" ]; then export DISPLAY=$VORSA_WINE_DISPLAY; fi
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINELOADER=$wine

ready=$prefix/.vorsa-prefix-ready
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -e "$ready" ]; then
        "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
        touch "$ready"
    fi
    # A Wine server for the prefix that stays for 30 s after its last program, so that the next program
    # need not start one; and Wine's background programs (services), started here without the caller's
    # output: started by a test program, they would keep its output open, and CTest would wait for them.
    # Neither may keep the lock's descriptor either.
    if WINEPREFIX=$prefix wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.lock"
[ "$1" = --prepare ] && exit 0
# Wine starts its services (services.exe, winedevice.exe, ...) with the first program of a session, and
# they keep that program's standard streams for as long as the server runs: CTest, reading a test's
# output to its end, would wait for them forever. A session without them is begun by a program of no
# output first.
session_running() {
    local pid
    for pid in $(pgrep -x services.exe); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && return 0
    done
    return 1
}
if ! session_running; then "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true; fi
if [ -n "${VORSA_WINE_FILE_SIZE_LIMIT_KB:-}" ]; then
    # A disk that fills up, for the program only: its files may not grow beyond the limit, and a write
    # beyond it fails (instead of the signal that would end the program).
    trap '' XFSZ
    ulimit -f "$VORSA_WINE_FILE_SIZE_LIMIT_KB"
fi
exec "$wine" "$@"
