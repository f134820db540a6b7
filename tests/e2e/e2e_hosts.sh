#!/usr/bin/env bash
# End to end, inside the sandbox: the daemon's block in /etc/hosts on files that are not
# as it left them: a block left by a daemon that died, a file whose mode denies writing, a
# write-protected file. (The block's edits on every kind of content, bytes that are not
# UTF-8 included, are HostsFileEditor's test.)

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly SEED=$WORK/seed.hosts
cp /etc/hosts "$SEED"

# set_hosts FORMAT [ARG...]: /etc/hosts becomes exactly what printf makes of it, mode
# 0644, root's.
set_hosts() {
    # shellcheck disable=SC2059
    printf "$@" >/etc/hosts
    chmod 0644 /etc/hosts
    chown 0:0 /etc/hosts
}

# connect_and_disconnect: a full tunnel pinned on top of the snapshot's hosts file, then
# taken down again.
connect_and_disconnect() {
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    expect_hosts_pinned "${1:-$WORK/before.hosts}"
    ctl disconnect
    expect_disconnected
}

scenario_leftover_block_replaced() {
    set_hosts '%s# BEGIN TARVEX_VPN_CLIENT\n192.0.2.99\t%s\n# END TARVEX_VPN_CLIENT\n' \
        "$(cat "$SEED")"$'\n' "$DOMAIN"
    snapshot
    # Exactly one block, with today's addresses, and none after the disconnect.
    connect_and_disconnect "$SEED"
    cp "$SEED" "$WORK/before.hosts"
    expect_restored
}

scenario_read_only_mode_kept() {
    # Mode bits do not stop root, on macOS as here: the block is written and the file keeps
    # its mode and owner.
    set_hosts '%s\n' "$(cat "$SEED")"
    chmod 0444 /etc/hosts
    chown 1:1 /etc/hosts
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    expect_hosts_pinned
    [[ $(stat -c '%a %u:%g' /etc/hosts) == "444 1:1" ]] \
        || fail "pinned hosts file mode/owner: $(stat -c '%a %u:%g' /etc/hosts)"
    ctl disconnect
    expect_disconnected
    expect_restored
}

scenario_write_protected_hosts() {
    # The immutable flag (chflags uchg on macOS) stops root too: a warning, and the
    # connection comes up all the same, with the bypass routes.
    set_hosts '%s\n' "$(cat "$SEED")"
    chattr +i /etc/hosts || { fail "chattr +i is not supported here"; return; }
    snapshot
    ctl connect "$(vpn_config full-tunnel)"
    expect_connected
    expect_daemon_log "[MacVpnBackend] unable to write hosts file"
    cmp -s "$WORK/before.hosts" /etc/hosts || fail "the protected hosts file changed"
    local utun
    utun=$(tunnel_interface)
    expect_routes "$SERVER_ROUTE" "${DOMAIN_ROUTES[@]}" \
        "route inet 0.0.0.0/1 interface $utun" "route inet 128.0.0.0/1 interface $utun" \
        "route inet6 ::/1 interface $utun" "route inet6 8000::/1 interface $utun"
    ctl disconnect
    expect_disconnected
    expect_restored
    chattr -i /etc/hosts
}

run_scenarios leftover_block_replaced read_only_mode_kept write_protected_hosts
