#!/usr/bin/env bash
# Installs the build into a scratch root under /usr, as the Debian package does, and checks what a
# desktop needs of it: exactly the expected files, the program executable, each icon a PNG of the size
# its folder names, the compressed manual page, the copyright file and the changelog of this version,
# the desktop entry and the AppStream metainfo naming files that were installed, the metainfo's newest
# release being the project's version, and both files passing their validators (offline). Exits with 77 (skipped) when appstreamcli is missing.
# Usage: install_tree_test.sh <build dir> <scratch dir> <project version>
set -euo pipefail

build_dir=$1
scratch=$2
version=$3

command -v appstreamcli >/dev/null || { echo "appstreamcli missing (Debian package appstream)"; exit 77; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch"
"${CMAKE:-cmake}" --install "$build_dir" --prefix "$scratch/usr" >/dev/null
root=$scratch/usr

expected="bin/vorsa-receipt
share/applications/vorsa-receipt.desktop
share/doc/vorsa-receipt/changelog.gz
share/doc/vorsa-receipt/copyright
share/icons/hicolor/16x16/apps/vorsa-receipt.png
share/icons/hicolor/32x32/apps/vorsa-receipt.png
share/icons/hicolor/48x48/apps/vorsa-receipt.png
share/man/man1/vorsa-receipt.1.gz
share/metainfo/cn.vorsa.receipt.metainfo.xml"
installed=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
    fail "installed files differ from the expected layout:"
    diff <(echo "$expected") <(echo "$installed") || true
fi

program=$root/bin/vorsa-receipt
if [ ! -x "$program" ] || [ "$(od -An -tx1 -N4 "$program" | tr -d ' \n')" != 7f454c46 ]; then
    fail "bin/vorsa-receipt is not an executable ELF file"
fi

# PNG: 8-byte signature, then the IHDR chunk whose data starts with width and height, big-endian.
for size in 16 32 48; do
    icon=$root/share/icons/hicolor/${size}x${size}/apps/vorsa-receipt.png
    [ -f "$icon" ] || continue
    signature=$(od -An -tx1 -N8 "$icon" | tr -d ' \n')
    read -r width height < <(od -An -tu1 -j16 -N8 "$icon" |
        awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
    if [ "$signature" != 89504e470d0a1a0a ] || [ "$width" != "$size" ] || [ "$height" != "$size" ]; then
        fail "icon in ${size}x${size} is not a ${size}x${size} PNG (signature $signature, ${width}x${height})"
    fi
done

manual=$root/share/man/man1/vorsa-receipt.1.gz
if [ -f "$manual" ] && ! gzip -dc "$manual" | grep -q '^\.TH VORSA-RECEIPT 1 '; then
    fail "the manual page is not a gzip-compressed page of section 1"
fi

# Debian's changelog, compressed, whose newest entry is this version; the copyright file in the
# machine-readable format.
changelog=$root/share/doc/vorsa-receipt/changelog.gz
if [ -f "$changelog" ] && ! gzip -dc "$changelog" | head -n 1 | grep -qF "vorsa-receipt ($version) "; then
    fail "the changelog's newest entry is not version $version"
fi
copyright=$root/share/doc/vorsa-receipt/copyright
if [ -f "$copyright" ] && ! head -n 1 "$copyright" | grep -q '^Format: .*copyright-format/1.0/$'; then
    fail "the copyright file is not in the machine-readable format"
fi

desktop=$root/share/applications/vorsa-receipt.desktop
if [ -f "$desktop" ]; then
    key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
    icon_name=$(key Icon)
    [ -f "$root/share/icons/hicolor/48x48/apps/$icon_name.png" ] || fail "Icon=$icon_name names no installed icon"
    try_exec=$(key TryExec)
    [ -x "$root/bin/$try_exec" ] || fail "TryExec=$try_exec names no installed program"
    case "$(key Exec)" in
        *vorsa-receipt*) ;;
        *) fail "Exec= does not start vorsa-receipt" ;;
    esac
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "note: desktop-file-validate missing (Debian package desktop-file-utils); entry not validated"
    fi
fi

metainfo=$root/share/metainfo/cn.vorsa.receipt.metainfo.xml
if [ -f "$metainfo" ]; then
    element() { sed -n "s|.*<$1[^>]*>\([^<]*\)</$1>.*|\1|p" "$metainfo" | head -n 1; }
    launchable=$(element launchable)
    [ -f "$root/share/applications/$launchable" ] || fail "launchable $launchable is not installed"
    binary=$(element binary)
    [ -x "$root/bin/$binary" ] || fail "provided binary $binary is not installed"
    release=$(sed -n 's|.*<release[^>]* version="\([^"]*\)".*|\1|p' "$metainfo" | head -n 1)
    [ "$release" = "$version" ] || fail "newest release in the metainfo is '$release', the project is $version"
    appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli validate rejects the metainfo"
    appstreamcli validate-tree --no-net --explain "$scratch" || fail "appstreamcli validate-tree rejects the tree"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "install tree as expected: $(echo "$installed" | wc -l) files, validators pass"
