# Environment and services for the tests; sourced by scripts/test.sh.
export QT_QPA_PLATFORM=offscreen

# The printing tests print through the local CUPS spooler on a queue whose driver (scripts/test-printer.ppd)
# takes custom page sizes and passes the spooler's PDF on unchanged, and whose device is a TCP socket on
# 127.0.0.1 where the tests receive each printed document. A raw queue, whose driver reports no
# resolution, checks the fallback resolution. A third queue like the first has a name GBK cannot hold
# (the spooler's names are UTF-8), for the printer list and the remembered printer. The spooler is
# started here only when it is not running, and stopped again only then; queues this script added are
# removed again.
export VORSA_TEST_PRINTER=vorsa-test
export VORSA_TEST_PRINTER_PORT=39109
export VORSA_TEST_PRINTER_NO_RESOLUTION=vorsa-test-raw
export VORSA_TEST_PRINTER_NON_GBK=vorsa-test-Köln
# Two test runs that print to the queue at once would take each other's documents: the tests with the
# label spooler run under `flock "$VORSA_TEST_PRINTER_LOCK"` (scripts/test.sh does).
export VORSA_TEST_PRINTER_LOCK=${VORSA_TEST_PRINTER_LOCK:-/tmp/vorsa-cups.lock}
vorsa_cupsd_pid=""
vorsa_added_queues=()
vorsa_scripts_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

vorsa_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
# lpadmin warns that drivers and raw queues are deprecated; the queues work all the same.
vorsa_lpadmin() { vorsa_as_root lpadmin "$@" 2> >(grep -v 'deprecated' >&2); }
# Starts a service in the background, as root, so that $! is the service (or the sudo in front of it).
# It keeps none of this shell's open files beyond its standard ones (sent to /dev/null): a caller's lock
# (the test queue's flock) or output pipe held by a service would outlive the caller.
vorsa_start_as_root() {
    (
        for fd in /proc/$BASHPID/fd/*; do
            fd=${fd##*/}
            if [ "$fd" -gt 2 ]; then eval "exec $fd>&-"; fi
        done
        if [ "$(id -u)" -eq 0 ]; then exec "$@"; else exec sudo "$@"; fi
    ) </dev/null >/dev/null 2>&1 &
}
# lpstat -r exits with 0 either way; only its text tells.
vorsa_spooler_running() { lpstat -r 2>/dev/null | grep -q 'is running'; }

start_print_spooler() {
    if ! vorsa_spooler_running; then
        vorsa_as_root mkdir -p /run/cups
        vorsa_start_as_root /usr/sbin/cupsd -f
        vorsa_cupsd_pid=$!
        for _ in $(seq 100); do vorsa_spooler_running && break; sleep 0.1; done
        if ! vorsa_spooler_running; then echo "test-env: cupsd did not start" >&2; return 1; fi
    fi
    local queue
    for queue in "$VORSA_TEST_PRINTER" "$VORSA_TEST_PRINTER_NO_RESOLUTION" "$VORSA_TEST_PRINTER_NON_GBK"; do
        lpstat -p "$queue" >/dev/null 2>&1 || vorsa_added_queues+=("$queue")
    done
    # Nobody listens between test runs: the device gives up after 5 s and the job is dropped, so a job
    # left over from an interrupted run never blocks the queue.
    vorsa_lpadmin -p "$VORSA_TEST_PRINTER" -E -v "socket://127.0.0.1:$VORSA_TEST_PRINTER_PORT/?contimeout=5&snmp=false" \
        -P "$vorsa_scripts_dir/test-printer.ppd" -o printer-error-policy=abort-job
    vorsa_lpadmin -p "$VORSA_TEST_PRINTER_NO_RESOLUTION" -E -v "socket://127.0.0.1:$VORSA_TEST_PRINTER_PORT" -m raw
    vorsa_lpadmin -p "$VORSA_TEST_PRINTER_NON_GBK" -E \
        -v "socket://127.0.0.1:$VORSA_TEST_PRINTER_PORT/?contimeout=5&snmp=false" \
        -P "$vorsa_scripts_dir/test-printer.ppd" -o printer-error-policy=abort-job
    cancel -a "$VORSA_TEST_PRINTER" 2>/dev/null || true
    cancel -a "$VORSA_TEST_PRINTER_NON_GBK" 2>/dev/null || true
}

stop_print_spooler() {
    local queue
    for queue in "${vorsa_added_queues[@]}"; do vorsa_lpadmin -x "$queue" || true; done
    vorsa_added_queues=()
    if [ -n "$vorsa_cupsd_pid" ]; then
        vorsa_as_root kill "$vorsa_cupsd_pid" 2>/dev/null || true
        wait "$vorsa_cupsd_pid" 2>/dev/null || true
        vorsa_cupsd_pid=""
    fi
}

