#!/usr/bin/env bash
# The sandbox runner really isolates (its /etc/hosts, network, macOS commands and files are
# its own), hands back the command's exit status and refuses to run a command when the
# sandbox cannot be built or a check on it fails. Usage: sandbox_runner.sh RUNNER STANDIN_DIR CASE
# shellcheck disable=SC2317  # functions are picked by name from the command line
set -uo pipefail
# shellcheck source=checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

inside_isolation() {
    [[ ${TARVEX_SANDBOX:-} == 1 && ${TARVEX_SERVICE_SOCKET:-} == /tmp/* ]] || fail "environment"
    [[ $(sha256sum </etc/hosts) == "$EXPECT_HOSTS_SUM" ]] || fail "/etc/hosts is not the seed"
    # The daemon replaces /etc/hosts by writing a copy and renaming it over.
    { cp /etc/hosts /etc/hosts.new && echo "# inside" >>/etc/hosts.new && mv /etc/hosts.new /etc/hosts; } \
        || fail "replacing /etc/hosts"
    local path
    for path in /sbin/ifconfig /sbin/route /usr/sbin/networksetup /usr/bin/dscacheutil /usr/bin/killall; do
        cmp -s "$path" /usr/bin/tarvex-macos || fail "$path is not the stand-in"
    done
    # Only a loopback: no route anywhere, no DNS server.
    [[ $(ip -o link show | awk -F': ' '{print $2}') == lo ]] || fail "links other than lo"
    [[ -z $(ip -4 route show; ip -6 route show | grep -v '^::1 dev lo') ]] || fail "routes exist"
    ! getent ahosts tarvex-sandbox-probe.example >/dev/null || fail "an unknown name resolved"
    # Writable (touch exits 0) but private: /etc, /tmp, /run/wireguard, /dev/shm; the rest
    # is read-only (touch exits 1).
    for path in /etc:0 /tmp:0 /run/wireguard:0 /dev/shm:0 /:1 /var/tmp:1; do
        touch "${path%:*}/$SANDBOX_PROBE" 2>/dev/null
        [[ $? == "${path#*:}" ]] || fail "${path%:*}: touch did not exit ${path#*:}"
    done
    [[ $HOME == /tmp/* && -w $HOME ]] || fail "private HOME"
    # All passed: a status of its own, which the runner must hand back as it is.
    ((failures)) && finish
    exit 7
}

runner=$1 standins=$2 case_name=$3
[[ $case_name == inside-* ]] && "${case_name//-/_}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case_isolation() {
    local hosts_before probe path rc
    hosts_before=$(sha256sum /etc/hosts)
    probe="tarvex-probe-$$-$RANDOM; with spaces"
    printf '127.0.0.1\tlocalhost\n198.51.100.7\tsandboxseed.example\n' >"$work/hosts"
    cp "$work/hosts" "$work/seed"
    "$runner" --standins "$standins" --hosts "$work/hosts" \
        --env "EXPECT_HOSTS_SUM=$(sha256sum <"$work/hosts")" --env "SANDBOX_PROBE=$probe" \
        -- bash "$(realpath "$0")" - - inside-isolation
    rc=$?
    ((rc == 7)) || fail "inside checks (exit $rc, expected 7)"
    [[ $(sha256sum /etc/hosts) == "$hosts_before" ]] || fail "this machine's /etc/hosts changed"
    cmp -s "$work/hosts" "$work/seed" || fail "the hosts seed was changed"
    for path in /etc /tmp /run/wireguard /dev/shm; do
        [[ ! -e $path/$probe ]] || fail "a file leaked into this machine's $path"
    done
}

# expect_refusal DESCRIPTION COMMAND...: the runner exits 125, says why, and the command
# it was given never runs.
expect_refusal() {
    local output rc
    output=$("${@:2}" sh -c 'echo COMMAND-RAN' 2>&1)
    rc=$?
    [[ $rc == 125 && $output == *tarvex-sandbox:* && $output != *COMMAND-RAN* ]] \
        || fail "$1: exit $rc, output: $output"
}

case_refusals() {
    cp -r "$standins" "$work/stale"
    cp --remove-destination /bin/true "$work/stale/route"
    expect_refusal "a stale stand-in" "$runner" --standins "$work/stale" --
    expect_refusal "the inside entered directly" "$runner" --inside
    # Inside checks that fail: here, the namespaces are this machine's.
    expect_refusal "the inside on this machine's namespaces" \
        env TARVEX_SANDBOX_OUTER_MNT=x TARVEX_SANDBOX_OUTER_NET=x TARVEX_SANDBOX_OUTER_PID=x \
        TARVEX_SANDBOX_WORK="$work" TARVEX_SANDBOX_STANDINS="$standins" \
        TARVEX_SANDBOX_STATE="$work" TARVEX_SANDBOX_HOSTS_SUM=x "$runner" --inside
    # A sandbox that cannot be built (namespaces not allowed) never runs the command,
    # although unshare's own failure looks like any exit status.
    expect_refusal "no namespaces" setpriv --bounding-set=-sys_admin "$runner" --standins "$standins" --
}

"case_$case_name"
finish
