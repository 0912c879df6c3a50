#!/usr/bin/env bash
# The Windows edition's benchmarks under Wine (bench/windows; figures in bench/README.md, "Windows
# edition under Wine"), each against its baseline in the same run:
#   start-up of vorsa-receipt.exe (offline) against the bare dialog made from the same template 1000, to a
#   window ready for input, with the peak working set and private bytes then;
#   a press of "开始打印" against the least GDI program printing the same page.
# Builds them in a Windows tree with -DVORSA_BUILD_BENCH=ON (BUILD_DIR, default build-win), in a Wine
# prefix of their own (BUILD_DIR/wineprefix-bench), on an X display of their own (scripts/with-xvfb.sh,
# or the one VORSA_WINE_DISPLAY names). Printing goes to a queue "vorsa-bench" on a CUPS spooler the
# script starts for itself (its own directory and socket, stopped at the end): the receipt's 120 x 140
# mm paper named as in scripts/test-printer.ppd, PostScript taken as it comes, the output thrown away
# (file:///dev/null), so a job costs the spooler next to nothing after the press.
# Usage: scripts/bench-windows.sh [--experiments] [start-ups of each, default 30] [presses of each, default 30]
# (0 leaves that benchmark out). --experiments adds start-up rows that find where the program's start
# goes: the bare dialog loading the program's further DLLs, decoding its pictures through WIC, listing
# the printers, listing them on a thread of their own as the program does
# (bench/windows/startup_bare_dialog.cpp), and the first three together.
#        scripts/bench-windows.sh --map
# prints instead where the program's memory goes beyond the bare dialog's: each is started once and,
# when settled (5 s), its resident memory read from /proc/PID/smaps (under Wine a Windows process is a
# Linux process), summed per mapped file and for anonymous memory, and the differences listed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
experiments=0
map=0
if [ "${1:-}" = --experiments ]; then
    experiments=1
    shift
elif [ "${1:-}" = --map ]; then
    map=1
    shift
fi
starts=${1:-30}
presses=${2:-30}
build=${BUILD_DIR:-$root/build-win}
prefix=$build/wineprefix-bench

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DVORSA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target windows_startup_bench windows_print_bench vorsa-receipt
# The programs start as the packages ship them, stripped: Wine reads a program's debugging sections into
# its memory at start (12.5 MB more private memory for a RelWithDebInfo build of the program), where
# Windows maps them without reading them.
stripped=$build/bench/windows/stripped
mkdir -p "$stripped"
x86_64-w64-mingw32-strip -o "$stripped/startup_bare_dialog.exe" "$build/bench/windows/startup_bare_dialog.exe"
x86_64-w64-mingw32-strip -o "$stripped/vorsa-receipt.exe" "$build/app/vorsa-receipt.exe"

spooler=$(mktemp -d /tmp/vorsa-bench-cupsd.XXXXXX)
cupsd_pid=""
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    if [ -n "$cupsd_pid" ]; then
        kill "$cupsd_pid" 2>/dev/null || true
        wait "$cupsd_pid" 2>/dev/null || true
    fi
    rm -rf "$spooler"
}
trap cleanup EXIT

# The spooler's filters run as its user lp, which must reach the spool directory.
chmod 755 "$spooler"
mkdir -p "$spooler/spool/tmp" "$spooler/cache" "$spooler/state" "$spooler/log" "$spooler/ppd"
printf '%s\n' "ServerRoot $spooler" "RequestRoot $spooler/spool" "TempDir $spooler/spool/tmp" \
    "CacheDir $spooler/cache" "StateDir $spooler/state" "ServerBin /usr/lib/cups" "DataDir /usr/share/cups" \
    "AccessLog $spooler/log/access_log" "ErrorLog $spooler/log/error_log" "PageLog $spooler/log/page_log" \
    "Printcap $spooler/printcap" "FileDevice Yes" >"$spooler/cups-files.conf"
printf '%s\n' "Listen $spooler/cups.sock" "LogLevel warn" "Browsing No" "WebInterface No" \
    "<Location />" "  Order allow,deny" "  Allow all" "</Location>" >"$spooler/cupsd.conf"
sed -e 's|^\*cupsFilter2: .*|*cupsFilter2: "application/postscript application/postscript 0 -"|' \
    -e 's|^\*NickName: .*|*NickName: "Vorsa benchmark printer, PostScript"|' \
    "$root/scripts/test-printer.ppd" >"$spooler/ppd/vorsa-bench.ppd"
