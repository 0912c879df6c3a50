#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it from the current directory, where it keeps
# its settings file dy.cfg.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$(nproc)"

if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
cd "$here"
exec "$root/build/app/vorsa-receipt" "$@"
