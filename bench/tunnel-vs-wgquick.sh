#!/usr/bin/env bash
# Brings a real WireGuard tunnel up and down, alternately with the daemon (tarvexctl
# connect / disconnect) and with wg-quick up / down of the same configuration, in the
# live sandbox's network (tools/sandbox/tarvex-live-net), and prints the medians.
#
# usage (as root, from the repository root, after building into build/):
#   bash bench/tunnel-vs-wgquick.sh [RUNS]        (default 15 runs of each)
#
# Both tunnels use wireguard-go (this kernel has no WireGuard module, so wg-quick falls
# back to it as well), the same keys, endpoint, MTU, addresses and the allowed networks
# 10.8.1.0/24 and 10.99.0.0/24: the full tunnel (0.0.0.0/0) would need wg-quick's
# fwmark policy routing with iptables or nft, which are not installed here. wg-quick's
# DNS line is left out (it needs resolvconf, not installed); the daemon sets its DNS on
# the simulated Mac. Times per run:
#   up      connect or "wg-quick up" until it returns
#   first   connect start until the first ping reply from 10.99.0.1 through the tunnel
#   down    disconnect until the tunnel interface is gone ("wg-quick down" returns
#           before wireguard-go has removed its interface, so its time runs until then)
set -uo pipefail

