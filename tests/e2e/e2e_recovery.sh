#!/usr/bin/env bash
# End to end: after a daemon killed outright (SIGKILL) at any step of a connect, the next
# one gives the simulated Mac back from the recovery journal; a tunnel program that dies
# while connected is undone at once.

# shellcheck disable=SC2317,SC2119 source=lib.sh
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
        *) grep -qF -- "$shown" <<<"$(sim_log_since_snapshot)" ;;
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

run_scenarios killed_at_each_step journal_cut_short tunnel_program_killed