# A spooler of the tests' own beside the shared one, for queue policies that differ from its
# configuration: a cupsd with its own configuration, spool and log directories in one temporary
# directory, listening only on a socket there. Its queues print to the same device as the test queue.
#   VORSA_TEST_POLICY_SERVER     its socket, as cupsSetServer and CUPS_SERVER take it
#   VORSA_TEST_PRINTER_HOLD_ALL  a queue that holds every job until someone releases it
#   VORSA_TEST_PRINTER_OPERATORS a queue on which only operators may hold and release jobs; the
#                                operators are the members of the group nogroup, and the user who runs
#                                the tests (root in CI) is none of them
vorsa_policy_dir=""
vorsa_policy_pid=""
start_policy_spooler() {
    vorsa_policy_dir=$(vorsa_as_root mktemp -d /tmp/vorsa-policy-cupsd.XXXXXX) || return 1
    local d=$vorsa_policy_dir
    # The filters run as the spooler's user lp, which must reach the spool directory.
    vorsa_as_root chmod 755 "$d"
    vorsa_as_root mkdir -p "$d/spool/tmp" "$d/cache" "$d/state" "$d/log"
    printf '%s\n' "ServerRoot $d" "RequestRoot $d/spool" "TempDir $d/spool/tmp" "CacheDir $d/cache" \
        "StateDir $d/state" "ServerBin /usr/lib/cups" "DataDir /usr/share/cups" \
        "AccessLog $d/log/access_log" "ErrorLog $d/log/error_log" "PageLog $d/log/page_log" \
        "Printcap $d/printcap" "PeerCred on" "SystemGroup nogroup" |
        vorsa_as_root tee "$d/cups-files.conf" >/dev/null
    # Anyone may do anything (lpadmin included), except on the operators' queue, where holding and
    # releasing a job takes an operator, as a shop's administrator may set it up.
    local policy_head='  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none'
    vorsa_as_root tee "$d/cupsd.conf" >/dev/null <<EOF
Listen $d/cups.sock
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType Basic
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
$policy_head
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
<Policy operators-release>
$policy_head
  <Limit Hold-Job Release-Job>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    vorsa_start_as_root /usr/sbin/cupsd -f -c "$d/cupsd.conf" -s "$d/cups-files.conf"
    vorsa_policy_pid=$!
    export VORSA_TEST_POLICY_SERVER=$d/cups.sock
    export VORSA_TEST_PRINTER_HOLD_ALL=vorsa-hold-all
    export VORSA_TEST_PRINTER_OPERATORS=vorsa-operators
    local device="socket://127.0.0.1:$VORSA_TEST_PRINTER_PORT/?contimeout=5&snmp=false"
    for _ in $(seq 100); do
        CUPS_SERVER=$VORSA_TEST_POLICY_SERVER lpstat -r 2>/dev/null | grep -q 'is running' && break
        sleep 0.1
    done
    if ! CUPS_SERVER=$VORSA_TEST_POLICY_SERVER vorsa_lpadmin -p "$VORSA_TEST_PRINTER_HOLD_ALL" -E \
        -v "$device" -P "$vorsa_scripts_dir/test-printer.ppd" -o printer-error-policy=abort-job \
        -o job-hold-until-default=indefinite ||
        ! CUPS_SERVER=$VORSA_TEST_POLICY_SERVER vorsa_lpadmin -p "$VORSA_TEST_PRINTER_OPERATORS" -E \
            -v "$device" -P "$vorsa_scripts_dir/test-printer.ppd" -o printer-error-policy=abort-job \
            -o printer-op-policy=operators-release; then
        echo "test-env: the tests' own cupsd did not start" >&2
        stop_policy_spooler
        return 1
    fi
}

stop_policy_spooler() {
    if [ -n "$vorsa_policy_pid" ]; then
        vorsa_as_root kill "$vorsa_policy_pid" 2>/dev/null || true
        wait "$vorsa_policy_pid" 2>/dev/null || true
        vorsa_policy_pid=""
    fi
    if [ -n "$vorsa_policy_dir" ]; then vorsa_as_root rm -rf "$vorsa_policy_dir"; fi
    vorsa_policy_dir=""
    unset VORSA_TEST_POLICY_SERVER VORSA_TEST_PRINTER_HOLD_ALL VORSA_TEST_PRINTER_OPERATORS
}

start_test_services() { start_print_spooler && start_policy_spooler; }
stop_test_services() {
    stop_policy_spooler
    stop_print_spooler
}

# The tests of a Windows build run under Wine (scripts/wine-run.sh, with the prefix PREFIX of the build
# tree), all with one Wine server: wine_server_start PREFIX makes the prefix when it is missing and starts
# a server for it that stays until wine_server_stop PREFIX ends it (without one, each program would wait
# about 3 s for a server of its own). Wine's background programs start with the server, from a program
# without the caller's output: started by a test, they would hold its output open, and CTest would wait.
wine_server_start() {
    bash "$vorsa_scripts_dir/wine-run.sh" "$1" --prepare
    # What the preparation left running stays only for seconds: it makes way for the kept server.
    wine_server_stop "$1"
    WINEPREFIX=$1 wineserver -p </dev/null >/dev/null 2>&1
    bash "$vorsa_scripts_dir/wine-run.sh" "$1" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
wine_server_stop() {
    if [ -d "$1" ]; then WINEPREFIX=$1 wineserver -k 2>/dev/null || true; fi
}
