# shellcheck shell=bash disable=SC2034,SC2119,SC2120  # used by the scripts sourcing it
# Shared helpers of the end-to-end scenarios (e2e_*.sh), in the sandbox with TARVEX_E2E_*.

# No "cmd | grep -q" in the checks: grep -q may leave before cmd has written everything,
# and with pipefail cmd's SIGPIPE would turn a match into a failure.
set -uo pipefail

[[ ${TARVEX_SANDBOX:-} == 1 ]] || { echo "the end-to-end scenarios run only inside the sandbox"; exit 2; }
: "${TARVEX_E2E_DAEMON:?}" "${TARVEX_E2E_CTL:?}" "${TARVEX_E2E_AWG:?}" "${TARVEX_E2E_ENCODE:?}" "${TARVEX_E2E_DOMAIN:?}"

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly E2E_DIR AWG_DIR=${TARVEX_E2E_AWG%/*}
readonly WORK=/tmp/tarvex-e2e DOMAIN=$TARVEX_E2E_DOMAIN SIM_LOG=$TARVEX_SIM_STATE/log
readonly FULL=$WORK/full-tunnel.vpn
mkdir -p "$WORK"
"$TARVEX_E2E_ENCODE" "$E2E_DIR/fixtures/full-tunnel.json" >"$FULL" || exit 2

# The simulated Mac as seeded, and the addresses of the e2e hosts seed (tests/e2e/hosts.in).
readonly GATEWAY=192.168.1.1 SERVER=198.51.100.10
readonly DOMAIN_ROUTES=("route inet 203.0.113.20 gateway $GATEWAY en0"
                        "route inet 203.0.113.21 gateway $GATEWAY en0")
readonly SERVER_ROUTE="route inet $SERVER gateway $GATEWAY en0"
readonly TUNNEL_DNS="10.8.0.1 10.8.0.2"

# shellcheck source=../checks.sh
source "$E2E_DIR/../checks.sh"
scenario="" scenario_failures=0

fail() {
    echo "FAIL [$scenario]: $*"
    failures=$((failures + 1))
    scenario_failures=$((scenario_failures + 1))
}

# run_scenarios NAME...: scenario_NAME for each on a running daemon, its log after a failure.
run_scenarios() {
    local name started
    for name in "$@"; do
        scenario=$name
        scenario_failures=0
        started=$(now_ms)
        [[ -n $daemon_pid ]] || start_daemon
        "scenario_$name"
        echo "$( ((scenario_failures)) && echo FAILED || echo ok) $name ($(($(now_ms) - started)) ms)"
        ((scenario_failures)) && [[ -f $daemon_log ]] && tail -n 40 "$daemon_log"
    done
    stop_daemon
    finish
}

daemon_pid="" daemon_log="" daemon_count=0

# up_or_gone PID CMD...: CMD succeeds, or the process PID is gone (and never will).
up_or_gone() {
    "${@:2}" >/dev/null 2>&1 || ! kill -0 "$1" 2>/dev/null
}

# start_daemon [--cwd DIR] [NAME=VALUE...]: a fresh daemon answering, from DIR, with NAMEs.
start_daemon() {
    local cwd=$AWG_DIR
    [[ ${1:-} != --cwd ]] || { cwd=$2; shift 2; }
    stop_daemon
    daemon_log=$WORK/daemon.$((++daemon_count)).log
    daemon_log_mark=0
    (cd "$cwd" && exec env "$@" "$TARVEX_E2E_DAEMON") >"$daemon_log" 2>&1 &
    daemon_pid=$!
    wait_for 100 0.05 up_or_gone "$daemon_pid" "$TARVEX_E2E_CTL" status \
        && kill -0 "$daemon_pid" 2>/dev/null && return 0
    fail "the daemon did not start"
    return 1
}

# stop_daemon [SIGNAL]: SIGTERM (as launchd stops it) or SIGNAL; daemon_status is its exit.
stop_daemon() {
    daemon_status=""
    [[ -n $daemon_pid ]] || return 0
    kill "-${1:-TERM}" "$daemon_pid" 2>/dev/null
    wait "$daemon_pid" 2>/dev/null
    daemon_status=$?
    daemon_pid=""
}

daemon_logged() {
    grep -qF -- "$1" <<<"$(tail -n "+$((daemon_log_mark + 1))" "$daemon_log")"
}

# expect_daemon_log TEXT [TRIES]: the daemon logged TEXT since the snapshot (TRIES × 20 ms).
expect_daemon_log() {
    wait_for "${2:-1}" 0.02 daemon_logged "$1" || fail "daemon log has no line with: $1"
}

# start_vendor_api: tarvex-vendor-api on a free port with fresh data; vendor_api_root is its URL.
start_vendor_api() {
    rm -rf "$WORK/vendor-api"
    : >"$WORK/vendor-api.out"
    "${TARVEX_E2E_VENDOR_API:?}" --port 0 --data "$WORK/vendor-api" --cheap-password-hashing \
        >"$WORK/vendor-api.out" 2>"$WORK/vendor-api.log" &
    wait_for 100 0.05 up_or_gone $! grep -q '^listening on ' "$WORK/vendor-api.out"
    vendor_api_root=$(sed -n 's/^listening on //p' "$WORK/vendor-api.out")
    [[ -n $vendor_api_root ]] && return 0
    fail "the vendor API did not start: $(cat "$WORK/vendor-api.log")"
    return 1
}

# run_client PROGRAM ARG...: a client offscreen on the vendor API; client_output its words.
run_client() {
    client_output=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$WORK/client \
        TARVEX_QUICK_REAL_VPN_MANAGER=1 TARVEX_API_URL="$vendor_api_root/api/v1" \
        TARVEX_WEBSITE_URL="$vendor_api_root" "$@" 2>&1)
}

ctl() {
    ctl_output=$("$TARVEX_E2E_CTL" "$@" 2>&1)
    ctl_status=$?
}

connect() {
    ctl connect "$FULL" "$@"
}

# as_user UID CMD...: CMD as UID with its own group and no other, as any local user runs.
as_user() {
    setpriv --reuid="$1" --regid="$1" --clear-groups -- "${@:2}"
}

ctl_as() {
    ctl_output=$(as_user "$1" "$TARVEX_E2E_CTL" "${@:2}" 2>&1)
    ctl_status=$?
}

connected() {
    connect "$@"
    expect_connected
}

# expect_reply EXIT TEXT: tarvexctl's last run (ctl) returned EXIT and printed exactly TEXT.
expect_reply() {
    [[ $ctl_status == "$1" && $ctl_output == "$2" ]] \
        || fail "expected (exit $1) \"$2\", got (exit $ctl_status): $ctl_output"
}
expect_connected() { expect_reply 0 "status: connected"; }
expect_disconnected() { expect_reply 0 "status: disconnected"; }
expect_error() { expect_reply 1 "status: error"$'\n'"error: $1"; }

disconnect_restored() {
    ctl disconnect
    expect_disconnected
    expect_restored
}

expect_legitimate_cycle() {
    snapshot
    connected
    disconnect_restored
}

system_state() {
    tarvex-macos dump
    stat -c 'hosts file %a %u:%g' /etc/hosts
}

snapshot() {
    system_state >"$WORK/before.dump"
    cp /etc/hosts "$WORK/before.hosts"
    daemon_log_mark=$(wc -l <"$daemon_log")
    # The stand-ins create their log at their first run.
    sim_log_mark=$(cat "$SIM_LOG" 2>/dev/null | wc -l)
}

tunnel_running() {
    pgrep -x amneziawg-go >/dev/null
}

# expect_restored: the system is exactly as at the last snapshot, no tunnel program runs.
expect_restored() {
    local now
    now=$(system_state)
    [[ $now == "$(cat "$WORK/before.dump")" ]] \
        || fail "the simulated Mac differs from before:"$'\n'"$(diff "$WORK/before.dump" <(echo "$now"))"
    cmp -s "$WORK/before.hosts" /etc/hosts \
        || fail "/etc/hosts differs from before:"$'\n'"$(diff "$WORK/before.hosts" /etc/hosts | cat -A)"
    ! tunnel_running || fail "amneziawg-go still runs: $(pgrep -a amneziawg-go)"
}

# The tunnel interface that is not in the snapshot (empty when there is none).
tunnel_interface() {
    comm -13 <(grep '^interface ' "$WORK/before.dump" | sort) \
             <(tarvex-macos dump | grep '^interface ' | sort) | awk '{print $2}'
}

# expect_routes LINE...: the routing table is the snapshot's plus exactly these lines.
expect_routes() {
    local actual expected
    actual=$(tarvex-macos dump | grep '^route ' | sort)
    expected=$( (grep '^route ' "$WORK/before.dump"; printf '%s\n' "$@") | sort)
    [[ $actual == "$expected" ]] \
        || fail "routes differ (< expected, > actual):"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
}

# expect_full_tunnel_routes: both halves into the tunnel, server and API host via en0.
expect_full_tunnel_routes() {
    local utun
    utun=$(tunnel_interface)
    expect_routes "$SERVER_ROUTE" "${DOMAIN_ROUTES[@]}" \
        "route inet 0.0.0.0/1 interface $utun" "route inet 128.0.0.0/1 interface $utun" \
        "route inet6 ::/1 interface $utun" "route inet6 8000::/1 interface $utun"
}

expect_dns_servers() {
    [[ $(tarvex-macos dump | grep '^service ') == "service Wi-Fi enabled dns $1
service Ethernet enabled dns $1
service 'Thunderbolt Bridge' disabled dns -" ]] || fail "DNS servers: $(tarvex-macos dump | grep '^service ')"
}

# expect_hosts_pinned: /etc/hosts is the snapshot's with the daemon's block at its end.
expect_hosts_pinned() {
    local expected=$WORK/expected.hosts
    cp "$WORK/before.hosts" "$expected"
    printf '# BEGIN TARVEX_VPN_CLIENT\n203.0.113.20\t%s\n203.0.113.21\t%s\n# END TARVEX_VPN_CLIENT\n' \
        "$DOMAIN" "$DOMAIN" >>"$expected"
    cmp -s "$expected" /etc/hosts \
        || fail "pinned /etc/hosts (< expected, > actual):"$'\n'"$(diff "$expected" /etc/hosts | cat -A)"
}

# knobs RULE...: the stand-ins' failure rules from now on (none without arguments).
knobs() {
    printf '%s\n' "$@" | sed '/^$/d' >"$TARVEX_SIM_STATE/knobs"
}
