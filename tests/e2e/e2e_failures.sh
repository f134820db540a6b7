#!/usr/bin/env bash
# End to end, inside the sandbox: a connect that fails at any step reports that step's
# text to the client and leaves the simulated Mac exactly as it was, with no tunnel
# program running; the daemon connects normally afterwards.

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly NETWORK_DOWN="route: writing to routing socket: Network is down"

# expect_failed_connect TEXT [tarvexctl connect arguments after the configuration]:
# connects with the full-tunnel fixture and expects TEXT and a fully restored system.
expect_failed_connect() {
    local text=$1
    shift
    snapshot
    ctl connect "$(vpn_config full-tunnel)" "$@"
    expect_error "$text"
    expect_restored
}

scenario_tunnel_program_missing() {
    # Neither next to the daemon, nor in ../Resources, nor in the working folder.
    mkdir -p "$WORK/empty"
    start_daemon --cwd "$WORK/empty"
    expect_failed_connect "Не найден amneziawg-go рядом с приложением"
    ctl status
    [[ $ctl_output == $'status: error\nerror: Не найден amneziawg-go рядом с приложением' ]] \
        || fail "status after the failure: $ctl_output"
    ctl disconnect
    expect_disconnected
    expect_restored
    stop_daemon
}

scenario_no_administrator_rights() {
    start_daemon TARVEX_AWG_EXIT_MESSAGE="ERROR: Failed to create TUN device: operation not permitted"
    expect_failed_connect "Не удалось создать VPN-интерфейс: amneziawg-go не может создать \
utun-интерфейс без прав администратора. Нужен привилегированный daemon/helper как в Amnezia."
    stop_daemon
}

scenario_interface_not_created() {
    start_daemon TARVEX_AWG_EXIT_MESSAGE="ERROR: Failed to create TUN device: device busy"
    expect_failed_connect "Не удалось создать VPN-интерфейс: ERROR: Failed to create TUN device: \
device busy"
    stop_daemon
}

scenario_uapi_errno() {
    start_daemon TARVEX_AWG_SET_ERRNO=-22
    expect_failed_connect "Не удалось применить WireGuard/AWG-конфигурацию"
    # The tunnel program ran and got the request before it was stopped again.
    expect_daemon_log "uapi reply errno -22"
    stop_daemon
}

scenario_ifconfig_fails() {
    knobs 'fail stderr="ifconfig: ioctl (SIOCAIFADDR): Operation not permitted" ifconfig utun* inet *'
    expect_failed_connect "Не удалось настроить IPv4 интерфейса: ifconfig: ioctl (SIOCAIFADDR): \
Operation not permitted"
    ! grep -q '^/sbin/route -n add' <<<"$(sim_log_since_snapshot)" || fail "a route was added"
    knobs
}

scenario_server_route_fails() {
    knobs "fail stderr=\"$NETWORK_DOWN\" route -n add -host $SERVER *"
    expect_failed_connect "Не удалось добавить маршрут до сервера: $NETWORK_DOWN"
    [[ $(sim_log_since_snapshot | grep -c '^/sbin/route -n add') == 1 ]] \
        || fail "routes added after the server route failed"
    knobs
}

scenario_route_fails_half_way() {
    knobs "fail stderr=\"$NETWORK_DOWN\" route -n add -net 128.0.0.0/1 *"
    expect_failed_connect "Не удалось добавить IPv4 маршрут: $NETWORK_DOWN"
    # What was added is deleted again: the vendor's API host first, the tunnel routes in
    # reverse order, the server route last.
    local expected
    expected="/sbin/route -n add -host $SERVER $GATEWAY
/sbin/route -n add -host 203.0.113.20 $GATEWAY
/sbin/route -n add -host 203.0.113.21 $GATEWAY
/sbin/route -n add -net 0.0.0.0/1 -interface utunN
/sbin/route -n add -net 128.0.0.0/1 -interface utunN
/sbin/route -n delete -host 203.0.113.20
/sbin/route -n delete -host 203.0.113.21
/sbin/route -n delete -net 0.0.0.0/1
/sbin/route -n delete -host $SERVER"
    local actual
    actual=$(sim_log_since_snapshot | grep -E '^/sbin/route -n (add|delete)' \
        | sed -E 's/utun[0-9]+/utunN/')
    [[ $actual == "$expected" ]] \
        || fail "route commands (< expected, > actual):"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
    knobs
}

scenario_split_route_fails() {
    knobs "fail stderr=\"$NETWORK_DOWN\" route -n add -inet6 -host 2001:db8:99::5 *"
    expect_failed_connect "Не удалось добавить маршрут раздельного туннелирования: $NETWORK_DOWN" \
        --split-only split-site.example 192.0.2.0/24 2001:db8:99::5
    knobs
}

scenario_exclusion_fails() {
    knobs "fail stderr=\"$NETWORK_DOWN\" route -n add -net 192.0.2.0/24 $GATEWAY"
    expect_failed_connect "Не удалось добавить исключение раздельного туннелирования: \
$NETWORK_DOWN" --split-except split-site.example 192.0.2.0/24
    knobs
}

scenario_control_character_refused() {
    snapshot
    ctl connect "$(vpn_config control-character)"
    expect_error "Недопустимая конфигурация VPN: поле hostName содержит управляющие символы"
    expect_restored
    # Refused before the tunnel program starts or any setting is touched.
    expect_no_daemon_log "start process"
    ! grep -qE '^/sbin/(route|ifconfig)|setdnsservers' <<<"$(sim_log_since_snapshot)" \
        || fail "the system was touched: $(sim_log_since_snapshot)"
}

# Routes that were there before are not ours to delete: a static host route to the
# server fails the connect and stays, and another tunnel's ::/1 survives a whole cycle.
scenario_routes_of_others_kept() {
    route -n add -host "$SERVER" "$GATEWAY" >/dev/null || fail "cannot add the static route"
    route -n add -inet6 -net ::/1 -interface utun1 >/dev/null || fail "cannot add utun1's ::/1"
    expect_failed_connect "Не удалось добавить маршрут до сервера: route: writing to routing \
socket: File exists"
    route -n delete -host "$SERVER" >/dev/null || fail "the static route is gone"
    expect_legitimate_cycle
    route -n delete -inet6 -net ::/1 >/dev/null || fail "utun1's ::/1 is gone"
}

scenario_unreadable_dns_left_alone() {
    knobs 'fail networksetup -getdnsservers Ethernet'
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    [[ $(tarvex-macos dump | grep '^service ') == "service Wi-Fi enabled dns $TUNNEL_DNS
service Ethernet enabled dns 9.9.9.9 149.112.112.112
service 'Thunderbolt Bridge' disabled dns -" ]] || fail "DNS servers: $(tarvex-macos dump | grep '^service ')"
    ctl disconnect
    expect_disconnected
    expect_restored
    knobs
}

scenario_connects_after_failures() {
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    expect_hosts_pinned
    ctl disconnect
    expect_disconnected
    expect_restored
}

run_scenarios tunnel_program_missing no_administrator_rights interface_not_created uapi_errno \
    ifconfig_fails server_route_fails route_fails_half_way split_route_fails exclusion_fails \
    control_character_refused routes_of_others_kept unreadable_dns_left_alone \
    connects_after_failures
