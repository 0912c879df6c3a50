#!/usr/bin/env bash
# Runs a command with an X display for the windows of a Windows program under Wine: the one named in
# VORSA_WINE_DISPLAY when it is set, else an Xvfb server of its own on the first free display number,
# stopped when the command ends. scripts/wine-run.sh hands VORSA_WINE_DISPLAY to Wine as DISPLAY.
# Usage: scripts/with-xvfb.sh COMMAND [ARGUMENT ...]    exits with the command's exit code
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: scripts/with-xvfb.sh COMMAND [ARGUMENT ...]" >&2
    exit 2
fi
if [ -n "${VORSA_WINE_DISPLAY:-}" ]; then
    exec "$@"
fi

number_file=$(mktemp)
# -displayfd: Xvfb picks a free number itself and writes it once it accepts connections.
Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 5>"$number_file" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$number_file"' EXIT
for _ in $(seq 300); do
    [ -s "$number_file" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
number=$(head -n 1 "$number_file")
if [ -z "$number" ]; then
    echo "with-xvfb.sh: no X server could be started" >&2
    exit 1
fi
status=0
VORSA_WINE_DISPLAY=:$number "$@" || status=$?
exit "$status"
