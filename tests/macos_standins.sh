#!/usr/bin/env bash
# The macOS command stand-ins as programs: several at once keep the state whole, they
# resolve names and log every invocation, fail the macOS way and honour knobs. (The forms
# the daemon runs and parses are the backend's tests, on the same simulation.) They only
# ever touch a temporary state folder, so this runs outside the sandbox.
# usage: macos_standins.sh STANDIN_DIR CASE   (CASE: state, formats, failures, knobs)
# Route arguments are kept as words in strings, split on purpose; cases are picked by name.
# shellcheck disable=SC2086,SC2317
set -uo pipefail

bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TARVEX_SIM_STATE=$work/state
unset TARVEX_SIM_KNOBS

# shellcheck source=checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
# expect WHAT GOT WANTED
expect() { [[ $2 == "$3" ]] || fail "$1: got"$'\n'"$2"$'\n'"expected"$'\n'"$3"; }
dump() { "$bin/tarvex-macos" dump; }
seed() { "$bin/tarvex-macos" seed || fail "seed"; }

# run PROGRAM ARG...: runs a stand-in, keeping its exit code, stdout and stderr.
run() {
    "$bin/$1" "${@:2}" >"$work/out" 2>"$work/err"
    rc=$?
    out=$(<"$work/out") err=$(<"$work/err")
}

# What a connect and its disconnect do to the state is the backend's own test, run on
# the same simulation in-process; here, what only the programs show.
case_state() {
    seed
    local i
    # Concurrent commands do not lose each other's changes.
    for i in $(seq 1 20); do "$bin/route" -n add -host "10.9.0.$i" 192.168.1.1 >/dev/null & done
    wait
    expect "parallel route adds all kept" "$(dump | grep -c 'route inet 10.9.0.')" 20

    # A broken state file is reported, never guessed around.
    echo "inet nonsense" >>"$TARVEX_SIM_STATE/routes"
    run route -n get default
    [[ $rc == 70 && $err == *'routes:23: cannot read "inet nonsense"' ]] \
        || fail "malformed routes file: $rc $err"
}

case_formats() {
    seed
    run route -n get -inet6 default
    [[ $out == *$'\n    gateway: fe80::1%en0\n'* ]] || fail "inet6 gateway keeps its scope: $out"

    # The server's route may name a host: route resolves it, like macOS.
    run route -n add -host localhost 192.168.1.1
    [[ $(dump) == *"route inet 127.0.0.1 gateway 192.168.1.1 en0"* ]] || fail "route by host name"

    # Every invocation is logged before anything else, quoted so that bash reads it back.
    : >"$TARVEX_SIM_STATE/log"
    run route -n add -host "it's" $'a\nb'
    (exec -a /sbin/route "$bin/route" -n get default) >/dev/null 2>&1
    echo 'hang route -n delete *' >"$TARVEX_SIM_STATE/knobs"
    timeout 0.3 "$bin/route" -n delete -host 10.0.0.1 >/dev/null 2>&1
    "$bin/tarvex-macos" dump >/dev/null
    expect "log lines" "$(sed "s|^$bin/||" "$TARVEX_SIM_STATE/log")" "$(cat <<'EOF'
route -n add -host 'it'\''s' $'a\nb'
/sbin/route -n get default
route -n delete -host 10.0.0.1
EOF
)"
}

# expect_failure CODE STDERR CMD...: the command fails with that exit code and standard
# error and leaves the state as it was.
expect_failure() {
    local before
    before=$(dump)
    run "${@:3}"
    expect "exit code and stderr of ${*:3}" "$rc $err" "$1 $2"
    expect "state after the failing ${*:3}" "$(dump)" "$before"
}