/usr/sbin/cupsd -f -c "$spooler/cupsd.conf" -s "$spooler/cups-files.conf" >/dev/null 2>&1 &
cupsd_pid=$!
export CUPS_SERVER=$spooler/cups.sock
for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q 'is running' && break
    sleep 0.1
done
lpadmin -p vorsa-bench -E -v file:///dev/null -P "$spooler/ppd/vorsa-bench.ppd" 2> >(grep -v deprecated >&2)

wine_run() { bash "$root/scripts/wine-run.sh" "$prefix" "$@"; }
# Resident kB of a settled start of the program $1 (a Linux path), as lines "kB anonymous-kB mapping".
resident_map() {
    local folder pid
    folder=$(mktemp -d)
    (cd "$folder" && exec bash "$root/scripts/wine-run.sh" "$prefix" "$1") &
    sleep 5
    pid=$(pgrep -n -f "^$1") || { echo "resident_map: $1 did not start" >&2; return 1; }
    awk '/^[0-9a-f]+-[0-9a-f]+ /{name = $6 == "" ? "[anonymous]" : $6}
         /^Rss:/{rss[name] += $2} /^Anonymous:/{anon[name] += $2}
         END {for (n in rss) if (rss[n] > 0) print rss[n], anon[n], n}' "/proc/$pid/smaps"
    kill "$pid"
    wait
    rm -rf "$folder"
}
memory_map() {
    wine_run --prepare
    resident_map "$stripped/startup_bare_dialog.exe" >"$stripped/bare.map"
    resident_map "$stripped/vorsa-receipt.exe" >"$stripped/program.map"
    echo "==== Resident memory of the program beyond the bare dialog's, per mapping (kB)"
    echo "resident anonymous mapping"
    # Each image is named after its program; they compare as one row.
    sed -i 's|/startup_bare_dialog.exe$|/(program)|; s|/vorsa-receipt.exe$|/(program)|' \
        "$stripped/bare.map" "$stripped/program.map"
    awk 'NR == FNR {rss[$3] -= $1; anon[$3] -= $2; next} {rss[$3] += $1; anon[$3] += $2}
         END {for (n in rss) if (rss[n] != 0 || anon[n] != 0) print rss[n], anon[n], n}' \
        "$stripped/bare.map" "$stripped/program.map" | sort -rn | awk '{r += $1; a += $2; print} END {print r, a, "(total)"}'

}
bench() {
    if [ "$map" -eq 1 ]; then
        memory_map
        return
    fi
    local status=0
    wine_run --prepare
    if [ "$starts" -gt 0 ]; then
        echo "==== Start-up to a window ready for input, and memory then"
        local bare=$stripped/startup_bare_dialog.exe
        local rows=("bare dialog=$bare" "program=$stripped/vorsa-receipt.exe")
        if [ "$experiments" -eq 1 ]; then
            local pictures="--pictures=Z:${root//\//\\}\\resources"
            rows+=("bare + imports=$bare --imports" "bare + pictures=$bare $pictures"
                "bare + printers=$bare --printers" "bare + printer thread=$bare --printer-thread"
                "bare + all three=$bare --imports $pictures --printers")
        fi
        wine_run "$build/bench/windows/windows_startup_bench.exe" "$starts" "${rows[@]}" || status=1
        echo
    fi
    if [ "$presses" -gt 0 ]; then
        echo "==== A press of the print button against the least GDI program printing the same page"
        wine_run "$build/bench/windows/windows_print_bench.exe" vorsa-bench "$presses" || status=1
    fi
    return "$status"
}
export -f bench wine_run resident_map memory_map
export root build prefix starts presses experiments map stripped
status=0
bash "$root/scripts/with-xvfb.sh" bash -c bench || status=$?
if [ "$map" -eq 0 ] && [ "$presses" -gt 0 ]; then
    # Every press, warm-up rounds included, has to have gone through the spooler.
    for _ in $(seq 100); do [ -z "$(lpstat -o vorsa-bench 2>/dev/null)" ] && break; sleep 0.1; done
    echo "jobs the spooler completed: $(lpstat -W completed -o vorsa-bench | wc -l) of $((2 * (presses + 2)))"
fi
exit "$status"
