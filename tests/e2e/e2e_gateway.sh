#!/usr/bin/env bash
# End to end, inside the sandbox: while connected, the daemon's routes around the tunnel
# (the server route, the control-plane bypass, the all-except exclusions) follow the simulated Mac's default
# route to another network, to a blackhole while there is none, to an interface-only
# default and back; its route monitor is restarted when it dies and never outlives the
# connection, however that ends.

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly JOURNAL="$TARVEX_STATE_DIR/recovery-journal"
readonly OUR_HOSTS=("$SERVER" 203.0.113.20 203.0.113.21)
# What the daemon's routes must take after each change of the default route, as the
# dump shows it after the destination: default-route argument|way.
readonly MOVES=(
    "10.0.5.1|gateway 10.0.5.1 en1"
    "none|gateway 127.0.0.1 lo0 blackhole"
    "-interface en1|interface en1"
    "10.0.5.1|gateway 10.0.5.1 en1"
)

monitor_pids() {
    pgrep -f -x '/sbin/route -n monitor'
}

# routes_take WAY: the server and bypass routes all leave by WAY.
routes_take() {
    local dump host
    dump=$(tarvex-macos dump)
    for host in "${OUR_HOSTS[@]}"; do
        grep -qxF "route inet $host $1" <<<"$dump" || return 1
    done
}

# The Mac with a second network (en1, 10.0.5.0/24) that a test can move the default to.
add_second_network() {
    if ! tarvex-macos interface add en1 --up \
        || ! ifconfig en1 inet 10.0.5.23 netmask 255.255.255.0 >/dev/null; then
        fail "cannot add en1"
    fi
}

remove_second_network() {
    if ! tarvex-macos default-route "$GATEWAY" || ! tarvex-macos interface remove en1; then
        fail "cannot give the Mac its seeded network back"
    fi
}

