#!/usr/bin/env bash
# End to end: after a daemon killed outright (SIGKILL) at any step of a connect, the next
# one gives the simulated Mac back from the recovery journal; a tunnel program that dies
# while connected is undone at once. While connected, the daemon's routes around the tunnel
# (server, control-plane bypass, all-except exclusion) follow the default route; its one
# route monitor never outlives the connection.

# shellcheck disable=SC2317,SC2119,SC2016,SC2086 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly JOURNAL="$TARVEX_STATE_DIR/recovery-journal"

# Where a connect is held before the daemon is killed: name|knob|the command line that
# shows it is there. A held command finishes after the daemon died, as on a Mac; "tunnel"
# holds the tunnel program before it names its interface.
readonly STEPS=(
    "tunnel program started|tunnel|"
    "interface address|hang seconds=0.3 ifconfig utun* inet *|/sbin/ifconfig utun"
    "server route|hang seconds=0.3 route -n add -host $SERVER *|/sbin/route -n add -host $SERVER"
    "control-plane route|hang seconds=0.3 route -n add -host 203.0.113.21 *|/sbin/route -n add -host 203.0.113.21"
    "hosts block written|hang seconds=0.3 route -n add -net 0.0.0.0/1 *|/sbin/route -n add -net 0.0.0.0/1"
    "IPv6 half|hang seconds=0.3 route -n add -inet6 -net 8000::/1 *|/sbin/route -n add -inet6 -net 8000::/1"
    "DNS of the second service|hang seconds=0.3 networksetup -setdnsservers Ethernet *|/usr/sbin/networksetup -setdnsservers Ethernet"
    "connected||"
)

at_step() {
    case $knob in
        tunnel) grep -q '"pid":[1-9]' "$JOURNAL" 2>/dev/null ;;
        "") ! kill -0 "$connect_pid" 2>/dev/null ;;
        *) grep -qF -- "$shown" <<<"$(tail -n "+$((sim_log_mark + 1))" "$SIM_LOG")" ;;
    esac
}

# kill_connect_at STEP: kills the daemon outright once a connect is at STEP, and waits
# until the command it was running has finished.
kill_connect_at() {
    local name knob shown connect_pid
    IFS='|' read -r name knob shown <<<"$1"
    if [[ $knob == tunnel ]]; then
        start_daemon TARVEX_AWG_NAME_DELAY_MS=3000
    else
        [[ -n $daemon_pid ]] || start_daemon
        knobs ${knob:+"$knob"}
    fi
    snapshot
    "$TARVEX_E2E_CTL" connect "$FULL" >/dev/null 2>&1 &
    connect_pid=$!
    wait_for 200 0.01 at_step || fail "$name: the connect never got there"
    stop_daemon KILL
    wait "$connect_pid"
    wait_for 100 0.02 eval '! pgrep -x "ifconfig|route|networksetup|dscacheutil|killall" >/dev/null'
    knobs
}

scenario_killed_at_each_step() {
    local step
    for step in "${STEPS[@]}"; do
        kill_connect_at "$step"
        start_daemon
        expect_restored
        [[ ! -e $JOURNAL ]] || fail "${step%%|*}: the journal stayed"
        expect_legitimate_cycle
    done
}

# A journal cut short still undoes every record before the cut, and is kept aside as it is.
scenario_journal_cut_short() {
    local cut kept
    for cut in 5 60; do
        kill_connect_at "connected||"
        truncate -s "-$cut" "$JOURNAL"
        cp "$JOURNAL" "$WORK/cut.journal"
        start_daemon
        kept=$(compgen -G "$JOURNAL.unreadable-*" | head -1)
        cmp -s "$WORK/cut.journal" "$kept" || fail "cut by $cut: not kept aside as it was"
        rm -f "$kept"
        if ((cut == 60)); then
            # The last record held Ethernet's own servers: Ethernet keeps the tunnel's.
            grep -qx "service Ethernet enabled dns $TUNNEL_DNS" <<<"$(tarvex-macos dump)" \
                || fail "cut by $cut: Ethernet's DNS: $(tarvex-macos dump | grep Ethernet)"
            networksetup -setdnsservers Ethernet 9.9.9.9 149.112.112.112
        fi
        expect_restored
        expect_legitimate_cycle
    done
}

restored_now() {
    [[ $(system_state) == "$(cat "$WORK/before.dump")" ]] && cmp -s "$WORK/before.hosts" /etc/hosts
}

scenario_tunnel_program_killed() {
    snapshot
    connected
    local killed elapsed
    killed=$(now_ms)
    pkill -KILL -x amneziawg-go
    wait_for 300 0.005 restored_now
    elapsed=$(($(now_ms) - killed))
    ((elapsed < 1000)) || fail "restored only after $elapsed ms"
    ctl status
    [[ $ctl_output == $'status: error\nerror: VPN-туннель остановлен: программа amneziawg-go неожиданно завершилась' ]] \
        || fail "status: $ctl_output"
    [[ ! -e $JOURNAL ]] || fail "the journal stayed"
    expect_legitimate_cycle
}

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
        tarvex-macos default-route ${move%%|*} || fail "cannot set the default route: $move"
        wait_for 250 0.02 routes_take "${move#*|}"
        elapsed=$(($(now_ms) - started))
        # The monitor's debounce is about a second, the backstop poll 45 s: 4 s tells
        # them apart and leaves room for a loaded machine or the sanitizers.
        ((elapsed <= 4000)) || fail "routes did not take \"${move#*|}\" within 4 s ($elapsed ms)"
        # The daemon's own changes come back as routing messages: they move nothing again.
        adds=$(grep -c '^/sbin/route -n add' "$SIM_LOG")
        sleep 1.3
        [[ $(grep -c '^/sbin/route -n add' "$SIM_LOG") == "$adds" ]] || fail "routes moved again without a change: $(tail -n 5 "$SIM_LOG")"
    done
    grep -qF "\"$SERVER\"" "$TARVEX_STATE_DIR/recovery-journal" || fail "the journal lost the server route"
    ctl status
    [[ $ctl_status == 0 && $ctl_output == "status: connected"$'\n'* ]] || fail "status: $ctl_output"

    # The Mac as before the connect, with its default route on the second network.
    sed 's/^route inet default .*/route inet default gateway 10.0.5.1 en1/' -i "$WORK/before.dump"
    disconnect_restored
    [[ -z $(monitor_pids) ]] || fail "a route monitor outlived the connection: $(monitor_pids)"
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

run_scenarios killed_at_each_step journal_cut_short tunnel_program_killed \
    follows_default_route monitor_ends_with_connection
