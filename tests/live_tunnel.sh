#!/usr/bin/env bash
# A real tunnel in a live sandbox (tarvex-sandbox --live): the daemon brings up Debian's
# wireguard-go through the amneziawg-go stand-in, the command stand-ins route the kernel
# of the sandbox's network namespace, and packets cross the tunnel to a WireGuard server
# in another namespace (tools/sandbox/tarvex-live-net). Usage, inside the sandbox:
#   live_tunnel.sh tunnel|roaming DAEMON TUNNEL_DIR TARVEXCTL ENCODER LIVE_NET VENDOR_DOMAIN
#   live_tunnel.sh standins AMNEZIAWG_GO LIVE_NET

# shellcheck disable=SC2317,SC2015  # functions are picked by name from the command line
set -uo pipefail
# shellcheck source=checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

readonly NET=/tmp/live-net

# Kernel state that a connection must give back exactly.
network_snapshot() {
    ip -o link show | awk -F': ' '{print $2}'
    ip -4 route show
    ip -6 route show
}

tun_links() {
    ip -o link show | awk -F': ' '{print $2}' | grep '^utun' || true
}

reaches() {
    ping -c 1 -W 2 -q "$1" >/dev/null 2>&1
}

# start_network_and_daemon: the server network (its addresses sourced from $NET/env) and a
# daemon that finds amneziawg-go in tunnel_dir; ends the test when either fails.
start_network_and_daemon() {
    "$live_net" up "$NET" || { fail "the server network could not be built"; finish; }
    # shellcheck source=/dev/null
    source "$NET/env"
    # The vendor's API host resolves from the hosts file, so its bypass route is real too;
    # so does a name for the server.
    printf '203.0.113.80\t%s\n%s\tvpn-server.example\n' "$vendor" "$ENDPOINT" >>/etc/hosts
    (cd "$tunnel_dir" && exec "$daemon") >/tmp/daemon.log 2>&1 &
    daemon_pid=$!
    wait_for 100 0.05 test -S "$TARVEX_SERVICE_SOCKET" || { fail "the daemon did not start"; finish; }
}

remember_clean() {
    before=$(network_snapshot)
    sim_before=$(tarvex-macos dump)
    hosts_before=$(cat /etc/hosts)
}

expect_clean() {
    [[ -z $(tun_links) ]] || fail "$1: tunnel links left: $(tun_links)"
    [[ $(network_snapshot) == "$before" ]] \
        || fail "$1: kernel routes differ:"$'\n'"$(diff <(echo "$before") <(network_snapshot))"
    [[ $(tarvex-macos dump) == "$sim_before" ]] || fail "$1: the simulated Mac differs"
    [[ $(cat /etc/hosts) == "$hosts_before" ]] || fail "$1: /etc/hosts differs"
    ! pgrep -f -x '/sbin/route -n monitor' >/dev/null || fail "$1: a route monitor outlived the connection"
}

# live_connect WHAT [OPTION...]: a connect with the live server's configuration OPTIONs.
live_connect() {
    output=$("$tarvexctl" connect "$("$live_net" config "$NET" "${@:2}" | "$encoder")")
    [[ $output == *"status: connected"* ]] || fail "$1: connect reported: $output"
}

# live_disconnect WHAT: a disconnect leaves the kernel, the simulated Mac and hosts clean.
live_disconnect() {
    "$tarvexctl" disconnect >/dev/null || fail "disconnect after $1"
    expect_clean "after $1"
}

