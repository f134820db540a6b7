#!/usr/bin/env bash
# End to end: the daemon's block in /etc/hosts on a file whose mode denies writing and on a
# write-protected file.

# shellcheck disable=SC2317,SC2119 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

scenario_read_only_mode_kept() {
    # Mode bits do not stop root, on macOS as here: the block is written, and the file keeps
    # its mode and owner (which expect_restored compares).
    chmod 0444 /etc/hosts
    chown 1:1 /etc/hosts
    snapshot
    connected
    expect_hosts_pinned
    disconnect_restored
    chmod 0644 /etc/hosts
    chown 0:0 /etc/hosts
}

scenario_write_protected_hosts() {
    # The immutable flag (chflags uchg on macOS) stops root too: a warning, and the
    # connection comes up all the same, with the bypass routes.
    chattr +i /etc/hosts || { fail "chattr +i is not supported here"; return; }
    snapshot
    connected
    expect_daemon_log "[MacVpnBackend] unable to write hosts file"
    expect_full_tunnel_routes
    disconnect_restored
    chattr -i /etc/hosts
}

run_scenarios read_only_mode_kept write_protected_hosts
