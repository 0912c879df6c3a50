#!/usr/bin/env bash
# Takes docs/window.png, the README's picture of the window: the program runs under Xvfb (the xcb
# platform, as on a desktop) in a scratch directory holding a sample dy.cfg (ticked brands, shops,
# clerk, address); three product lines are typed in, "添加预览" is clicked, and the X server's pixels
# of the window are saved. Usage: bash scripts/screenshots.sh [build directory, default build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")

bash "$root/scripts/install-deps.sh"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target vorsa_window_screenshot

# The window's and the receipt's Chinese texts are set in the Noto CJK faces; without them the picture
# would show empty boxes.
for face in "Noto Sans CJK SC" "Noto Serif CJK SC"; do
    [ -n "$(fc-list "$face")" ] || { echo "screenshots: $face is not installed (fonts-noto-cjk)" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# dy.cfg is GBK with CRLF line ends, as the Windows version wrote it.
printf '%s\r\n' '[print]' 'pplist=耐克|阿迪达斯|新百伦|' 'dm=0,东方商场,新世界百货' 'yyy=张三' \
    'xsd=东方路1号' | iconv -f UTF-8 -t GBK > "$scratch/dy.cfg"

mkdir -p "$root/docs"
cd "$scratch"
LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 800x600x24" \
    "$build/app/vorsa_window_screenshot" "$root/docs/window.png"
echo "screenshots: wrote docs/window.png"