case_tunnel() {
    start_network_and_daemon
    remember_clean
    # Full tunnel: the half-default routes of both families go into utunN, the endpoint
    # and the API host stay on en0 through the gateway; pings cross it both ways.
    local utun target
    live_connect "full tunnel"
    utun=$(tun_links)
    [[ $utun == utun2 ]] || fail "tunnel link '$utun', expected utun2 (utun0 and utun1 are the system's)"
    [[ $(ip -o -4 address show dev "$utun") == *"inet $CLIENT_TUNNEL_IP/32"* ]] \
        || fail "tunnel address: $(ip -o -4 address show dev "$utun")"
    [[ $(ip -o link show dev "$utun") == *"mtu 1280"* ]] || fail "tunnel MTU"
    [[ $(/sbin/ifconfig "$utun") == *"inet $CLIENT_TUNNEL_IP --> $CLIENT_TUNNEL_IP"* ]] \
        || fail "the simulated Mac does not show the tunnel address"
    for target in "$SERVER_TUNNEL_IP" "$BEHIND_IP" "$SERVER_TUNNEL_IP6"; do
        [[ $(ip route get "$target") == *"dev $utun "* ]] || fail "$target is not routed into $utun"
        reaches "$target" || fail "no ping reply from $target through the tunnel"
    done
    [[ $(ip route get 192.0.2.1) == *"dev $utun "* ]] || fail "other traffic is not in the tunnel"
    for target in "$ENDPOINT" 203.0.113.80; do
        [[ $(ip route get "$target") == *"via $GATEWAY dev en0 "* ]] \
            || fail "route to $target: $(ip route get "$target")"
    done
    "$tarvexctl" disconnect >/dev/null || fail "disconnect"
    ! reaches "$BEHIND_IP" || fail "$BEHIND_IP still answers after disconnect"
    expect_clean "after disconnect"

    # Allowed IPs narrower than everything: only those networks enter the tunnel.
    live_connect "two networks" --allowed-ips 10.8.1.0/24,10.99.0.0/24
    reaches "$BEHIND_IP" || fail "no ping reply from $BEHIND_IP with two networks"
    [[ $(ip route get 192.0.2.1) == *"via $GATEWAY dev en0 "* ]] \
        || fail "traffic outside the allowed networks entered the tunnel"
    live_disconnect "the two-network connection"

    # A valid key of another server connects (a key is a key) but carries nothing: WireGuard
    # silently ignores a peer that cannot prove the expected static key.
    live_connect "wrong key" --server-key "$(wg genkey | wg pubkey)"
    ! reaches "$SERVER_TUNNEL_IP" || fail "a tunnel with the wrong server key carried a packet"
    [[ $(wg show "$(tun_links)" latest-handshakes | cut -f2) == 0 ]] || fail "wrong key: a handshake"
    live_disconnect "the wrong key"

    # Malformed values never reach a running tunnel: wireguard-go refuses a key that is not
    # 32 bytes, the stand-in an obfuscation value that is not a number (both -EINVAL).
    local bad
    for bad in "--server-key AAAA" "--jc x"; do
        # shellcheck disable=SC2086
        output=$("$tarvexctl" connect "$("$live_net" config "$NET" $bad | "$encoder")")
        (($? == 1)) && [[ $output == *"error: Не удалось применить WireGuard/AWG-конфигурацию"* ]] \
            || fail "$bad: connect reported: $output"
        expect_clean "after $bad"
        "$tarvexctl" disconnect >/dev/null || fail "disconnect after $bad"
    done
    [[ $(grep -c 'uapi reply errno -22' /tmp/daemon.log) == 2 ]] \
        || fail "the daemon did not log both refusals as errno -22"

    # Endpoints and intervals that wireguard-go takes only in its own form: an IPv6 address
    # in brackets, a name resolved once to the address that both the server route and the
    # endpoint use (without that route the tunnel's own packets would loop into it, so the
    # ping proves it), and no keep-alive line at all when there is none.
    local entry name option value shown_endpoint keepalive
    for entry in "IPv6 endpoint|--host|$ENDPOINT6|[$ENDPOINT6]:$SERVER_PORT|25" \
                 "host name endpoint|--host|vpn-server.example|$ENDPOINT:$SERVER_PORT|25" \
                 "no keep-alive|--keep-alive||$ENDPOINT:$SERVER_PORT|off"; do
        IFS='|' read -r name option value shown_endpoint keepalive <<<"$entry"
        live_connect "$name" "$option" "$value"
        utun=$(tun_links)
        reaches "$BEHIND_IP" || fail "$name: no ping reply from $BEHIND_IP through the tunnel"
        [[ $(wg show "$utun" endpoints | cut -f2) == "$shown_endpoint" ]] \
            || fail "$name: endpoint $(wg show "$utun" endpoints)"
        [[ $(wg show "$utun" persistent-keepalive | cut -f2) == "$keepalive" ]] \
            || fail "$name: keep-alive $(wg show "$utun" persistent-keepalive)"
        live_disconnect "the $name"
    done
    finish
}

# ms_until STARTED LIMIT COMMAND...: ms from STARTED until COMMAND succeeds (LIMIT at most).
ms_until() {
    until "${@:3}" || (($(now_ms) - $1 > $2)); do :; done
    echo $(($(now_ms) - $1))
}

replies() {
    ping -c 1 -W 0.2 -q "$BEHIND_IP" >/dev/null 2>&1
}

routed_via() {
    sleep 0.02
    [[ $(ip route get "$1") == *" via $2 "* ]]
}

# What the rig looked like when a move got no reply: the daemon's routes, wireguard-go's
# view on both ends and the links, to tell one from the other.
show_rig() {
    local utun
    utun=$(tun_links)
    {
        ip route get "$ENDPOINT"
        ip -br address
        ip neigh show
        wg show "$utun" endpoints
        "$live_net" server wg show "$SERVER_WG" endpoints
        "$live_net" server wg show "$SERVER_WG" transfer
        grep 'default route' /tmp/daemon.log | tail -n 3
    } 2>&1 | sed 's/^/    | /'
}

