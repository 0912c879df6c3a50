#!/usr/bin/env bash
# Builds the Debian package of the program in Release: build-package/vorsa-receipt_<version>_<arch>.deb.
# Its Depends come from the libraries the program links (dpkg-shlibdeps) plus the CUPS library (loaded
# at run time), the font and the Qt plugin listed in cmake/packaging.cmake. lintian checks the package
# and fails the script on any error.
# Install it with: sudo apt-get install ./build-package/vorsa-receipt_*.deb
# Usage: [VORSA_VENDOR_SERVER=http://host:port] scripts/package.sh [build directory, default build-package]
#        [VORSA_VENDOR_SERVER=http://host:port] scripts/package.sh --windows [options]
# Without VORSA_VENDOR_SERVER the program is built offline (it contacts no server). With --windows the
# Windows edition's zip and installer are built instead, by scripts/package-windows.sh (which takes the
# options).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --windows ]; then
    shift
    exec bash "$root/scripts/package-windows.sh" "$@"
fi
build_dir=${1:-$root/build-package}

bash "$root/scripts/install-deps.sh"
# Only the program goes into the package; tests and benchmarks are left out of this build.
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVORSA_BUILD_GUI=ON -DVORSA_BUILD_TESTS=OFF -DVORSA_BUILD_BENCH=OFF -DVORSA_BUILD_FUZZ=OFF \
    -DVORSA_SANITIZE=OFF -DVORSA_VENDOR_SERVER="${VORSA_VENDOR_SERVER:-}"
cmake --build "$build_dir" -j "$(nproc)" --target vorsa-receipt
(cd "$build_dir" && cpack -G DEB)

deb=$(ls -t "$build_dir"/vorsa-receipt_*.deb | head -n 1)
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
# Debian's package checker: any error fails the build; warnings and notes are shown.
lintian --fail-on error --info "$deb"
echo "$deb"
