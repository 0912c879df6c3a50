#!/usr/bin/env bash
# The Windows packages under Wine. Builds them with scripts/package-windows.sh around a given program,
# then checks: the zip holds the one .exe; the DLL check refuses a program that needs a DLL Windows does
# not have; the installer asks for no administrator rights; a silent install (/S) puts the program and
# the uninstaller in %LOCALAPPDATA%\Programs\Vorsa, the Start-menu entry (its target the program, its
# working folder %APPDATA%\Vorsa) and the uninstall entry in the user's registry; the entry starts the
# program in that folder, and the program writes dy.cfg there when the user presses the shop's "X" (the
# window driver presses it and closes the window); a silent uninstall removes the program, the
# uninstaller, the entry and the registry key, and leaves dy.cfg byte for byte, in the working folder and
# next to the program alike.
# Needs an X display for the program's window (VORSA_WINE_DISPLAY, as scripts/with-xvfb.sh gives it).
# Usage: windows_installer_test.sh <source dir> <program .exe> <window driver .exe> <scratch dir> <Wine prefix>
set -euo pipefail

source_dir=$1
program=$2
driver=$3
scratch=$4
prefix=$5
export WINEPREFIX=$prefix
# Wine keeps the prefix's file names on the host in the host locale's character set: the Start-menu
# entry's Chinese name needs a UTF-8 one, whatever locale (installed or not) the caller names. Wine's
# ANSI code page stays 1252 with it, that of a Western machine.
export LC_ALL=C.UTF-8

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wine_run() { bash "$source_dir/scripts/wine-run.sh" "$prefix" "$@"; }
# Every process of the prefix has ended and the registry is on disk (the prefix is this test's own, so
# no kept server stands in the way).
wine_settle() { timeout 120 wineserver -w; }

rm -rf "$scratch"
mkdir -p "$scratch"
bash "$source_dir/scripts/package-windows.sh" --exe "$program" --out "$scratch/out" >"$scratch/package.log" 2>&1 ||
    { cat "$scratch/package.log"; echo "FAIL: packaging"; exit 1; }
zip_file=$(ls "$scratch"/out/vorsa-receipt-*-windows-x64.zip)
installer=$(ls "$scratch"/out/vorsa-receipt-*-setup-x64.exe)

[ "$(unzip -Z1 "$zip_file")" = vorsa-receipt.exe ] || fail "the zip holds more or less than vorsa-receipt.exe"
unzip -p "$zip_file" vorsa-receipt.exe >"$scratch/program.exe"
grep -q '^  kernel32.dll$' "$scratch/package.log" || fail "the DLL imports are not listed"

# A DLL of the MinGW C++ runtime imports further MinGW DLLs: packaging it as the program must fail.
foreign=$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)
if [ -f "$foreign" ]; then
    if bash "$source_dir/scripts/package-windows.sh" --exe "$foreign" --out "$scratch/foreign" >"$scratch/foreign.log" 2>&1; then
        fail "a program needing libgcc_s/libwinpthread DLLs was packaged"
    fi
    grep -q 'not part of Windows' "$scratch/foreign.log" || fail "the foreign DLL is not named"
fi

grep -aq 'requestedExecutionLevel level="asInvoker"' "$installer" ||
    fail "the installer does not run with the user's own rights"

wine_run --prepare
user_dir=$prefix/drive_c/users/$(id -un)
[ -d "$user_dir" ] || { echo "FAIL: no Wine user folder $user_dir"; exit 1; }
install_dir=$user_dir/AppData/Local/Programs/Vorsa
work_dir=$user_dir/AppData/Roaming/Vorsa
shortcut="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Vorsa小票打印系统.lnk"
windows_user="C:\\users\\$(id -un)"
# As the registry file writes it, with doubled backslashes.
key='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VorsaReceipt]'
# What an earlier run may have left.
rm -rf "$install_dir" "$work_dir" "$shortcut"

wine_run "$installer" /S || fail "the installer ended with $?"
wine_settle
cmp -s "$install_dir/vorsa-receipt.exe" "$scratch/program.exe" || fail "the installed program is not the packaged one"
[ -f "$install_dir/uninstall.exe" ] || fail "no uninstaller"
[ -d "$work_dir" ] || fail "the working folder was not made"
grep -qF "$key" "$prefix/user.reg" || fail "no uninstall entry in the user's registry"
[ -f "$shortcut" ] || fail "no Start-menu entry"

