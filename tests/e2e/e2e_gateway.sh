#!/usr/bin/env bash
# End to end: while connected, the daemon's routes around the tunnel (server, control-plane
# bypass, all-except exclusion) follow the default route; its one route monitor never
# outlives the connection.

# shellcheck disable=SC2317,SC2119,SC2016 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly OURS=("$SERVER" 203.0.113.20 203.0.113.21 192.0.2.0/24)
# Each change of the default route (tarvex-macos default-route ARGUMENT)|the way the
# daemon's routes then take, as the dump shows it.
readonly MOVES=(
    "10.0.5.1|gateway 10.0.5.1 en1"
    "none|gateway 127.0.0.1 lo0 blackhole"
    "-interface en1|interface en1"
    "10.0.5.1|gateway 10.0.5.1 en1"
)

monitor_pids() {
    pgrep -f -x '/sbin/route -n monitor'
}

routes_take() {
    local dump route
    dump=$(tarvex-macos dump)
    for route in "${OURS[@]}"; do
        grep -qxF "route inet $route $1" <<<"$dump" || return 1
    done
}

route_adds() {
    grep -c '^/sbin/route -n add' "$SIM_LOG"
}

scenario_follows_default_route() {
    # A second network to move to, as an Ethernet cable next to the Wi-Fi.
    tarvex-macos interface add en1 --up || fail "cannot add en1"
    ifconfig en1 inet 10.0.5.23 netmask 255.255.255.0 >/dev/null || fail "cannot address en1"
    snapshot
    connected --split-except 192.0.2.0/24
    [[ $(monitor_pids | wc -l) == 1 ]] || fail "route monitors running: $(monitor_pids)"
    local move started elapsed adds
    for move in "${MOVES[@]}"; do
        started=$(now_ms)
        # shellcheck disable=SC2086
        tarvex-macos default-route ${move%%|*} || fail "cannot set the default route: $move"
        wait_for 250 0.02 routes_take "${move#*|}"
        elapsed=$(($(now_ms) - started))
        # The monitor's debounce is about a second, the backstop poll 45 s: 4 s tells
        # them apart and leaves room for a loaded machine or the sanitizers.
        ((elapsed <= 4000)) || fail "routes did not take \"${move#*|}\" within 4 s ($elapsed ms)"
        # The daemon's own changes come back as routing messages: they move nothing again.
        adds=$(route_adds)
        sleep 1.3
        [[ $(route_adds) == "$adds" ]] || fail "routes moved again without a change: $(tail -n 5 "$SIM_LOG")"
    done
    grep -qF "\"$SERVER\"" "$TARVEX_STATE_DIR/recovery-journal" || fail "the journal lost the server route"
    ctl status
    [[ $ctl_status == 0 && $ctl_output == "status: connected"$'\n'* ]] || fail "status: $ctl_output"

    # The Mac as before the connect, with its default route on the second network.
    sed 's/^route inet default .*/route inet default gateway 10.0.5.1 en1/' -i "$WORK/before.dump"
    disconnect_restored
    [[ -z $(monitor_pids) ]] || fail "a route monitor outlived the connection: $(monitor_pids)"
    tarvex-macos default-route "$GATEWAY" || fail "cannot give the Mac its default route back"
    tarvex-macos interface remove en1 || fail "cannot remove en1"
}

# However the connection ends, its route monitor ends with it (a disconnect: above).
scenario_monitor_ends_with_connection() {
    local how
    for how in "pkill -KILL -x amneziawg-go" stop_daemon; do
        connected
        $how
        wait_for 50 0.02 eval '[[ -z $(monitor_pids) ]]' || fail "[$how] a route monitor outlived the connection"
        [[ -n $daemon_pid ]] || start_daemon
    done
}

run_scenarios follows_default_route monitor_ends_with_connection
