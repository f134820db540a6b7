#!/usr/bin/env bash
# End to end: a connect that fails reports its step's text to the client and leaves the
# simulated Mac exactly as it was; the daemon connects normally afterwards.

# shellcheck disable=SC2317,SC2119 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly NETWORK_DOWN="route: writing to routing socket: Network is down"
readonly NO_INTERFACE="Не удалось создать VPN-интерфейс"

# How a step is made to fail|the error the client gets: "cwd", a daemon where no tunnel
# program is found, "env NAME=VALUE", one with that environment, else a stand-in rule.
readonly FAILURES=(
    "cwd|Не найден amneziawg-go рядом с приложением"
    "env TARVEX_AWG_EXIT_MESSAGE=ERROR: Failed to create TUN device: operation not permitted|$NO_INTERFACE: amneziawg-go не может создать utun-интерфейс без прав администратора. Нужен привилегированный daemon/helper как в Amnezia."
    'fail stderr="ifconfig: ioctl (SIOCAIFADDR): Operation not permitted" ifconfig utun* inet *|Не удалось настроить IPv4 интерфейса: ifconfig: ioctl (SIOCAIFADDR): Operation not permitted'
    "fail stderr=\"$NETWORK_DOWN\" route -n add -host $SERVER *|Не удалось добавить маршрут до сервера: $NETWORK_DOWN"
)

scenario_each_step_fails() {
    local row how error
    mkdir -p "$WORK/empty"
    for row in "${FAILURES[@]}"; do
        IFS='|' read -r how error <<<"$row"
        case $how in
            cwd) start_daemon --cwd "$WORK/empty" ;;
            env\ *) start_daemon "${how#env }" ;;
            *) start_daemon && knobs "$how" ;;
        esac
        snapshot
        connect
        expect_error "$error"
        expect_restored
        knobs
    done
    # A failed connect is what the status says, until a disconnect clears it.
    ctl status
    [[ $ctl_output == "status: error"$'\n'"error: $error" ]] || fail "status after the failure: $ctl_output"
    ctl disconnect
    expect_disconnected
}

# Routes that were there before are not ours to delete: a static host route to the
# server fails the connect and stays, and another tunnel's ::/1 survives a whole cycle.
scenario_routes_of_others_kept() {
    route -n add -host "$SERVER" "$GATEWAY" >/dev/null || fail "cannot add the static route"
    route -n add -inet6 -net ::/1 -interface utun1 >/dev/null || fail "cannot add utun1's ::/1"
    snapshot
    connect
    expect_error "Не удалось добавить маршрут до сервера: route: writing to routing socket: File exists"
    expect_restored
    route -n delete -host "$SERVER" >/dev/null || fail "the static route is gone"
    expect_legitimate_cycle
}

run_scenarios each_step_fails routes_of_others_kept