if [ -f "$shortcut" ]; then
    # The entry's target and working folder, read from the shell link format (MS-SHLLINK).
    link=$(python3 - "$shortcut" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags = struct.unpack_from("<I", data, 20)[0]
pos = 76
if flags & 0x1:  # HasLinkTargetIDList
    pos += 2 + struct.unpack_from("<H", data, pos)[0]
target = ""
if flags & 0x2:  # HasLinkInfo: the local base path, in Unicode when the header has room for it
    info = pos
    header = struct.unpack_from("<I", data, info + 4)[0]
    if header >= 0x24:
        start = info + struct.unpack_from("<I", data, info + 28)[0]
        end = start
        while data[end:end + 2] != b"\0\0":
            end += 2
        target = data[start:end].decode("utf-16-le")
    else:
        start = info + struct.unpack_from("<I", data, info + 16)[0]
        target = data[start:data.index(b"\0", start)].decode("latin-1")
    pos += struct.unpack_from("<I", data, info)[0]
strings = {}
unicode = bool(flags & 0x80)
for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "working"), (0x20, "arguments"), (0x40, "icon")):
    if flags & bit:
        count = struct.unpack_from("<H", data, pos)[0]
        size = count * (2 if unicode else 1)
        strings[name] = data[pos + 2:pos + 2 + size].decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
        pos += 2 + size
print(target)
print(strings.get("working", ""))
PY
)
    target=$(sed -n 1p <<<"$link")
    working=$(sed -n 2p <<<"$link")
    expected_target="$windows_user\\AppData\\Local\\Programs\\Vorsa\\vorsa-receipt.exe"
    expected_working="$windows_user\\AppData\\Roaming\\Vorsa"
    [ "${target,,}" = "${expected_target,,}" ] || fail "the entry starts '$target', not '$expected_target'"
    [ "${working,,}" = "${expected_working,,}" ] || fail "the entry's working folder is '$working', not '$expected_working'"

    # Started from the entry, the program runs in the working folder. Pressing the shop's "X" there
    # writes "dm" (the selected shop, 0 with none) to dy.cfg, in the folder it was started in.
    version=$(sed -n 's/^project(VorsaReceipt VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
    remove_shop_button=1031
    wine_run start /unix "$shortcut" || fail "the entry did not start the program"
    wine_run "$driver" "Vorsa小票打印系统 $version" "$remove_shop_button" ||
        fail "the program's window could not be used and closed"
    wine_settle
    if [ -f "$work_dir/dy.cfg" ]; then
        grep -q $'^dm=0\r$' "$work_dir/dy.cfg" || fail "dy.cfg in the working folder lacks dm=0: $(od -c "$work_dir/dy.cfg" | head -5)"
    else
        fail "started from the entry, the program wrote no dy.cfg in the working folder"
    fi
    [ ! -e "$install_dir/dy.cfg" ] || fail "started from the entry, the program wrote dy.cfg next to itself"
fi

# A dy.cfg of the user's in both places the uninstaller could reach.
printf '[print]\r\nyyy=\xd5\xc5\xc8\xfd\r\n[ls]\r\nls=|*|\xc5\xdc\xd0\xac|42|399.00\r\n' >"$scratch/dy.cfg"
cp "$scratch/dy.cfg" "$work_dir/dy.cfg"
cp "$scratch/dy.cfg" "$install_dir/dy.cfg"

wine_run "$install_dir/uninstall.exe" /S || fail "the uninstaller ended with $?"
wine_settle # the uninstaller finishes in a copy of itself
for gone in "$install_dir/vorsa-receipt.exe" "$install_dir/uninstall.exe" "$shortcut"; do
    [ ! -e "$gone" ] || fail "left after uninstalling: $gone"
done
if grep -qF "$key" "$prefix/user.reg"; then fail "the uninstall entry is still in the registry"; fi
cmp -s "$work_dir/dy.cfg" "$scratch/dy.cfg" || fail "dy.cfg in the working folder was removed or changed"
cmp -s "$install_dir/dy.cfg" "$scratch/dy.cfg" || fail "dy.cfg next to the program was removed or changed"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "installer checks passed"
