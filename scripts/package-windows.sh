#!/usr/bin/env bash
# Builds the Windows edition's packages in Release with Debian's mingw-w64 and NSIS:
#   <out>/vorsa-receipt-<version>-windows-x64.zip        the program alone: one statically linked .exe
#   <out>/vorsa-receipt-<version>-setup-x64.exe          the installer (per user, no administrator rights;
#                                                        cmake/windows/vorsa-receipt.nsi says what it does)
# The program may import only DLLs that every Windows has: the imports are listed, and any other DLL (the
# MinGW C++ runtime, say) fails the script.
# Usage: [VORSA_VENDOR_SERVER=http://host:port] scripts/package-windows.sh [--target NAME] [--exe FILE]
#                                                                          [--out DIR] [build directory]
#   --target NAME  the CMake target of the program (default vorsa-receipt), built in the build directory
#                  (default build-package-win) with the mingw-w64 tool chain
#   --exe FILE     package this .exe as the program instead of building one
#   --out DIR      where the packages go (default: the build directory)
# Without VORSA_VENDOR_SERVER the program is built offline (it contacts no server).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=vorsa-receipt
exe=
out=
build_dir=
while [ $# -gt 0 ]; do
    case $1 in
        --target) target=$2; shift 2 ;;
        --exe) exe=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -*) echo "package-windows.sh: unknown option $1" >&2; exit 2 ;;
        *) build_dir=$1; shift ;;
    esac
done
build_dir=${build_dir:-$root/build-package-win}
out=${out:-$build_dir}
version=$(sed -n 's/^project(VorsaReceipt VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "package-windows.sh: no version in CMakeLists.txt" >&2; exit 1; }

triplet=x86_64-w64-mingw32
missing=()
for tool in $triplet-g++-posix:g++-mingw-w64-x86-64-posix $triplet-objdump:binutils-mingw-w64-x86-64 \
            $triplet-strip:binutils-mingw-w64-x86-64 makensis:nsis zip:zip; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ -z "$exe" ]; then
    # Only the program: tests and benchmarks are left out of this build.
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DVORSA_BUILD_TESTS=OFF -DVORSA_BUILD_BENCH=OFF -DVORSA_BUILD_FUZZ=OFF -DVORSA_SANITIZE=OFF \
        -DVORSA_VENDOR_SERVER="${VORSA_VENDOR_SERVER:-}"
    if ! cmake --build "$build_dir" -j "$(nproc)" --target "$target"; then
        echo "package-windows.sh: the target $target could not be built" >&2
        exit 1
    fi
    exe=$(find "$build_dir" -name "$target.exe" -not -path '*/CMakeFiles/*' | head -n 1)
    [ -n "$exe" ] || { echo "package-windows.sh: the build made no $target.exe" >&2; exit 1; }
fi
[ -f "$exe" ] || { echo "package-windows.sh: no such program: $exe" >&2; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/zip"
program=$stage/zip/vorsa-receipt.exe
$triplet-strip -o "$program" "$exe"

# The DLLs the program imports, each one Windows' own. (A 64-bit program of mingw-w64 uses the C runtime
# msvcrt.dll, part of Windows since Windows XP.)
windows_dlls="advapi32 bcrypt comctl32 comdlg32 crypt32 gdi32 gdiplus imm32 kernel32 msimg32 msvcrt ntdll
ole32 oleaut32 rpcrt4 secur32 shell32 shlwapi urlmon user32 userenv uxtheme version windowscodecs winhttp
wininet winmm winspool.drv ws2_32"
imports=$($triplet-objdump -p "$program" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | tr '[:upper:]' '[:lower:]' |
    LC_ALL=C sort -u)
echo "DLLs imported by vorsa-receipt.exe:"
foreign=0
for dll in $imports; do
    if tr ' ' '\n' <<<"$windows_dlls" | grep -qxF "${dll%.dll}"; then
        echo "  $dll"
    else
        echo "  $dll   <- not part of Windows"
        foreign=1
    fi
done
if [ "$foreign" -ne 0 ]; then
    echo "package-windows.sh: the program needs DLLs that Windows does not have; link it statically" >&2
    exit 1
fi

zip_file=$out/vorsa-receipt-$version-windows-x64.zip
rm -f "$zip_file"
(cd "$stage/zip" && zip -q -X "$zip_file" vorsa-receipt.exe)
installer=$out/vorsa-receipt-$version-setup-x64.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DPROGRAM="$program" -DOUTFILE="$installer" \
    "$root/cmake/windows/vorsa-receipt.nsi"
echo "$zip_file"
echo "$installer"
