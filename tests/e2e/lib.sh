# shellcheck shell=bash
# Constants and state here are used by the scripts that source this file.
# shellcheck disable=SC2034,SC2119,SC2120
#
# Shared helpers of the end-to-end scenarios. Sourced by the e2e_*.sh scripts, which run
# inside the sandbox (tools/sandbox): the real TarvexVpnService and amneziawg-go stand-in,
# the macOS command stand-ins on the simulated Mac, /etc/hosts a private copy.
#
# The scripts get the programs through the environment (set by tests/CMakeLists.txt):
#   TARVEX_E2E_DAEMON   TarvexVpnService
#   TARVEX_E2E_CTL      tarvexctl
#   TARVEX_E2E_AWG      the amneziawg-go stand-in (the daemon finds it in its working folder)
#   TARVEX_E2E_ENCODE   vpnconfig-encode
#   TARVEX_E2E_DOMAIN   the vendor domain the daemon keeps outside the tunnel
# E2E_ONLY="name ..." runs only the named scenarios (for development).
#
# Each scenario takes a snapshot of the simulated Mac before it connects and, once it is
# done, expects the system to be exactly as the snapshot: routes, interfaces, every
# service's DNS servers (tarvex-macos dump), /etc/hosts byte for byte with its mode and
# owner, and no tunnel program running.

# No "cmd | grep -q" in the checks: grep -q may leave before cmd has written everything,
# and with pipefail cmd's SIGPIPE would turn a match into a failure.
set -uo pipefail

[[ ${TARVEX_SANDBOX:-} == 1 ]] || {
    echo "the end-to-end scenarios run only inside the sandbox (tools/sandbox/tarvex-sandbox)"
    exit 2
}
for variable in TARVEX_E2E_DAEMON TARVEX_E2E_CTL TARVEX_E2E_AWG TARVEX_E2E_ENCODE \
                TARVEX_E2E_DOMAIN; do
    [[ -n ${!variable:-} ]] || { echo "$variable is not set"; exit 2; }
done

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
AWG_DIR=$(dirname "$TARVEX_E2E_AWG")
readonly E2E_DIR AWG_DIR
readonly FIXTURES=$E2E_DIR/fixtures
readonly WORK=/tmp/tarvex-e2e
readonly DOMAIN=$TARVEX_E2E_DOMAIN
readonly SIM_LOG=$TARVEX_SIM_STATE/log
readonly KNOBS=$TARVEX_SIM_STATE/knobs
mkdir -p "$WORK"

# The simulated Mac as seeded, and the addresses of the e2e hosts seed (tests/e2e/hosts.in).
readonly GATEWAY=192.168.1.1
readonly SERVER=198.51.100.10
readonly DOMAIN_ROUTES=("route inet 203.0.113.20 gateway $GATEWAY en0"
                        "route inet 203.0.113.21 gateway $GATEWAY en0")
readonly SERVER_ROUTE="route inet $SERVER gateway $GATEWAY en0"
readonly TUNNEL_DNS="10.8.0.1 10.8.0.2"

