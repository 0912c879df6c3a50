#!/usr/bin/env bash
# An X display of their own for the tests of the Windows build that open windows under Wine: CTest starts
# it before them and stops it after them (a fixture, tests/runtime/win32/CMakeLists.txt).
# Usage: scripts/wine-display.sh start FILE         starts Xvfb on a free display; FILE gets "NUMBER PID"
#        scripts/wine-display.sh stop FILE          stops the Xvfb that FILE names, removes FILE
#        scripts/wine-display.sh run FILE COMMAND…  runs COMMAND with VORSA_WINE_DISPLAY set to that display
#                                                   (scripts/wine-run.sh gives it to Wine as DISPLAY)
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: scripts/wine-display.sh start FILE | stop FILE | run FILE COMMAND [ARGUMENT ...]" >&2
    exit 2
fi
action=$1
file=$2
shift 2

stop() {
    [ -f "$file" ] || return 0
    local pid
    pid=$(cut -d' ' -f2 "$file")
    # Only an Xvfb of ours: the number may belong to another process after a reboot.
    if [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q '^Xvfb '; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$file"
}

case $action in
start)
    # A display left over from an interrupted run goes first.
    stop
    ready=$(mktemp)
    # Xvfb writes the number of the display it took once it accepts clients. It must not hold CTest's
    # output open, or CTest would wait for it.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        [ -s "$ready" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    number=$(tr -d '[:space:]' <"$ready")
    rm -f "$ready"
    if [ -z "$number" ]; then
        echo "wine-display.sh: Xvfb did not start" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    echo "$number $pid" >"$file"
    ;;
stop)
    stop
    ;;
run)
    if [ ! -f "$file" ]; then
        echo "wine-display.sh: no display started ($file)" >&2
        exit 1
    fi
    VORSA_WINE_DISPLAY=:$(cut -d' ' -f1 "$file")
    export VORSA_WINE_DISPLAY
    exec "$@"
    ;;
*)
    echo "wine-display.sh: unknown action $action" >&2
    exit 2
    ;;
esac