median() {
    sort -n | awk '{v[NR] = $1} END {
        if (NR == 0) { print "nan"; exit }
        print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

now_ms() {
    local t=${EPOCHREALTIME/[.,]/}
    echo $((t / 1000))
}

first_reply() {
    local i
    for ((i = 0; i < 500; i++)); do
        ping -c 1 -W 1 -q "$1" >/dev/null 2>&1 && return 0
    done
    return 1
}

link_gone() {
    local i
    for ((i = 0; i < 1000; i++)); do
        ip link show "$1" >/dev/null 2>&1 || return 0
        sleep 0.002
    done
    return 1
}

inside() {
    local runs=$1 build=$2 vendor
    vendor=$(sed -n 's/^TARVEX_VENDOR_DOMAIN:STRING=//p' "$build/CMakeCache.txt")
    local live_net=$build/tools/sandbox/tarvex-live-net net=/tmp/bench-net
    "$live_net" up "$net" >/dev/null || exit 1
    # shellcheck source=/dev/null
    source "$net/env"
    # The API host resolves, so the daemon does its whole connect, bypass route included.
    printf '203.0.113.80\t%s\n' "$vendor" >>/etc/hosts

    (cd "$build/tools/amneziawg-go" &&
        exec env QT_MESSAGE_PATTERN='%{time process} %{message}' "$build/service/TarvexVpnService") \
        2>/tmp/daemon.log &
    local i
    for ((i = 0; i < 200; i++)); do
        [[ -S $TARVEX_SERVICE_SOCKET ]] && break
        sleep 0.05
    done

    local allowed=10.8.1.0/24,10.99.0.0/24
    "$live_net" config "$net" --allowed-ips "$allowed" \
        | "$build/tools/vpnconfig-encode/vpnconfig-encode" >/tmp/bench.vpn
    mkdir -m 700 /tmp/wgq
    cat >/tmp/wgq/wgq0.conf <<EOF
[Interface]
PrivateKey = $(cat "$net/client.key")
Address = $CLIENT_TUNNEL_IP/32, $CLIENT_TUNNEL_IP6/128
MTU = 1280

[Peer]
PublicKey = $SERVER_PUB
PresharedKey = $(cat "$net/psk")
Endpoint = $ENDPOINT:$SERVER_PORT
AllowedIPs = ${allowed/,/, }
PersistentKeepalive = 25
EOF
    chmod 600 /tmp/wgq/wgq0.conf

    local ctl=$build/tools/tarvexctl/tarvexctl target=$BEHIND_IP
    local -a d_up d_first d_down q_up q_first q_down
    local t0 t1 t2 t3 run
    # One unmeasured round of each warms the page cache and the server's peer.
    for ((run = 0; run <= runs; run++)); do
        t0=$(now_ms)
        "$ctl" connect /tmp/bench.vpn >/dev/null || { echo "daemon connect failed" >&2; exit 1; }
        t1=$(now_ms)
        first_reply "$target" || { echo "no reply through the daemon's tunnel" >&2; exit 1; }
        t2=$(now_ms)
        "$ctl" disconnect >/dev/null || { echo "daemon disconnect failed" >&2; exit 1; }
        link_gone utun2
        t3=$(now_ms)
        ((run)) && d_up+=($((t1 - t0))) d_first+=($((t2 - t0))) d_down+=($((t3 - t2)))

        t0=$(now_ms)
        wg-quick up /tmp/wgq/wgq0.conf >/dev/null 2>&1 || { echo "wg-quick up failed" >&2; exit 1; }
        t1=$(now_ms)
        first_reply "$target" || { echo "no reply through wg-quick's tunnel" >&2; exit 1; }
        t2=$(now_ms)
        wg-quick down /tmp/wgq/wgq0.conf >/dev/null 2>&1 || { echo "wg-quick down failed" >&2; exit 1; }
        link_gone wgq0
        t3=$(now_ms)
        ((run)) && q_up+=($((t1 - t0))) q_first+=($((t2 - t0))) q_down+=($((t3 - t2)))
    done

    # Where the daemon's connect goes, from its log: the whole connectVpn, the macOS
    # commands in it (each a stand-in process here, which in live mode also runs ip) and
    # the tunnel program's start (amneziawg-go and wireguard-go until the UAPI socket
    # answers, the daemon polling the name file every 20 ms).
    local phases
    phases=$(awk '
        / connectVpn start/ { inside = 1; begin = $1; n = 0; sum = 0 }
        inside && / runCommand / { start = $1 }
        inside && / command finished / { sum += $1 - start; n++ }
        inside && / start process / { tunnel = $1 }
        inside && / tunnel interface / { tunnel = $1 - tunnel }
        inside && /\[MacVpnBackend\] connected$/ {
            printf "%.0f %d %.0f %.0f\n", ($1 - begin) * 1000, n, sum * 1000, tunnel * 1000
            inside = 0
        }
    ' /tmp/daemon.log | tail -n "$runs")
    local standin_cost ip_cost
    standin_cost=$( { for ((i = 0; i < 20; i++)); do
        t0=$(now_ms); /sbin/route -n get default >/dev/null; t1=$(now_ms); echo $((t1 - t0)); done; } | median)
    ip_cost=$( { for ((i = 0; i < 20; i++)); do
        t0=$(now_ms); ip route show >/dev/null; t1=$(now_ms); echo $((t1 - t0)); done; } | median)

    local du dq df qf dd qd
    du=$(printf '%s\n' "${d_up[@]}" | median)
    dq=$(printf '%s\n' "${q_up[@]}" | median)
    df=$(printf '%s\n' "${d_first[@]}" | median)
    qf=$(printf '%s\n' "${q_first[@]}" | median)
    dd=$(printf '%s\n' "${d_down[@]}" | median)
    qd=$(printf '%s\n' "${q_down[@]}" | median)
    echo "runs: $runs of each, alternating; medians in ms"
    printf '%-28s %10s %10s %8s\n' "" daemon wg-quick ratio
    printf '%-28s %10s %10s %8.2f\n' "up (command returns)" "$du" "$dq" "$(echo "$du $dq" | awk '{print $1 / $2}')"
    printf '%-28s %10s %10s %8.2f\n' "first ping reply" "$df" "$qf" "$(echo "$df $qf" | awk '{print $1 / $2}')"
    printf '%-28s %10s %10s %8.2f\n' "down (interface gone)" "$dd" "$qd" "$(echo "$dd $qd" | awk '{print $1 / $2}')"
    echo "daemon up, medians: connectVpn $(echo "$phases" | awk '{print $1}' | median) ms," \
        "of which $(echo "$phases" | awk '{print $2}' | median) macOS commands" \
        "$(echo "$phases" | awk '{print $3}' | median) ms and tunnel start" \
        "$(echo "$phases" | awk '{print $4}' | median) ms; the rest of up is tarvexctl and the socket"
    echo "one stand-in invocation (route -n get default), median ms: $standin_cost"
    echo "one ip invocation (ip route show), median ms: $ip_cost"
    echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "raw daemon up: ${d_up[*]}"
    echo "raw wg-quick up: ${q_up[*]}"
}

if [[ ${1:-} == --inside ]]; then
    inside "$2" "$3"
    exit
fi

runs=${1:-15}
if [[ ! $runs =~ ^[0-9]+$ ]] || ((runs < 1)); then
    echo "usage: $0 [RUNS]" >&2
    exit 2
fi
build=$(cd "${TARVEX_BUILD_DIR:-build}" 2>/dev/null && pwd) \
    || { echo "no build folder; build first or set TARVEX_BUILD_DIR" >&2; exit 2; }
command -v wg-quick >/dev/null || { echo "wg-quick (wireguard-tools) is missing" >&2; exit 2; }
exec "$build/tools/sandbox/tarvex-sandbox" --live -- bash "$(realpath "$0")" --inside "$runs" "$build"
