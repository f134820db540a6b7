#!/usr/bin/env bash
# End to end: the daemon brings a full tunnel up as asked, and a disconnect gives the
# simulated Mac back exactly as it was.

# shellcheck disable=SC2317,SC2119 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

scenario_full_tunnel() {
    # A service without DNS servers of its own must get none back, not the tunnel's.
    networksetup -setdnsservers Wi-Fi Empty || fail "cannot empty Wi-Fi's DNS servers"
    snapshot
    connected
    expect_full_tunnel_routes
    expect_dns_servers "$TUNNEL_DNS"
    expect_hosts_pinned
    # Keys reach the tunnel program, never the daemon's log.
    ! grep -qiE 'YVeUrP0pFOTTES4G|615794acfd2914e4|qQft34zCryOy6uvo|a907eddf8cc2af23' "$daemon_log" \
        || fail "a private or pre-shared key in the daemon log"

    disconnect_restored
}

run_scenarios full_tunnel
