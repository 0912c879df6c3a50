#!/usr/bin/env bash
# Installs every Debian 12 package the program, its tests and its benchmarks need.
# Packages already present are left alone, so a second run costs only the check.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config ccache
  # tests, fuzzing, benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format valgrind python3
  # QR round trips and comparison baselines
  zxing-cpp-tools libqrencode-dev libqrcodegencpp-dev
  # Qt edges: window, printing, network, web view, image formats
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-webengine-dev qt6-image-formats-plugins
  libgl-dev libgif-dev
  # the Song faces the receipt is set in: on the screen, and on the printed page (complete PDF text)
  fonts-noto-cjk fonts-arphic-uming
  # printing tests and pictures
  cups cups-client cups-bsd libcups2-dev printer-driver-cups-pdf poppler-utils xvfb xauth
  # the install-tree test's validators; what the Debian package's build and its check need
  appstream desktop-file-utils file lintian
  # the core and its tests built for 64-bit Windows (GoogleTest from its sources) and run under Wine;
  # the Windows packages' tools, for the installer's test
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64 nsis zip unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
