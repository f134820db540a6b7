#!/usr/bin/env bash
# End to end, inside the sandbox: a connect that fails at any step reports that step's
# text to the client and leaves the simulated Mac exactly as it was, with no tunnel
# program running; the daemon connects normally afterwards.

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly NETWORK_DOWN="route: writing to routing socket: Network is down"
readonly NO_INTERFACE="Не удалось создать VPN-интерфейс"

# How a step is made to fail|the error the client gets|more tarvexctl arguments. "env
# NAME=VALUE" starts a daemon with that environment, "cwd" one where no tunnel program is
# found, anything else is a stand-in rule.
readonly FAILURES=(
    "cwd|Не найден amneziawg-go рядом с приложением|"
    "env TARVEX_AWG_EXIT_MESSAGE=ERROR: Failed to create TUN device: operation not permitted|$NO_INTERFACE: amneziawg-go не может создать utun-интерфейс без прав администратора. Нужен привилегированный daemon/helper как в Amnezia.|"
    "env TARVEX_AWG_EXIT_MESSAGE=ERROR: Failed to create TUN device: device busy|$NO_INTERFACE: ERROR: Failed to create TUN device: device busy|"
    "env TARVEX_AWG_SET_ERRNO=-22|Не удалось применить WireGuard/AWG-конфигурацию|"
    'fail stderr="ifconfig: ioctl (SIOCAIFADDR): Operation not permitted" ifconfig utun* inet *|Не удалось настроить IPv4 интерфейса: ifconfig: ioctl (SIOCAIFADDR): Operation not permitted|'
    "fail stderr=\"$NETWORK_DOWN\" route -n add -host $SERVER *|Не удалось добавить маршрут до сервера: $NETWORK_DOWN|"
    "fail stderr=\"$NETWORK_DOWN\" route -n add -inet6 -host 2001:db8:99::5 *|Не удалось добавить маршрут раздельного туннелирования: $NETWORK_DOWN|--split-only split-site.example 192.0.2.0/24 2001:db8:99::5"
    "fail stderr=\"$NETWORK_DOWN\" route -n add -net 192.0.2.0/24 $GATEWAY|Не удалось добавить исключение раздельного туннелирования: $NETWORK_DOWN|--split-except split-site.example 192.0.2.0/24"
)

scenario_each_step_fails() {
    local row how error arguments
    for row in "${FAILURES[@]}"; do
        IFS='|' read -r how error arguments <<<"$row"
        case $how in
            cwd) mkdir -p "$WORK/empty" && start_daemon --cwd "$WORK/empty" ;;
            env\ *) start_daemon "${how#env }" ;;
            *) [[ -n $daemon_pid ]] || start_daemon
               knobs "$how" ;;
        esac
        snapshot
        # shellcheck disable=SC2086  # the arguments are words
        ctl connect "$(vpn_config full-tunnel)" $arguments
        expect_error "$error"
        expect_restored
        [[ $how == *ifconfig* ]] && grep -q '^/sbin/route -n add' <<<"$(sim_log_since_snapshot)" \
            && fail "a route was added after the interface failed"
        [[ $how == *"-host $SERVER"* && $(sim_log_since_snapshot | grep -c '^/sbin/route -n add') != 1 ]] \
            && fail "routes added after the server route failed"
        [[ $how == *TARVEX_AWG_SET_ERRNO* ]] && expect_daemon_log "uapi reply errno -22"
        knobs
        [[ $how == cwd || $how == env\ * ]] && stop_daemon
    done
    # A failed connect is what the status says, until a disconnect clears it.
    start_daemon --cwd "$WORK/empty"
    ctl connect "$(vpn_config full-tunnel)"
    ctl status
    [[ $ctl_output == $'status: error\nerror: Не найден amneziawg-go рядом с приложением' ]] \
        || fail "status after the failure: $ctl_output"
    ctl disconnect
    expect_disconnected
    stop_daemon
}

scenario_route_fails_half_way() {
    knobs "fail stderr=\"$NETWORK_DOWN\" route -n add -net 128.0.0.0/1 *"
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_error "Не удалось добавить IPv4 маршрут: $NETWORK_DOWN"
    expect_restored
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
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_error "Не удалось добавить маршрут до сервера: route: writing to routing socket: File exists"
    expect_restored
    route -n delete -host "$SERVER" >/dev/null || fail "the static route is gone"
    expect_legitimate_cycle
    route -n delete -inet6 -net ::/1 >/dev/null || fail "utun1's ::/1 is gone"
}

run_scenarios each_step_fails route_fails_half_way control_character_refused \
    routes_of_others_kept
