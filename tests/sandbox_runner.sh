#!/usr/bin/env bash
# The sandbox runner really isolates: inside, /etc/hosts is the seeded copy and changing
# it leaves this machine's byte-identical, the network has no route, the macOS commands
# are the stand-ins; it cleans up after itself and refuses to run a command when the
# sandbox cannot be built.
#
# usage: sandbox_runner.sh RUNNER STANDIN_DIR CASE   (CASE: isolation, lifecycle, refusals)
#        sandbox_runner.sh - - inside-connect-cycle      (inside a sandbox)

# Functions are picked by name from the command line.
# shellcheck disable=SC2317
set -uo pipefail

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

finish() {
    if ((failures)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# --- checks made inside the sandbox ---------------------------------------------------

inside_isolation() {
    [[ ${TARVEX_SANDBOX:-} == 1 ]] || fail "TARVEX_SANDBOX is not 1"
    [[ ${TARVEX_SERVICE_SOCKET:-} == /tmp/* ]] || fail "service socket outside the private /tmp"
    [[ ${EXTRA_PROBE:-} == "with spaces; and more" ]] || fail "--env value: ${EXTRA_PROBE:-}"
    [[ $(sha256sum </etc/hosts) == "$EXPECT_HOSTS_SUM" ]] || fail "/etc/hosts is not the seed"
    [[ $(getent hosts sandboxseed.example) == "198.51.100.7"* ]] || fail "name from the seed"

    # The daemon replaces /etc/hosts by writing and renaming; both must work here.
    printf '203.0.113.10\ttarvex.example\n' >>/etc/hosts || fail "appending to /etc/hosts"
    cp /etc/hosts /etc/hosts.tarvex-new || fail "writing next to /etc/hosts"
    mv /etc/hosts.tarvex-new /etc/hosts || fail "renaming over /etc/hosts"
    echo "# changed inside" >/etc/hosts || fail "rewriting /etc/hosts"
    echo probe >/etc/tarvex-sandbox-probe || fail "creating a file in /etc"

    # /sbin/route and friends are the stand-ins, on the seeded simulated Mac.
    local path
    for path in /sbin/ifconfig /sbin/route /usr/sbin/networksetup /usr/bin/dscacheutil \
                /usr/bin/killall; do
        cmp -s "$path" /usr/bin/tarvex-macos || fail "$path is not the stand-in"
    done
    [[ $(/sbin/route -n get default) == *"    gateway: 192.168.1.1"* ]] \
        || fail "route -n get default inside"
    /sbin/route -n add -host 203.0.113.10 192.168.1.1 >/dev/null || fail "route add inside"
    [[ $(tail -1 "$TARVEX_SIM_STATE/log") == "/sbin/route -n add -host 203.0.113.10 192.168.1.1" ]] \
        || fail "invocation log inside"
    [[ $(/usr/sbin/networksetup -listallnetworkservices) == *"*Thunderbolt Bridge"* ]] \
        || fail "seeded services"

    # Only a loopback: no route anywhere, no DNS server, a name from the seed resolves.
    [[ $(ip -o link show | awk -F': ' '{print $2}') == lo ]] || fail "links other than lo"
    [[ -z $(ip -4 route show) ]] || fail "IPv4 routes: $(ip -4 route show)"
    ! ip -6 route show | grep -qv '^::1 dev lo' || fail "IPv6 routes: $(ip -6 route show)"
    [[ $(ip route get 1.1.1.1 2>&1) == *"unreachable"* ]] || fail "1.1.1.1 is reachable"
    local started
    started=$(date +%s)
    ! getent ahosts tarvex-sandbox-probe.example >/dev/null || fail "an unknown name resolved"
    (($(date +%s) - started < 5)) || fail "a failing lookup took more than 5 s"

    # Private and writable: /tmp, /run/wireguard, /dev/shm; everything else read-only.
    mkdir /tmp/tarvex-client-amneziawg || fail "runtime directory"
    [[ -z $(ls -A /run/wireguard) ]] || fail "/run/wireguard not empty"
    touch /run/wireguard/utun7.sock /dev/shm/tarvex-probe || fail "private /run/wireguard, /dev/shm"
    ! touch /tarvex-sandbox-probe 2>/dev/null || fail "the root file system is writable"
    ! touch /var/tmp/tarvex-sandbox-probe 2>/dev/null || fail "/var/tmp is writable"
    [[ $HOME == /tmp/* && -d $HOME && -w $HOME ]] || fail "private HOME"
    [[ $(cat "$WRITABLE_DIR/mark" 2>/dev/null) == outside ]] || fail "--writable folder content"
    echo inside >"$WRITABLE_DIR/mark" || fail "--writable folder not writable"
    finish
}

inside_leftover() {
    # A process the command leaves behind (a daemon it forgot) must not outlive the sandbox.
    (exec -a "$LEFTOVER_TAG" sleep 300) &
    exit 0
}

# A connect and a disconnect, made of exactly the command lines the daemon runs, through
# the macOS paths: every step succeeds and the simulated Mac ends as it began.
inside_connect_cycle() {
    local before gateway utun owner service
    before=$(tarvex-macos dump)
    sleep 300 &
    owner=$!
    utun=$(tarvex-macos interface new utun --pid "$owner") || fail "tunnel interface"
    gateway=$(/sbin/route -n get default | awk '/^ *gateway:/ {print $2}')
    [[ $gateway == 192.168.1.1 ]] || fail "default gateway $gateway"

    local -a steps=(
        "/sbin/ifconfig $utun inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 1280 up"
        "/sbin/ifconfig $utun inet6 fd58:baa6:dead::1 prefixlen 128 alias"
        "/sbin/route -n add -host 203.0.113.50 $gateway"
        "/sbin/route -n add -host 198.51.100.7 $gateway"
        "/sbin/route -n add -net 0.0.0.0/1 -interface $utun"
        "/sbin/route -n add -net 128.0.0.0/1 -interface $utun"
        "/sbin/route -n add -inet6 -net ::/1 -interface $utun"
        "/sbin/route -n add -inet6 -net 8000::/1 -interface $utun"
        "/sbin/route -n add -net 192.0.2.0/24 $gateway"
    )
    local step
    for step in "${steps[@]}"; do
        # shellcheck disable=SC2086
        $step >/dev/null || fail "connect step: $step"
    done

    local -A saved=()
    while IFS= read -r service; do
        [[ -z $service || $service == \** || $service == "An asterisk"* ]] && continue
        saved[$service]=$(/usr/sbin/networksetup -getdnsservers "$service")
        /usr/sbin/networksetup -setdnsservers "$service" 10.8.0.1 || fail "set DNS on $service"
    done < <(/usr/sbin/networksetup -listallnetworkservices)
    ((${#saved[@]} == 2)) || fail "DNS set on ${#saved[@]} services, expected 2"
    /usr/bin/dscacheutil -flushcache || fail "flush cache"
    /usr/bin/killall -HUP mDNSResponder || fail "reload mDNSResponder"
    [[ $(/sbin/route -n get 8.8.8.8) == *"interface: $utun"* ]] || fail "traffic not in the tunnel"
    [[ $(/sbin/route -n get 203.0.113.50) == *"gateway: $gateway"* ]] || fail "server not outside"

    for service in "${!saved[@]}"; do
        if [[ ${saved[$service]} == "There aren't any DNS Servers"* ]]; then
            /usr/sbin/networksetup -setdnsservers "$service" Empty
        else
            # shellcheck disable=SC2086
            /usr/sbin/networksetup -setdnsservers "$service" ${saved[$service]}
        fi
    done
    for step in "-host 198.51.100.7" "-net 192.0.2.0/24" "-inet6 -net 8000::/1" \
                "-inet6 -net ::/1" "-net 128.0.0.0/1" "-net 0.0.0.0/1" "-host 203.0.113.50"; do
        # shellcheck disable=SC2086
        /sbin/route -n delete $step >/dev/null || fail "disconnect step: route delete $step"
    done
    # The tunnel program ends; its interface goes with it.
    kill "$owner"
    wait "$owner" 2>/dev/null
    /usr/bin/dscacheutil -flushcache
    [[ $(tarvex-macos dump) == "$before" ]] || fail "state after disconnect:"$'\n'"$(diff <(echo "$before") <(tarvex-macos dump))"
    finish
}

# --- checks made outside ----------------------------------------------------------------

runner=$1
standins=$2
case_name=$3
if [[ $case_name == inside-* ]]; then
    inside_case=${case_name#inside-}
    "inside_${inside_case//-/_}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
self=$(realpath "$0")

case_isolation() {
    local hosts_before run_before tmp_before
    hosts_before=$(sha256sum /etc/hosts)
    run_before=$([[ -e /run/wireguard ]] && echo present)
    tmp_before=$([[ -e /tmp/tarvex-client-amneziawg ]] && echo present)
    printf '127.0.0.1\tlocalhost\n198.51.100.7\tsandboxseed.example\n' >"$work/hosts"
    mkdir "$work/writable"
    echo outside >"$work/writable/mark"

    "$runner" --standins "$standins" --hosts "$work/hosts" \
        --env "EXPECT_HOSTS_SUM=$(sha256sum <"$work/hosts")" \
        --env "EXTRA_PROBE=with spaces; and more" --env "WRITABLE_DIR=$work/writable" \
        --writable "$work/writable" \
        -- bash "$self" "$runner" "$standins" inside-isolation
    local rc=$?
    ((rc == 0)) || fail "inside checks (exit $rc)"

    [[ $(sha256sum /etc/hosts) == "$hosts_before" ]] || fail "this machine's /etc/hosts changed"
    [[ ! -e /etc/tarvex-sandbox-probe ]] || fail "a file appeared in this machine's /etc"
    [[ $([[ -e /run/wireguard ]] && echo present) == "$run_before" ]] || fail "/run/wireguard leaked"
    [[ $([[ -e /tmp/tarvex-client-amneziawg ]] && echo present) == "$tmp_before" ]] \
        || fail "the runtime directory leaked"
    [[ ! -e /dev/shm/tarvex-probe ]] || fail "/dev/shm leaked"
    [[ $(cat "$work/writable/mark") == inside ]] || fail "--writable change lost"
    [[ $(cmp "$work/hosts" <(printf '127.0.0.1\tlocalhost\n198.51.100.7\tsandboxseed.example\n')) == "" ]] \
        || fail "the hosts seed was changed"
}

case_lifecycle() {
    # The command's exit status comes back; the temporary folders go.
    mkdir "$work/tmp"
    TMPDIR=$work/tmp "$runner" --standins "$standins" -- sh -c 'exit 7'
    local rc=$?
    ((rc == 7)) || fail "exit status $rc, expected 7"
    [[ -z $(ls -A "$work/tmp") ]] || fail "temporary folders left: $(ls -A "$work/tmp")"

    local tag
    tag="tarvex-leftover-$$-$RANDOM"
    TMPDIR=$work/tmp "$runner" --standins "$standins" --env "LEFTOVER_TAG=$tag" \
        -- bash "$self" "$runner" "$standins" inside-leftover
    sleep 0.2
    ! pgrep -f "$tag" >/dev/null || fail "a process outlived the sandbox"
    [[ -z $(ls -A "$work/tmp") ]] || fail "temporary folders left after a leftover process"

    # --state keeps the simulated Mac between runs, seeded once.
    "$runner" --standins "$standins" --state "$work/state" \
        -- sh -c 'route -n add -host 203.0.113.5 192.168.1.1 >/dev/null' || fail "first --state run"
    [[ -f $work/state/routes ]] || fail "--state folder not kept"
    "$runner" --standins "$standins" --state "$work/state" \
        -- sh -c 'route -n get 203.0.113.5 | grep -q "destination: 203.0.113.5"' \
        || fail "the state did not carry over to the second run"
    [[ $(grep -c . "$work/state/log") == 2 ]] || fail "log of both runs: $(cat "$work/state/log")"
}

# expect_refusal DESCRIPTION RUNNER-ARGS...: the runner exits 125 and the command never runs.
expect_refusal() {
    local description=$1
    shift
    local output rc
    output=$("$@" 2>&1)
    rc=$?
    ((rc == 125)) || fail "$description: exit $rc, expected 125"
    [[ $output != *COMMAND-RAN* ]] || fail "$description: the command ran"
    [[ $output == *tarvex-sandbox:* ]] || fail "$description: no explanation: $output"
}

case_refusals() {
    local command=(-- sh -c 'echo COMMAND-RAN')
    expect_refusal "missing stand-ins" "$runner" --standins "$work/none" "${command[@]}"
    mkdir "$work/stale"
    cp -a "$standins/." "$work/stale/"
    rm "$work/stale/route"
    cp /bin/true "$work/stale/route"
    expect_refusal "a stale stand-in" "$runner" --standins "$work/stale" "${command[@]}"
    expect_refusal "unreadable hosts seed" "$runner" --standins "$standins" \
        --hosts "$work/none" "${command[@]}"
    expect_refusal "unknown option" "$runner" --standins "$standins" --bogus "${command[@]}"
    expect_refusal "bad --env" "$runner" --standins "$standins" --env novalue "${command[@]}"
    expect_refusal "the inside entered directly" "$runner" --inside sh -c 'echo COMMAND-RAN'
    expect_refusal "the inside on this machine's namespaces" \
        env TARVEX_SANDBOX_OUTER_MNT=x TARVEX_SANDBOX_OUTER_NET=x TARVEX_SANDBOX_OUTER_PID=x \
        TARVEX_SANDBOX_WORK="$work" TARVEX_SANDBOX_STANDINS="$standins" \
        TARVEX_SANDBOX_STATE="$work" TARVEX_SANDBOX_HOSTS_SUM=x \
        "$runner" --inside sh -c 'echo COMMAND-RAN'
    # A copy that an unprivileged user can read, wherever the tree was checked out.
    mkdir "$work/public"
    cp "$runner" "$work/public/"
    chmod 711 "$work"
    chmod -R a+rX "$work/public"
    expect_refusal "not root" setpriv --reuid=65534 --regid=65534 --clear-groups \
        "$work/public/$(basename "$runner")" --standins "$standins" "${command[@]}"
    # A sandbox that cannot be built (here: namespaces not allowed) never runs the
    # command, although unshare's own failure looks like any exit status.
    expect_refusal "no namespaces" setpriv --bounding-set=-sys_admin \
        "$runner" --standins "$standins" "${command[@]}"
}

case "$case_name" in
    isolation | lifecycle | refusals) "case_$case_name" ;;
    *) echo "unknown case $case_name"; exit 2 ;;
esac
finish
