#!/usr/bin/env bash
# End to end, inside the sandbox: a connect that fails reports its step's text to the
# client and leaves the simulated Mac exactly as it was, with no tunnel program running;
# the daemon connects normally afterwards. (Every step's failure, its text and the order
# of the clean-up are the backend's own test on the same simulation.)

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly NETWORK_DOWN="route: writing to routing socket: Network is down"
readonly NO_INTERFACE="Не удалось создать VPN-интерфейс"

# How a step is made to fail|the error the client gets. "env NAME=VALUE" starts a daemon
# with that environment, "cwd" one where no tunnel program is found, anything else is a
# stand-in rule.
readonly FAILURES=(
    "cwd|Не найден amneziawg-go рядом с приложением"
    "env TARVEX_AWG_EXIT_MESSAGE=ERROR: Failed to create TUN device: operation not permitted|$NO_INTERFACE: amneziawg-go не может создать utun-интерфейс без прав администратора. Нужен привилегированный daemon/helper как в Amnezia."
    'fail stderr="ifconfig: ioctl (SIOCAIFADDR): Operation not permitted" ifconfig utun* inet *|Не удалось настроить IPv4 интерфейса: ifconfig: ioctl (SIOCAIFADDR): Operation not permitted'
    "fail stderr=\"$NETWORK_DOWN\" route -n add -host $SERVER *|Не удалось добавить маршрут до сервера: $NETWORK_DOWN"
)

scenario_each_step_fails() {
    local row how error
    for row in "${FAILURES[@]}"; do
        IFS='|' read -r how error <<<"$row"
        case $how in
            cwd) mkdir -p "$WORK/empty" && start_daemon --cwd "$WORK/empty" ;;
            env\ *) start_daemon "${how#env }" ;;
            *) [[ -n $daemon_pid ]] || start_daemon
               knobs "$how" ;;
        esac
        snapshot
        ctl connect "$(vpn_config full-tunnel)"
        expect_error "$error"
        expect_restored
        [[ $how == *ifconfig* ]] && grep -q '^/sbin/route -n add' <<<"$(sim_log_since_snapshot)" \
            && fail "a route was added after the interface failed"
        [[ $how == *"-host $SERVER"* && $(sim_log_since_snapshot | grep -c '^/sbin/route -n add') != 1 ]] \
            && fail "routes added after the server route failed"
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

run_scenarios each_step_fails routes_of_others_kept
