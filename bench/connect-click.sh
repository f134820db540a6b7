#!/usr/bin/env bash
# connect-click.sh: the time from a click on "Подключиться" to the first frame that shows
# the row connected, in the whole product inside the sandbox (simulated Mac): the daemon,
# the local vendor API and the client's real window, offscreen. The account and its peer
# are made through the window first (connect-click/tst_connectclick.qml, as in
# e2e_product); then tarvex-connectclick-bench starts the client as its main does and
# clicks, in the program's own event loop (the Qt Quick Test runner's waits would add up
# to 10 ms a step). 20 clicks after one that is not counted; prints the median and worst,
# and how they split between the client (the interface, VpnManager, its worker thread and
# the socket), the daemon's own work and the system commands it runs (the last two from
# the daemon's log, bench/connect-spans.awk). Needs root (the sandbox does).
#
#   bench/connect-click.sh [--build DIR]     (default: build/)
set -Eeuo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build

# --- inside the sandbox -------------------------------------------------------------------

inside() {
    # shellcheck source=../tests/e2e/lib.sh
    source "$repo/tests/e2e/lib.sh"
    start_vendor_api || exit 1
    start_daemon QT_MESSAGE_PATTERN='%{time process} %{message}' || exit 1
    if ! run_client "$TARVEX_E2E_QUICK" -input "$repo/bench/connect-click/tst_connectclick.qml" \
            || ! run_client "$build/bench/connect-click/tarvex-connectclick-bench"; then
        echo "$client_output"
        exit 1
    fi
    stop_daemon
    sed -n 's/^click \([0-9]*\) \([0-9]*\)$/\1 \2/p' <<<"$client_output" >"$WORK/clicks"
    # The first connect was the unmeasured click.
    awk -f "$repo/bench/connect-spans.awk" "$daemon_log" | tail -n +2 >"$WORK/spans"
    local runs
    runs=$(wc -l <"$WORK/clicks")
    [[ $runs -gt 0 && $(wc -l <"$WORK/spans") == "$runs" ]] \
        || { echo "$runs clicks, $(wc -l <"$WORK/spans") connects in the daemon's log"; exit 1; }

    echo "\"Подключиться\" to the connected row: $runs clicks (after one warm-up), simulated Mac"
    echo "machine: $(nproc) cores, Debian $(cat /etc/debian_version), load average $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    # click-to-frame, click-to-change, daemon total, commands, daemon own, client part
    paste -d' ' "$WORK/clicks" "$WORK/spans" | awk '{ print $1, $2, $3, $4, $5, $1 - $3 }' \
        >"$WORK/runs"
    printf '%-48s %9s %9s\n' "" median worst
    summary() { # LABEL COLUMN
        sort -n -k"$2,$2" "$WORK/runs" | awk -v label="$1" -v column="$2" '
            { values[NR] = $column }
            END { median = NR % 2 ? values[(NR + 1) / 2] : (values[NR / 2] + values[NR / 2 + 1]) / 2
                  printf "%-48s %6.1f ms %6.1f ms\n", label, median, values[NR] }'
    }
    summary "click to the first frame of the connected row" 1
    summary "  client (interface, VpnManager, socket, frame)" 6
    summary "  daemon, accepted to response" 3
    summary "    of which system commands and tunnel start" 4
    summary "    of which the daemon's own work" 5
    summary "click to the row's change (before its frame)" 2
}

# --- outside ------------------------------------------------------------------------------

if [[ ${1:-} == --inside ]]; then
    repo=$2 build=$3
    inside
    exit 0
fi

while (($#)); do
    case $1 in
        --build) build=$(cd "${2:?--build needs a folder}" && pwd); shift 2 ;;
        -h|--help) sed -n '2,13s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) echo "usage: bench/connect-click.sh [--build DIR]" >&2; exit 2 ;;
    esac
done
for program in service/TarvexVpnService tools/tarvexctl/tarvexctl tools/amneziawg-go/amneziawg-go \
               tools/vpnconfig-encode/vpnconfig-encode tools/vendor-api/tarvex-vendor-api \
               tests/quick/tarvex_quick_tests bench/connect-click/tarvex-connectclick-bench \
               tools/sandbox/tarvex-sandbox; do
    [[ -x $build/$program ]] || { echo "$build/$program is missing: build the project" >&2; exit 2; }
done

domain=$(sed -n 's/^TARVEX_VENDOR_DOMAIN:STRING=//p' "$build/CMakeCache.txt")
"$build/tools/sandbox/tarvex-sandbox" --hosts "$build/tools/sandbox/hosts.product" \
    --env TARVEX_E2E_DAEMON="$build/service/TarvexVpnService" \
    --env TARVEX_E2E_CTL="$build/tools/tarvexctl/tarvexctl" \
    --env TARVEX_E2E_AWG="$build/tools/amneziawg-go/amneziawg-go" \
    --env TARVEX_E2E_ENCODE="$build/tools/vpnconfig-encode/vpnconfig-encode" \
    --env TARVEX_E2E_DOMAIN="${domain:-tarvex.example}" \
    --env TARVEX_E2E_VENDOR_API="$build/tools/vendor-api/tarvex-vendor-api" \
    --env TARVEX_E2E_QUICK="$build/tests/quick/tarvex_quick_tests" \
    -- bash "$repo/bench/connect-click.sh" --inside "$repo" "$build"
