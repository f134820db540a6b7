#!/usr/bin/env bash
# End to end: SIGTERM to a connected daemon, or to one whose connect waits for the tunnel
# program, restores the system before the daemon exits.

# shellcheck disable=SC2317,SC2119 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

scenario_sigterm_while_connected() {
    snapshot
    connected --split-except 192.0.2.0/24
    stop_daemon
    [[ $daemon_status == 0 ]] || fail "the daemon exited with $daemon_status"
    expect_restored
    [[ ! -e $TARVEX_SERVICE_SOCKET ]] || fail "the socket file stayed"
}

scenario_sigterm_while_connecting() {
    start_daemon TARVEX_AWG_NAME_DELAY_MS=1000
    snapshot
    "$TARVEX_E2E_CTL" connect "$FULL" >"$WORK/background.out" 2>&1 &
    local connect_pid=$!
    expect_daemon_log "[MacVpnBackend] start process" 100
    stop_daemon
    wait "$connect_pid"
    ctl_status=$?
    ctl_output=$(cat "$WORK/background.out")
    expect_error "Подключение отменено: служба VPN останавливается"
    [[ $daemon_status == 0 ]] || fail "the daemon exited with $daemon_status"
    expect_restored
}

run_scenarios sigterm_while_connected sigterm_while_connecting
