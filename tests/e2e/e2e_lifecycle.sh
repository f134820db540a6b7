#!/usr/bin/env bash
# End to end, inside the sandbox: a connect while connected replaces the first
# connection, a disconnect while disconnected does nothing, and SIGTERM to a connected
# daemon restores the system before the daemon exits.

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

scenario_second_connect_replaces_first() {
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    local first_mark
    first_mark=$(wc -l <"$SIM_LOG")
    ctl connect "$(vpn_config allowed-ips)"
    expect_connected

    local utun
    utun=$(tunnel_interface)
    [[ $(pgrep -xc amneziawg-go) == 1 ]] || fail "tunnel programs: $(pgrep -a amneziawg-go)"
    expect_routes "$SERVER_ROUTE" "${DOMAIN_ROUTES[@]}" \
        "route inet 10.20.0.0/16 interface $utun" "route inet 172.16.5.0/24 interface $utun"
    expect_dns_servers "$TUNNEL_DNS"
    expect_hosts_pinned

    # The first connection is gone (its DNS restored, its routes deleted) before the second
    # one adds anything.
    local second
    second=$(tail -n "+$((first_mark + 1))" "$SIM_LOG")
    local last_undo first_add
    last_undo=$(grep -nx "/sbin/route -n delete -host $SERVER" <<<"$second" | cut -d: -f1)
    first_add=$(grep -n '^/sbin/route -n add' <<<"$second" | head -1 | cut -d: -f1)
    if [[ -z $last_undo || -z $first_add ]] || ((last_undo > first_add)); then
        fail "second connect did not tear the first down first:"$'\n'"$second"
    fi
    grep -qx '/usr/sbin/networksetup -setdnsservers Wi-Fi 192.168.1.1' <<<"$second" \
        || fail "the first connection's DNS was not restored"

    ctl disconnect
    expect_disconnected
    # The DNS servers of before the first connect, not the tunnel's.
    expect_restored
}

scenario_disconnect_while_disconnected() {
    snapshot
    ctl disconnect
    expect_disconnected
    ctl disconnect
    expect_disconnected
    expect_restored
    [[ -z $(sim_log_since_snapshot) ]] || fail "commands ran: $(sim_log_since_snapshot)"
}

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
    local attempt
    for attempt in $(seq 100); do
        grep -qF "[MacVpnBackend] start process" <<<"$(daemon_log_since_snapshot)" && return 0
        sleep 0.02
    done
    fail "the connect did not reach the tunnel wait"
}

scenario_requests_while_connecting() {
    start_daemon TARVEX_AWG_NAME_DELAY_MS=1000
    snapshot
    connect_in_background
    # Answered from inside the running connect; a second change of the tunnel is refused
    # and leaves the running connect alone.
    ctl status
    [[ $ctl_output == "status: connecting" ]] || fail "status while connecting: $ctl_output"
    ctl disconnect
    [[ $ctl_status == 1 && $ctl_output == *"Служба VPN занята: идёт подключение."* ]] \
        || fail "disconnect while connecting (exit $ctl_status): $ctl_output"
    wait "$connect_pid"
    [[ $? == 0 && $(cat "$WORK/background.out") == "status: connected" ]] \
        || fail "the running connect: $(cat "$WORK/background.out")"
    ctl disconnect
    expect_disconnected
    expect_restored
    stop_daemon
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

run_scenarios second_connect_replaces_first disconnect_while_disconnected \
    sigterm_while_connected requests_while_connecting sigterm_while_connecting
