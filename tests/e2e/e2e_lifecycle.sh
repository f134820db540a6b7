#!/usr/bin/env bash
# End to end, inside the sandbox: SIGTERM to a connected daemon, or to one whose connect
# waits for the tunnel program, restores the system before the daemon exits. (Requests
# during a connect are the server's own test, a second connect and an idle disconnect
# the backend's.)

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

scenario_sigterm_while_connected() {
    snapshot
    ctl connect "$(vpn_config full-tunnel)" --split-except 192.0.2.0/24
    expect_connected
    expect_hosts_pinned
    stop_daemon
    [[ $daemon_status == 0 ]] || fail "the daemon exited with $daemon_status"
    expect_restored
    [[ ! -e $TARVEX_SERVICE_SOCKET ]] || fail "the socket file stayed"
}

# connect_in_background: starts a connect with the full-tunnel fixture and returns once the
# daemon waits for the tunnel's interface (the daemon's tunnel program answers late).
connect_in_background() {
    "$TARVEX_E2E_CTL" connect "$(vpn_config full-tunnel)" >"$WORK/background.out" 2>&1 &
    connect_pid=$!
    wait_for 100 0.02 daemon_logged "[MacVpnBackend] start process" \
        || fail "the connect did not reach the tunnel wait"
}

scenario_sigterm_while_connecting() {
    start_daemon TARVEX_AWG_NAME_DELAY_MS=1000
    snapshot
    connect_in_background
    kill -TERM "$daemon_pid"
    wait "$connect_pid"
    # The connect is finished and undone before the daemon ends; its client hears that.
    ctl_status=$?
    ctl_output=$(cat "$WORK/background.out")
    expect_error "Подключение отменено: служба VPN останавливается"
    wait "$daemon_pid"
    daemon_status=$?
    daemon_pid=""
    [[ $daemon_status == 0 ]] || fail "the daemon exited with $daemon_status"
    expect_restored
}

run_scenarios sigterm_while_connected sigterm_while_connecting