now_ms() {
    local microseconds=${EPOCHREALTIME//[.,]/}
    echo $((microseconds / 1000))
}

# failures and wait_for; fail itself is replaced below by one that names the scenario.
# shellcheck source=../checks.sh
source "$E2E_DIR/../checks.sh"
scenario=""
scenario_failures=0

fail() {
    echo "FAIL [$scenario]: $*"
    failures=$((failures + 1))
    scenario_failures=$((scenario_failures + 1))
}

# run_scenarios NAME...: runs scenario_NAME for each, with a daemon started as by
# start_daemon unless one runs; prints the daemon's log tail when one fails; exits
# non-zero when anything failed.
run_scenarios() {
    local name started
    for name in "$@"; do
        if [[ -n ${E2E_ONLY:-} && " $E2E_ONLY " != *" $name "* ]]; then
            continue
        fi
        scenario=$name
        scenario_failures=0
        started=$(now_ms)
        # A scenario that needs a daemon of its own stops it again when it is done.
        [[ -n $daemon_pid ]] || start_daemon
        "scenario_$name"
        echo "$( ((scenario_failures)) && echo FAILED || echo ok) $name ($(($(now_ms) - started)) ms)"
        if ((scenario_failures)) && [[ -n ${daemon_log:-} && -f $daemon_log ]]; then
            echo "--- daemon log (last 40 lines) ---"
            tail -n 40 "$daemon_log"
            echo "---"
        fi
    done
    stop_daemon
    if ((failures)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all scenarios passed"
    exit 0
}

# --- configurations -------------------------------------------------------------------

# vpn_config FIXTURE: the path of a file holding the vpn:// text of fixtures/FIXTURE.json.
vpn_config() {
    local file=$WORK/$1.vpn
    if [[ ! -s $file ]]; then
        "$TARVEX_E2E_ENCODE" "$FIXTURES/$1.json" >"$file" || fail "cannot encode fixture $1"
    fi
    echo "$file"
}

# --- the daemon -----------------------------------------------------------------------

daemon_pid=""
daemon_log=""
daemon_count=0

# start_daemon [--cwd DIR] [NAME=VALUE...]: a fresh daemon, started from DIR (default:
# the stand-in's folder, where the daemon looks for amneziawg-go last) with the extra
# environment, which the tunnel program inherits. Waits until it answers.
start_daemon() {
    local cwd=$AWG_DIR
    if [[ ${1:-} == --cwd ]]; then
        cwd=$2
        shift 2
    fi
    stop_daemon
    daemon_count=$((daemon_count + 1))
    daemon_log=$WORK/daemon.$daemon_count.log
    (cd "$cwd" && exec env "$@" "$TARVEX_E2E_DAEMON") >"$daemon_log" 2>&1 &
    daemon_pid=$!
    wait_for 100 0.05 daemon_answers && kill -0 "$daemon_pid" 2>/dev/null && return 0
    fail "the daemon did not start"
    return 1
}

# daemon_answers: the daemon answers a status request, or is gone (and never will).
daemon_answers() {
    "$TARVEX_E2E_CTL" status >/dev/null 2>&1 || ! kill -0 "$daemon_pid" 2>/dev/null
}

# stop_daemon: SIGTERM, as launchd stops it; daemon_status is its exit status.
stop_daemon() {
    daemon_status=""
    [[ -n $daemon_pid ]] || return 0
    kill -TERM "$daemon_pid" 2>/dev/null
    wait "$daemon_pid"
    daemon_status=$?
    daemon_pid=""
}

# What the current daemon logged since the last snapshot (or since it started).
daemon_log_since_snapshot() {
    local mark=0
    [[ ${daemon_log_mark_file:-} == "$daemon_log" ]] && mark=$daemon_log_mark
    tail -n "+$((mark + 1))" "$daemon_log"
}

# daemon_logged TEXT: the daemon logged a line containing TEXT since the snapshot.
daemon_logged() {
    grep -qF -- "$1" <<<"$(daemon_log_since_snapshot)"
}

expect_daemon_log() {
    daemon_logged "$1" || fail "daemon log has no line with: $1"
}

# --- the local vendor API and the client ----------------------------------------------

vendor_api_root=""

# start_vendor_api: tarvex-vendor-api (TARVEX_E2E_VENDOR_API) on a free port of the
# sandbox's loopback with a fresh data folder; vendor_api_root is its root URL.
start_vendor_api() {
    local data=$WORK/vendor-api
    rm -rf "$data"
    : >"$WORK/vendor-api.out"
    "${TARVEX_E2E_VENDOR_API:?TARVEX_E2E_VENDOR_API is not set}" --port 0 --data "$data" \
        --cheap-password-hashing >"$WORK/vendor-api.out" 2>"$WORK/vendor-api.log" &
    vendor_api_pid=$!
    wait_for 100 0.05 vendor_api_listens && [[ -n $vendor_api_root ]] && return 0
    fail "the vendor API did not start: $(cat "$WORK/vendor-api.log")"
    return 1
}

# vendor_api_listens: vendor_api_root is known, or the vendor API is gone.
vendor_api_listens() {
    vendor_api_root=$(sed -n 's/^listening on //p' "$WORK/vendor-api.out")
    [[ -n $vendor_api_root ]] || ! kill -0 "$vendor_api_pid" 2>/dev/null
}

# run_client PROGRAM ARG...: a client offscreen on the vendor API and the daemon, its
# settings in $WORK/client from run to run; the Qt Quick Test runner (TARVEX_E2E_QUICK)
# makes the client's own VpnManager. client_output holds what it printed.
run_client() {
    client_output=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$WORK/client \
        TARVEX_QUICK_REAL_VPN_MANAGER=1 TARVEX_API_URL="$vendor_api_root/api/v1" \
        TARVEX_WEBSITE_URL="$vendor_api_root" "$@" 2>&1)
}

# --- tarvexctl --------------------------------------------------------------------------

# ctl ARG...: runs tarvexctl; ctl_output and ctl_status hold what it printed and returned.
ctl() {
    ctl_output=$("$TARVEX_E2E_CTL" "$@" 2>&1)
    ctl_status=$?
}

expect_connected() {
    [[ $ctl_status == 0 && $ctl_output == "status: connected" ]] \
        || fail "expected a connection, got (exit $ctl_status): $ctl_output"
}

expect_disconnected() {
    [[ $ctl_status == 0 && $ctl_output == "status: disconnected" ]] \
        || fail "expected disconnected, got (exit $ctl_status): $ctl_output"
}

# expect_error TEXT: the daemon reported the failure TEXT, exactly.
expect_error() {
    local expected
    expected=$(printf 'status: error\nerror: %s' "$1")
    [[ $ctl_status == 1 && $ctl_output == "$expected" ]] \
        || fail "expected the error \"$1\", got (exit $ctl_status): $ctl_output"
}

# --- the simulated Mac ------------------------------------------------------------------

# snapshot: remembers the system as it is now, for expect_restored.
snapshot() {
    tarvex-macos dump >"$WORK/before.dump"
    cp /etc/hosts "$WORK/before.hosts"
    hosts_stat_before=$(stat -c '%a %u:%g' /etc/hosts)
    daemon_log_mark_file=$daemon_log
    daemon_log_mark=0
    [[ ! -f $daemon_log ]] || daemon_log_mark=$(wc -l <"$daemon_log")
    # The stand-ins create their log at their first run.
    sim_log_mark=0
    [[ ! -f $SIM_LOG ]] || sim_log_mark=$(wc -l <"$SIM_LOG")
}

tunnel_running() {
    pgrep -x amneziawg-go >/dev/null
}

# expect_restored: the system is exactly as at the last snapshot.
expect_restored() {
    local dump
    dump=$(tarvex-macos dump)
    [[ $dump == "$(cat "$WORK/before.dump")" ]] \
        || fail "the simulated Mac differs from before:"$'\n'"$(diff "$WORK/before.dump" <(echo "$dump"))"
    cmp -s "$WORK/before.hosts" /etc/hosts \
        || fail "/etc/hosts differs from before:"$'\n'"$(diff "$WORK/before.hosts" /etc/hosts | cat -A)"
    [[ $(stat -c '%a %u:%g' /etc/hosts) == "$hosts_stat_before" ]] \
        || fail "/etc/hosts mode/owner $(stat -c '%a %u:%g' /etc/hosts), was $hosts_stat_before"
    ! tunnel_running || fail "amneziawg-go still runs: $(pgrep -a amneziawg-go)"
}

# The commands the stand-ins ran since the last snapshot, one per line, as typed.
sim_log_since_snapshot() {
    tail -n "+$((sim_log_mark + 1))" "$SIM_LOG"
}

# The tunnel interface that is not in the snapshot (empty when there is none).
tunnel_interface() {
    comm -13 <(grep '^interface ' "$WORK/before.dump" | sort) \
             <(tarvex-macos dump | grep '^interface ' | sort) | awk '{print $2}'
}

# expect_routes LINE...: the routing table is the snapshot's plus exactly these "route ..."
# lines of the dump (order free).
expect_routes() {
    local actual expected
    actual=$(tarvex-macos dump | grep '^route ' | sort)
    expected=$( (grep '^route ' "$WORK/before.dump"; printf '%s\n' "$@") | sort)
    [[ $actual == "$expected" ]] \
        || fail "routes differ (< expected, > actual):"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
}

# expect_dns_servers SERVERS: every enabled service uses SERVERS, the disabled one is
# untouched.
expect_dns_servers() {
    local actual
    actual=$(tarvex-macos dump | grep '^service ')
    local expected="service Wi-Fi enabled dns $1
service Ethernet enabled dns $1
service 'Thunderbolt Bridge' disabled dns -"
    [[ $actual == "$expected" ]] || fail "DNS servers: $actual"
}

# expect_hosts_pinned [BASE]: /etc/hosts is BASE (default: the snapshot's) with the
# daemon's block for the vendor domain at its end.
expect_hosts_pinned() {
    local expected=$WORK/expected.hosts
    cp "${1:-$WORK/before.hosts}" "$expected"
    [[ ! -s $expected || $(tail -c1 "$expected" | od -An -c) == *'\n'* ]] || echo >>"$expected"
    printf '# BEGIN TARVEX_VPN_CLIENT\n203.0.113.20\t%s\n203.0.113.21\t%s\n# END TARVEX_VPN_CLIENT\n' \
        "$DOMAIN" "$DOMAIN" >>"$expected"
    cmp -s "$expected" /etc/hosts \
        || fail "pinned /etc/hosts (< expected, > actual):"$'\n'"$(diff "$expected" /etc/hosts | cat -A)"
}

# knobs RULE...: the stand-ins' failure rules from now on (none without arguments).
knobs() {
    if (($#)); then
        printf '%s\n' "$@" >"$KNOBS"
    else
        : >"$KNOBS"
    fi
}

# --- other local users ------------------------------------------------------------------

# Two unprivileged users: nobody plays the attacker, SOMEONE a user whose client connects.
readonly NOBODY=65534
readonly SOMEONE=1000

# as_user UID CMD...: CMD as UID with its own group and no other, as any local user runs.
as_user() {
    local uid=$1
    shift
    setpriv --reuid="$uid" --regid="$uid" --clear-groups -- "$@"
}

# ctl_as UID ARG...: ctl as that user.
ctl_as() {
    local uid=$1
    shift
    ctl_output=$(as_user "$uid" "$TARVEX_E2E_CTL" "$@" 2>&1)
    ctl_status=$?
}

# attacker ARG...: tarvex-attacker as nobody, in the foreground.
attacker() {
    as_user "$NOBODY" "${TARVEX_E2E_ATTACKER:?TARVEX_E2E_ATTACKER is not set}" "$@"
}

background_pids=()

# in_background OUTPUT UID CMD...: CMD as UID in the background, its output in OUTPUT;
# returns once it has printed its first line (at most 5 s). stop_background ends them all.
in_background() {
    local output=$1 uid=$2
    shift 2
    : >"$output"
    # Started directly, not through as_user: $! must be the program itself, not a subshell
    # whose end would leave the program running.
    setpriv --reuid="$uid" --regid="$uid" --clear-groups -- "$@" >"$output" 2>&1 &
    background_pids+=($!)
    wait_for 250 0.02 test -s "$output" && return 0
    fail "no word from $*"
    return 1
}

stop_background() {
    local pid
    for pid in "${background_pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    background_pids=()
}

# expect_legitimate_cycle: a client still connects and disconnects, leaving the system
# as it found it.
expect_legitimate_cycle() {
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    ctl disconnect
    expect_disconnected
    expect_restored
}
