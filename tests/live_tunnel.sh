#!/usr/bin/env bash
# A real tunnel in a live sandbox (tarvex-sandbox --live): the daemon brings up Debian's
# wireguard-go through the amneziawg-go stand-in, the command stand-ins route the kernel,
# and packets cross the tunnel to a WireGuard server in another namespace. Usage:
#   live_tunnel.sh tunnel|roaming DAEMON TUNNEL_DIR TARVEXCTL ENCODER LIVE_NET VENDOR_DOMAIN

# shellcheck disable=SC2317,SC2015,SC2154  # cases picked by name; failures from checks.sh
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
    # The vendor's API host and a name for the server resolve from the hosts file.
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
    # The tunnel stand-in, killed outright, still takes wireguard-go and its link with it.
    local amneziawg=$tunnel_dir/amneziawg-go pid output
    mkdir -p /tmp/awg
    WG_TUN_NAME_FILE=/tmp/awg/amn0.name "$amneziawg" -f utun &
    pid=$!
    wait_for 100 0.05 test -S /tmp/awg/utun2.sock || fail "the tunnel stand-in did not come up"
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    wait_for 40 0.05 eval '! ip link show utun2 >/dev/null 2>&1' || fail "wireguard-go outlived a killed stand-in"
    # Live mode refuses to run where the sandbox runner did not say it is inside.
    output=$(env -u TARVEX_SANDBOX /sbin/route -n add -host 198.51.100.78 192.168.1.1 2>&1)
    (($? == 70)) && [[ $output == *"works only inside the development sandbox"* ]] \
        || fail "live route outside the sandbox: $output"
    [[ -z $(ip route show 198.51.100.78) ]] || fail "a refused live route reached the kernel"
    output=$(env -u TARVEX_SANDBOX WG_TUN_NAME_FILE=/tmp/awg/amn0.name "$amneziawg" -f utun 2>&1)
    (($? == 1)) && [[ $output == *"works only inside the development sandbox"* ]] \
        || fail "live amneziawg-go outside the sandbox: $output"

    remember_clean
    # Full tunnel: both families' halves into utunN, the API host on en0; pings cross it (so
    # the address and the server route are right).
    local utun target
    live_connect "full tunnel"
    utun=$(tun_links)
    [[ $utun == utun2 ]] || fail "tunnel link '$utun', expected utun2 (utun0 and utun1 are the system's)"
    [[ $(ip -o link show dev "$utun") == *"mtu 1280"* ]] || fail "tunnel MTU"
    for target in "$SERVER_TUNNEL_IP" "$BEHIND_IP" "$SERVER_TUNNEL_IP6"; do
        [[ $(ip route get "$target") == *"dev $utun "* ]] || fail "$target is not routed into $utun"
        reaches "$target" || fail "no ping reply from $target through the tunnel"
    done
    [[ $(ip route get 192.0.2.1) == *"dev $utun "* ]] || fail "other traffic is not in the tunnel"
    [[ $(ip route get 203.0.113.80) == *"via $GATEWAY dev en0 "* ]] || fail "the API host's route"
    live_disconnect "the full tunnel"

    # Allowed IPs narrower than everything: only those networks enter the tunnel.
    live_connect "two networks" --allowed-ips 10.8.1.0/24,10.99.0.0/24
    reaches "$BEHIND_IP" || fail "no ping reply from $BEHIND_IP with two networks"
    [[ $(ip route get 192.0.2.1) == *"via $GATEWAY dev en0 "* ]] \
        || fail "traffic outside the allowed networks entered the tunnel"
    live_disconnect "the two-network connection"

    # A malformed key never reaches a running tunnel: wireguard-go refuses it (-EINVAL).
    output=$("$tarvexctl" connect "$("$live_net" config "$NET" --server-key AAAA | "$encoder")")
    (($? == 1)) && [[ $output == *"error: Не удалось применить WireGuard/AWG-конфигурацию"* ]] \
        || fail "a malformed key: connect reported: $output"
    expect_clean "after a malformed key"
    "$tarvexctl" disconnect >/dev/null || fail "disconnect after a malformed key"

    # Endpoints and intervals in wireguard-go's own form: an IPv6 address in brackets, a name
    # resolved once for both the server route and the endpoint (without that route the
    # tunnel's packets would loop into it), and no keep-alive line when there is none.
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

# What the rig looked like when a move got no reply: the server route and both ends' view.
show_rig() {
    {
        ip route get "$ENDPOINT"
        wg show "$(tun_links)" endpoints
        "$live_net" server wg show "$SERVER_WG" endpoints
    } 2>&1 | sed 's/^/    | /'
}

# follow ROUTER WHAT STARTED: after a move at STARTED, the server route and the API host's
# follow to ROUTER (route_times), and pings cross the tunnel again (reply_times).
follow() {
    local via routed replied
    via=$([[ $1 == 1 ]] && echo "$GATEWAY" || echo 10.0.5.1)
    routed=$(ms_until "$3" 10000 routed_via "$ENDPOINT" "$via")
    ((routed <= 10000)) || fail "$2: the server route did not follow to router $1"
    wait_for 50 0 routed_via 203.0.113.80 "$via" || fail "$2: the API host's route stayed"
    # Linux's wireguard-go keeps sending from the link it last received on until a handshake
    # retry clears it (15 s to over a minute here); the Mac's tunnel program routes every
    # packet afresh. Setting the endpoint again clears it.
    wg set "$(tun_links)" peer "$SERVER_PUB" endpoint "$ENDPOINT:$SERVER_PORT" || fail "wg set"
    replied=$(ms_until "$3" 30000 replies)
    if ((replied > 30000)); then
        show_rig
        # The daemon's route is right; if the rig no longer carries a plain ping to the
        # server along it, it cannot judge the tunnel.
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
# old router's link goes down.
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
    echo "  ms to the moved route: ${route_times[*]}; to a reply: ${reply_times[*]}"
    ((${routed%.*} < 3000 && ${replied%.*} < 3000)) || fail "the median move is over 3 s"
    # The control: with the daemon stopped, nothing follows and the tunnel stays dead.
    kill -STOP "$daemon_pid"
    "$live_net" use 2 || fail "cannot switch to router 2 with the daemon stopped"
    ! ping -c 1 -W 3 -q "$BEHIND_IP" >/dev/null 2>&1 || fail "a reply came with the daemon stopped"
    routed_via "$ENDPOINT" "$GATEWAY" || fail "the route moved with the daemon stopped"
    kill -CONT "$daemon_pid"
    follow 2 "the stopped daemon" "$(now_ms)"
    move_to 1 "the last move"
    live_disconnect "the moves"
    finish
}

[[ ${TARVEX_SANDBOX:-} == 1 && ${TARVEX_SIM_LIVE:-} == 1 && ${TARVEX_AWG_LIVE:-} == 1 ]] \
    || { echo "run me inside tarvex-sandbox --live"; exit 2; }
daemon=$2 tunnel_dir=$3 tarvexctl=$4 encoder=$5 live_net=$6 vendor=$7
"case_$1"