# follow ROUTER WHAT STARTED: after the move to ROUTER at STARTED, the daemon moves the
# server route and the API host's bypass there (the daemon's part, route_times), and pings
# cross the tunnel again (reply_times).
follow() {
    local via routed replied
    via=$([[ $1 == 1 ]] && echo "$GATEWAY" || echo 10.0.5.1)
    routed=$(ms_until "$3" 10000 routed_via "$ENDPOINT" "$via")
    ((routed <= 10000)) || fail "$2: the server route did not follow to router $1"
    # (In the same pass of the daemon, a moment later.)
    wait_for 50 0 routed_via 203.0.113.80 "$via" || fail "$2: the API host's route stayed"
    # Linux's wireguard-go keeps sending from the link it last received on until a handshake
    # retry clears it, which has taken from 15 s to over a minute in this rig; the Mac's
    # tunnel program routes every packet afresh. Setting the endpoint again clears it.
    wg set "$(tun_links)" peer "$SERVER_PUB" endpoint "$ENDPOINT:$SERVER_PORT" || fail "wg set"
    replied=$(ms_until "$3" 30000 replies)
    if ((replied > 30000)); then
        show_rig
        # The daemon's route is right; if the rig's own network no longer carries a plain
        # ping to the server along it, the rig cannot judge the tunnel.
        # shellcheck disable=SC2154  # failures: counted by checks.sh
        if ((failures == 0)) && ! ping -c 2 -W 1 -q "$ENDPOINT" >/dev/null 2>&1; then
            echo "skipped: $2: the rig's network lost the server behind router $1"
            exit 77
        fi
        fail "$2 to router $1: no reply for $replied ms"
    fi
    route_times+=("$routed")
    reply_times+=("$replied")
}

move_to() {
    local started
    started=$(now_ms)
    "$live_net" use "$1" || fail "$2: cannot switch to router $1"
    follow "$@" "$started"
}

median() {
    printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2}'
}

# The Mac moves between two routers ten times while pings cross the tunnel; each time the
# old router's link goes down. Prints the times from each move to the moved route and to
# the first reply, and their medians.
case_roaming() {
    start_network_and_daemon
    # On the first router, with the second one's link down: where the moves end.
    { "$live_net" second-network && "$live_net" use 1; } || { fail "no second network"; finish; }
    remember_clean
    live_connect "roaming"
    local move route_times=() reply_times=() routed replied
    for move in $(seq 10); do
        move_to $((move % 2 == 1 ? 2 : 1)) "move $move"
        # The next move starts from a settled connection, not in this one's debounce.
        sleep 1.2
    done
    routed=$(median "${route_times[@]}")
    replied=$(median "${reply_times[@]}")
    echo "  move to the moved route (ms): ${route_times[*]}; median $routed"
    echo "  move to first reply through the tunnel (ms): ${reply_times[*]}; median $replied"
    ((${routed%.*} < 3000 && ${replied%.*} < 3000)) || fail "the median move is over 3 s"
    # The control: with the daemon stopped, nothing follows and the tunnel stays dead.
    kill -STOP "$daemon_pid"
    "$live_net" use 2 || fail "cannot switch to router 2 with the daemon stopped"
    ! ping -c 1 -W 3 -q "$BEHIND_IP" >/dev/null 2>&1 || fail "a reply came with the daemon stopped"
    routed_via "$ENDPOINT" "$GATEWAY" || fail "the route moved with the daemon stopped"
    kill -CONT "$daemon_pid"
    follow 2 "the stopped daemon" "$(now_ms)"
    echo "  the stopped daemon went on: route after ${route_times[-1]} ms, reply after ${reply_times[-1]} ms"
    move_to 1 "the last move"
    live_disconnect "the moves"
    finish
}

# start_tunnel_standin NAME: the tunnel stand-in asking for NAME in the background (its
# pid in $pid), once it has written its interface name.
start_tunnel_standin() {
    rm -f /tmp/awg/amn0.name
    WG_TUN_NAME_FILE=/tmp/awg/amn0.name "$amneziawg" -f "$1" &
    pid=$!
    wait_for 100 0.05 test -s /tmp/awg/amn0.name
}

