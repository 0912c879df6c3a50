#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it from the current directory, where it keeps
# its settings file dy.cfg.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$(nproc)"

# As root a build with a vendor server shows no notice page (the title picture stays): the web engine's
# sandbox cannot run as root, and the page is never shown without it.
cd "$here"
exec "$root/build/app/vorsa-receipt" "$@"
