#!/usr/bin/env bash
# End to end, inside the sandbox: the daemon brings a full tunnel up as asked, and a
# disconnect gives the simulated Mac back exactly as it was. (Every kind of routing, split
# tunnelling included, is the backend's own test on the same simulation.)

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

scenario_full_tunnel() {
    # A service without DNS servers of its own must get none back, not the tunnel's.
    networksetup -setdnsservers Wi-Fi Empty || fail "cannot empty Wi-Fi's DNS servers"
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    local utun
    utun=$(tunnel_interface)
    [[ $utun == utun[0-9]* && $utun != utun[01] ]] || fail "tunnel interface '$utun'"
    grep -qx "  inet 10.8.0.5 dest 10.8.0.5 netmask 255.255.255.255" <<<"$(tarvex-macos dump)" \
        || fail "the tunnel's IPv4 address"

    # Half-space routes of both families into the tunnel; the server and the vendor's API
    # host via the old gateway, which stays the default route.
    expect_routes "$SERVER_ROUTE" "${DOMAIN_ROUTES[@]}" \
        "route inet 0.0.0.0/1 interface $utun" "route inet 128.0.0.0/1 interface $utun" \
        "route inet6 ::/1 interface $utun" "route inet6 8000::/1 interface $utun"
    expect_dns_servers "$TUNNEL_DNS"
    expect_hosts_pinned

    # The tunnel program got the server and the allowed IPs over UAPI.
    local record=/tmp/tarvex-client-amneziawg/$utun.json
    grep -q '"endpoint": *"198.51.100.10:51820"' "$record" || fail "UAPI endpoint: $(cat "$record")"
    grep -q '"::/0"' "$record" || fail "UAPI allowed IPs: $(cat "$record")"
    # Keys reach the tunnel program, never the daemon's log.
    ! grep -qiE 'YVeUrP0pFOTTES4G|615794acfd2914e4|qQft34zCryOy6uvo|a907eddf8cc2af23' "$daemon_log" \
        || fail "a private or pre-shared key in the daemon log"

    ctl status
    [[ $ctl_output == "status: connected"* && $ctl_output == *'"protocol":"amnezia-v1"'* ]] \
        || fail "status while connected: $ctl_output"

    ctl disconnect
    expect_disconnected
    expect_restored
    grep -qx '/usr/sbin/networksetup -setdnsservers Wi-Fi Empty' <<<"$(sim_log_since_snapshot)" \
        || fail "Wi-Fi's DNS servers were not emptied again"
    networksetup -setdnsservers Wi-Fi 192.168.1.1 || fail "cannot give Wi-Fi its seeded DNS server"
}

run_scenarios full_tunnel