case_standins() {
    "$live_net" up "$NET" || { fail "the network could not be built"; finish; }
    # A real point-to-point link that the simulated Mac has too.
    ip tuntap add dev utun7 mode tun
    tarvex-macos interface add utun7 >/dev/null
    # (Addresses and routes as the daemon makes them, and their deletion, are the live
    # tunnel's checks.)
    { /sbin/ifconfig utun7 inet 10.66.0.2 10.66.0.2 netmask 255.255.255.255 mtu 1300 up \
        && /sbin/route -n add -net 10.67.0.0/16 -interface utun7; } >/dev/null || fail "utun7"
    # A system tunnel the kernel does not have: simulated only, and still no failure.
    /sbin/route -n add -net 10.70.0.0/16 -interface utun0 >/dev/null || fail "route via utun0"
    [[ -z $(ip route show 10.70.0.0/16) ]] || fail "a route via the simulated utun0 reached the kernel"

    # The kernel's refusals are the stand-ins' refusals, and the simulated Mac stays as it was.
    local before output entry
    ip route add 10.68.0.0/16 dev utun7
    ip route del 10.67.0.0/16 dev utun7
    ip address add 10.66.0.9/32 dev utun7
    before=$(tarvex-macos dump)
    for entry in "route -n add -net 10.68.0.0/16 -interface utun7|route: writing to routing socket: File exists" \
                 "route -n delete -net 10.67.0.0/16|route: writing to routing socket: not in table" \
                 "ifconfig utun7 inet 10.66.0.9 10.66.0.9 netmask 255.255.255.255 alias|ifconfig: ioctl (SIOCAIFADDR): File exists"; do
        # shellcheck disable=SC2086
        output=$(/sbin/${entry%%|*} 2>&1)
        (($? == 1)) && [[ $output == *"${entry#*|}"* ]] || fail "${entry%%|*}: $output"
    done
    [[ $(tarvex-macos dump) == "$before" ]] || fail "a refused command changed the simulated Mac"

    # The tunnel stand-in: wireguard-go on the first utunN free in the simulated Mac and in
    # the kernel (utun2 here is a link made outside the simulated Mac). Its end on SIGTERM is
    # the live tunnel's disconnect.
    ip tuntap add dev utun2 mode tun
    mkdir -p /tmp/awg
    local pid
    start_tunnel_standin utun
    [[ $(cat /tmp/awg/amn0.name) == utun3 ]] || fail "tunnel name '$(cat /tmp/awg/amn0.name)', expected utun3"
    [[ -S /run/wireguard/utun3.sock && -S /tmp/awg/utun3.sock ]] || fail "UAPI sockets"
    ip link show utun3 >/dev/null 2>&1 || fail "no utun3 link"
    [[ -f $TARVEX_SIM_STATE/interfaces/utun3 ]] || fail "utun3 not claimed on the simulated Mac"
    # wireguard-go ending by itself ends the tunnel program, which lets its name go.
    kill -TERM "$(pgrep -P "$pid")"
    wait "$pid"
    (($? == 1)) || fail "the stand-in did not fail when wireguard-go ended"
    [[ ! -e $TARVEX_SIM_STATE/interfaces/utun3 ]] || fail "utun3 left after wireguard-go ended"

    # Killed outright, it still takes wireguard-go and the link with it.
    start_tunnel_standin utun3
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    wait_for 40 0.05 eval '! ip link show utun3 >/dev/null 2>&1' || fail "wireguard-go outlived a killed stand-in"

    # Live mode refuses to run where the sandbox runner did not say it is inside.
    output=$(env -u TARVEX_SANDBOX /sbin/route -n add -host 198.51.100.78 192.168.1.1 2>&1)
    (($? == 70)) && [[ $output == *"works only inside the development sandbox"* ]] \
        || fail "live route outside the sandbox: $output"
    [[ -z $(ip route show 198.51.100.78) ]] || fail "a refused live route reached the kernel"
    output=$(env -u TARVEX_SANDBOX WG_TUN_NAME_FILE=/tmp/awg/amn0.name "$amneziawg" -f utun 2>&1)
    (($? == 1)) && [[ $output == *"works only inside the development sandbox"* ]] \
        || fail "live amneziawg-go outside the sandbox: $output"
    finish
}

[[ ${TARVEX_SANDBOX:-} == 1 && ${TARVEX_SIM_LIVE:-} == 1 && ${TARVEX_AWG_LIVE:-} == 1 ]] \
    || { echo "run me inside tarvex-sandbox --live"; exit 2; }
case ${1:-} in
    tunnel | roaming) daemon=$2 tunnel_dir=$3 tarvexctl=$4 encoder=$5 live_net=$6 vendor=$7 ;;
    standins) amneziawg=$2 live_net=$3 ;;
    *) echo "unknown case ${1:-}"; exit 2 ;;
esac
"case_$1"