case_failures() {
    seed
    "$bin/route" -n add -host 203.0.113.7 192.168.1.1 >/dev/null
    "$bin/tarvex-macos" interface add utun7
    local socket="route: writing to routing socket:" invalid=$'\n** Error: The parameters were not valid.'
    expect_failure 1 "$socket File exists" route -n add -host 203.0.113.7 192.168.1.1
    # A host route and a /32 network route are the same key.
    expect_failure 1 "$socket File exists" route -n add -net 203.0.113.7/32 -interface en0
    expect_failure 1 "$socket not in table" route -n delete -host 203.0.113.99
    expect_failure 68 "route: bad address: utun9" route -n add -net 10.0.0.0/8 -interface utun9
    expect_failure 68 "route: bad address: ::/1" route -n add -net ::/1 -interface en0
    expect_failure 68 "route: bad address: nowhere.invalid" route -n add -host nowhere.invalid 192.168.1.1
    # route get of something missing says so but exits 0, like BSD route.
    run route -n delete default
    expect_failure 0 "$socket not in table" route -n get default
    expect "no output when get finds nothing" "$out" ""

    expect_failure 1 "ifconfig: interface utun9 does not exist" \
        ifconfig utun9 inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 1280 up
    expect_failure 1 "ifconfig: ioctl (SIOCAIFADDR): Destination address required" \
        ifconfig utun7 inet 10.8.0.2 netmask 255.255.255.255 up

    expect_failure 4 "Nowhere is not a recognized network service.$invalid" \
        networksetup -getdnsservers Nowhere
    expect_failure 4 "dns.example is not a valid IP address.$invalid" \
        networksetup -setdnsservers Wi-Fi 1.1.1.1 dns.example
    # The asterisk only marks the listing; it is not part of the name.
    expect_failure 4 "*Thunderbolt Bridge is not a recognized network service.$invalid" \
        networksetup -getdnsservers "*Thunderbolt Bridge"
    expect_failure 1 "No matching processes belonging to you were found" killall -HUP noSuchDaemon

    # Under a path that macOS does not have, the command does not exist.
    (exec -a /usr/sbin/route "$bin/route" -n get default) >/dev/null 2>"$work/err"
    expect "route started as /usr/sbin/route" "$?|$(<"$work/err")" \
        "127|/usr/sbin/route: No such file or directory on macOS (the command is /sbin/route)"
    # Never anything real: without a state the stand-ins refuse.
    TARVEX_SIM_STATE='' "$bin/route" -n get default >/dev/null 2>&1
    expect "route without TARVEX_SIM_STATE" "$?" 70
}

case_knobs() {
    seed
    local knobs=$TARVEX_SIM_STATE/knobs i results="" start elapsed
    # nth=N fires on the N-th match only, from=N on the N-th and later; each rule counts
    # its own matches, and a knob failure leaves the state alone.
    printf '%s\n' 'fail nth=3 route *add -host *' 'fail from=2 route *add -net *' >"$knobs"
    for i in "-host 10.1.0.1" "-net 10.2.0.0/16" "-host 10.1.0.2" "-net 10.3.0.0/16" \
             "-host 10.1.0.3" "-net 10.4.0.0/16" "-host 10.1.0.4"; do
        run route -n add $i 192.168.1.1
        results+="$rc "
    done
    expect "nth=3 and from=2" "$results|$err" "0 0 0 1 1 1 0 |"
    expect "routes kept" "$(dump | grep -c 'route inet 10\.')" 4

    cat >"$knobs" <<'EOF'
# comments and blank lines are ignored

fail exit=3 stderr="networksetup: it broke; badly" networksetup -setdnsservers Thunderbolt Bridge *
reply stdout="   route to: default\ndestination: default\n    gateway: fe80::1%en0\n" route -n get default
EOF
    run networksetup -setdnsservers "Thunderbolt Bridge" 1.1.1.1
    expect "fail with exit and stderr" "$rc $err" "3 networksetup: it broke; badly"
    run route -n get default
    expect "reply" "$out" $'   route to: default\ndestination: default\n    gateway: fe80::1%en0'

    # hang: sleeps, then works normally; a killed hang changes nothing and holds no lock.
    echo 'hang seconds=0.4 route -n add *' >"$knobs"
    start=$(date +%s%N)
    run route -n add -host 10.2.0.1 192.168.1.1
    elapsed=$((($(date +%s%N) - start) / 1000000))
    ((rc == 0 && elapsed >= 400)) || fail "hang seconds=0.4: exit $rc after $elapsed ms"
    echo 'hang route -n add *' >"$knobs"
    timeout 1 "$bin/route" -n add -host 10.2.0.2 192.168.1.1 >/dev/null 2>&1 &
    sleep 0.2
    timeout 0.7 "$bin/networksetup" -listallnetworkservices >/dev/null
    expect "other programs are not held up by a hang" "$?" 0
    wait $!
    expect "hang until killed" "$?" 124
    [[ $(dump) == *10.2.0.1* && $(dump) != *10.2.0.2* ]] || fail "state after the hangs"

    echo 'crash killall *' >"$knobs"
    expect "crash" "$( ("$bin/killall" -HUP mDNSResponder) 2>/dev/null; echo $?)" 139
    # The environment adds rules; ';' separates them; '*' matches any program.
    rm "$knobs"
    TARVEX_SIM_KNOBS='fail dscacheutil; fail exit=9 * -HUP *' "$bin/killall" -HUP mDNSResponder 2>/dev/null
    expect "environment knob for any program" "$?" 9

    # A rule that cannot be read fails the command loudly instead of being ignored.
    echo 'fail nth=x route' >"$knobs"
    run route -n get default
    [[ $rc == 70 && $err == *"bad knob"* ]] || fail "bad knob: $rc $err"
}

declare -F "case_$2" >/dev/null || { echo "unknown case $2"; exit 2; }
"case_$2"
finish