scenario_follows_default_route() {
    add_second_network
    snapshot
    # The Mac after the test: as now, with the default route on the second network.
    cp -a "$TARVEX_SIM_STATE" "$WORK/mac-after"
    tarvex-macos --state "$WORK/mac-after" default-route 10.0.5.1 >/dev/null

    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    local first restarted=""
    first=$(monitor_pids)
    [[ $(wc -w <<<"$first") == 1 ]] || fail "route monitors running: '$first'"
    # A monitor that dies is started again, after half a second.
    kill "$first"
    for _ in $(seq 100); do
        restarted=$(monitor_pids)
        [[ -z $restarted ]] || break
        sleep 0.02
    done
    [[ -n $restarted && $restarted != "$first" ]] || fail "the route monitor was not restarted"

    local move argument way started elapsed adds
    for move in "${MOVES[@]}"; do
        argument=${move%%|*} way=${move#*|}
        started=$(now_ms)
        # shellcheck disable=SC2086
        tarvex-macos default-route $argument || fail "cannot set the default route: $argument"
        until routes_take "$way"; do
            (($(now_ms) - started < 4000)) || break
            sleep 0.02
        done
        elapsed=$(($(now_ms) - started))
        echo "  default route $argument: routes moved after $elapsed ms"
        ((elapsed <= 2000)) || fail "routes did not take \"$way\" within 2 s ($elapsed ms)"
        # The daemon's own changes come back as routing messages: they move nothing again.
        adds=$(grep -c '^/sbin/route -n add' "$SIM_LOG")
        sleep 1.3
        [[ $(grep -c '^/sbin/route -n add' "$SIM_LOG") == "$adds" ]] \
            || fail "routes moved again without a change: $(tail -n 5 "$SIM_LOG")"
    done
    expect_routes_with_halves "gateway 10.0.5.1 en1"
    expect_daemon_log "default route changed (monitor): inet 192.168.1.1 en0 -> 10.0.5.1 en1: 3 of 3 routes moved"
    expect_daemon_log "inet 10.0.5.1 en1 -> blackhole: 3 of 3 routes moved"
    grep -qF "\"$SERVER\"" "$JOURNAL" || fail "the journal does not name the server route"
    expect_hosts_pinned
    # The status reply is the same as before any move.
    ctl status
    [[ $ctl_status == 0 && $ctl_output == "status: connected"$'\n'* ]] || fail "status: $ctl_output"

    ctl disconnect
    expect_disconnected
    tarvex-macos --state "$WORK/mac-after" dump >"$WORK/before.dump"
    expect_restored
    [[ -z $(monitor_pids) ]] || fail "a route monitor outlived the connection: $(monitor_pids)"
    remove_second_network
}

# expect_routes_with_halves WAY: the snapshot's routes with the default on the second
# network, the tunnel's halves and the daemon's routes leaving by WAY.
expect_routes_with_halves() {
    local utun host actual expected
    utun=$(tunnel_interface)
    expected=$( (grep '^route ' "$WORK/before.dump" | grep -v '^route inet default'
        echo "route inet default gateway 10.0.5.1 en1"
        for host in "${OUR_HOSTS[@]}"; do echo "route inet $host $1"; done
        printf 'route inet %s interface %s\n' 0.0.0.0/1 "$utun" 128.0.0.0/1 "$utun"
        printf 'route inet6 %s interface %s\n' ::/1 "$utun" 8000::/1 "$utun") | sort)
    actual=$(tarvex-macos dump | grep '^route ' | sort)
    [[ $actual == "$expected" ]] \
        || fail "routes differ (< expected, > actual):"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
}

# All-except exclusions keep leaving outside the tunnel: they move as well.
scenario_exclusions_follow() {
    add_second_network
    snapshot
    ctl connect "$(vpn_config full-tunnel)" --split-except 192.0.2.0/24
    expect_connected
    grep -qx 'route inet 192.0.2.0/24 gateway 192.168.1.1 en0' <<<"$(tarvex-macos dump)" \
        || fail "no exclusion route at connect"
    local way started
    for way in "none|gateway 127.0.0.1 lo0 blackhole" "10.0.5.1|gateway 10.0.5.1 en1"; do
        started=$(now_ms)
        tarvex-macos default-route "${way%%|*}" || fail "cannot set the default route"
        until grep -qx "route inet 192.0.2.0/24 ${way#*|}" <<<"$(tarvex-macos dump)"; do
            (($(now_ms) - started < 3000)) || { fail "the exclusion did not take ${way#*|}"; break; }
            sleep 0.02
        done
    done
    ctl disconnect
    expect_disconnected
    tarvex-macos default-route "$GATEWAY" || fail "cannot set the default route back"
    expect_restored
    remove_second_network
}

# However the connection ends, its route monitor ends with it and the Mac is as before.
scenario_monitor_ends_with_connection() {
    local how
    for how in disconnect "tunnel program killed" "daemon stopped"; do
        snapshot
        ctl connect "$(vpn_config full-tunnel)"
        expect_connected
        [[ -n $(monitor_pids) ]] || fail "[$how] no route monitor while connected"
        case $how in
            disconnect) ctl disconnect ;;
            "tunnel program killed") pkill -KILL -x amneziawg-go ;;
            "daemon stopped") stop_daemon ;;
        esac
        for _ in $(seq 50); do
            [[ -n $(monitor_pids) ]] || break
            sleep 0.02
        done
        [[ -z $(monitor_pids) ]] || fail "[$how] a route monitor outlived the connection"
        for _ in $(seq 50); do
            [[ $(tarvex-macos dump) == "$(cat "$WORK/before.dump")" ]] && break
            sleep 0.02
        done
        expect_restored
        [[ -n $daemon_pid ]] || start_daemon
    done
}

# What following the default route costs an idle connection: the daemon's CPU time.
scenario_idle_cost() {
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    local before after ticks seconds=5
    before=$(awk '{print $14 + $15}' "/proc/$daemon_pid/stat")
    sleep "$seconds"
    after=$(awk '{print $14 + $15}' "/proc/$daemon_pid/stat")
    ticks=$((after - before))
    echo "  idle connected for $seconds s: the daemon used $((ticks * 1000 / $(getconf CLK_TCK))) ms of CPU"
    ((ticks * 1000 / $(getconf CLK_TCK) < 100)) || fail "the daemon used $ticks ticks while idle"
    ctl disconnect
    expect_disconnected
    expect_restored
}

run_scenarios follows_default_route exclusions_follow monitor_ends_with_connection idle_cost
