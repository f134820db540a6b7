#!/usr/bin/env bash
# The macOS command stand-ins keep and restore their state, print the macOS formats,
# fail the macOS way and honour knobs. They only ever touch a temporary state folder,
# so this runs outside the sandbox.
#
# usage: macos_standins.sh STANDIN_DIR CASE   (CASE: state, formats, failures, knobs, log)
set -uo pipefail

bin=$(cd "$1" && pwd)
case_name=$2
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export TARVEX_SIM_STATE=$work/state
unset TARVEX_SIM_KNOBS

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run PROGRAM ARG...: runs a stand-in, keeping stdout, stderr and the exit code.
run() {
    local program=$1
    shift
    "$bin/$program" "$@" >"$work/out" 2>"$work/err"
    rc=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

expect_rc() {
    [[ $rc == "$1" ]] || fail "$2: exit code $rc, expected $1 (stderr: $err)"
}

expect_eq() {
    [[ $1 == "$2" ]] || fail "$3: got"$'\n'"$1"$'\n'"expected"$'\n'"$2"
}

dump() {
    "$bin/tarvex-macos" dump
}

seed() {
    rm -rf "$TARVEX_SIM_STATE"
    "$bin/tarvex-macos" seed || fail "seed"
}

# --- state kept and restored ----------------------------------------------------------

case_state() {
    seed
    local before
    before=$(dump)
    [[ $before == *"route inet default gateway 192.168.1.1 en0"* ]] || fail "seeded default route"
    [[ $before == *"service 'Thunderbolt Bridge' disabled dns -"* ]] || fail "seeded disabled service"

    # A connect's worth of changes, undone in reverse, gives back the identical dump.
    local utun
    utun=$("$bin/tarvex-macos" interface new utun)
    expect_eq "$utun" utun2 "first free utun after the system ones"
    run ifconfig "$utun" inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 1280 up
    expect_rc 0 "ifconfig inet"
    run ifconfig "$utun" inet6 fd58:baa6:dead::1 prefixlen 128 alias
    expect_rc 0 "ifconfig inet6 alias"
    local with_interface
    with_interface=$(dump)
    local -a added=(
        "-host 203.0.113.7 192.168.1.1"
        "-net 0.0.0.0/1 -interface $utun"
        "-net 128.0.0.0/1 -interface $utun"
        "-inet6 -net ::/1 -interface $utun"
        "-inet6 -net 8000::/1 -interface $utun"
        "-net 10.20.0.0/16 192.168.1.1"
        "-inet6 -host 2001:db8::5 -interface $utun"
    )
    local route
    for route in "${added[@]}"; do
        # shellcheck disable=SC2086
        run route -n add $route
        expect_rc 0 "route add $route"
    done
    local during
    during=$(dump)
    [[ $during == *"route inet 0.0.0.0/1 interface $utun"* ]] || fail "half route in the dump"
    [[ $during == *"route inet6 2001:db8::5 interface $utun"* ]] || fail "inet6 host route in the dump"
    run networksetup -setdnsservers Wi-Fi 10.8.0.1 10.8.0.2
    run networksetup -setdnsservers Ethernet 10.8.0.1 10.8.0.2
    for route in "-inet6 -host 2001:db8::5" "-net 10.20.0.0/16" "-inet6 -net 8000::/1" \
                 "-inet6 -net ::/1" "-net 128.0.0.0/1" "-net 0.0.0.0/1" "-host 203.0.113.7"; do
        # shellcheck disable=SC2086
        run route -n delete $route
        expect_rc 0 "route delete $route"
    done
    run networksetup -setdnsservers Wi-Fi 192.168.1.1
    run networksetup -setdnsservers Ethernet 9.9.9.9 149.112.112.112
    expect_eq "$(dump)" "$with_interface" "dump after undoing routes and DNS"

    run ifconfig "$utun" inet6 fd58:baa6:dead::1 -alias
    expect_rc 0 "ifconfig -alias"
    "$bin/tarvex-macos" interface remove "$utun" || fail "interface remove"
    expect_eq "$(dump)" "$before" "dump after removing the interface"

    # Routes through an interface vanish with it, as the kernel drops them.
    "$bin/tarvex-macos" interface add utun5 --up || fail "interface add"
    run route -n add -net 10.0.0.0/8 -interface utun5
    expect_rc 0 "route through utun5"
    "$bin/tarvex-macos" interface remove utun5
    expect_eq "$(dump)" "$before" "routes through a removed interface"

    # An interface owned by a process ends with it, zombie state included.
    sleep 30 &
    local owner=$!
    utun=$("$bin/tarvex-macos" interface new utun --pid "$owner" --mtu 1420)
    run route -n add -net 10.0.0.0/8 -interface "$utun"
    expect_rc 0 "route through an owned interface"
    [[ $(dump) == *"interface $utun mtu 1420 down"* ]] || fail "owned interface listed"
    kill "$owner"
    wait "$owner" 2>/dev/null
    expect_eq "$(dump)" "$before" "dump after the owner ended"
    run route -n get default
    [[ ! -e $TARVEX_SIM_STATE/interfaces/$utun ]] || fail "file of an ended owner's interface kept"
    [[ $("$bin/tarvex-macos" interface new utun) == "$utun" ]] || fail "name of an ended interface reused"

    # The exclusive create is the claim: two claims never get the same name.
    seed
    local names
    names=$(for _ in 1 2 3 4 5 6; do "$bin/tarvex-macos" interface new utun & done; wait)
    expect_eq "$(sort -u <<<"$names" | wc -l)" 6 "parallel claims get distinct names"

    # Concurrent commands do not lose each other's changes.
    seed
    for i in $(seq 1 20); do "$bin/route" -n add -host "10.9.0.$i" 192.168.1.1 >/dev/null & done
    wait
    expect_eq "$(dump | grep -c 'route inet 10.9.0.')" 20 "parallel route adds all kept"

    # seed refuses to overwrite, --force resets.
    run tarvex-macos seed
    expect_rc 1 "seed over an existing state"
    "$bin/tarvex-macos" seed --force || fail "seed --force"
    expect_eq "$(dump)" "$before" "seed --force resets"

    # A broken state file is reported, never guessed around.
    echo "inet nonsense" >>"$TARVEX_SIM_STATE/routes"
    run route -n get default
    expect_rc 70 "malformed routes file"
    [[ $err == *"routes:3: cannot read"* ]] || fail "malformed routes file message: $err"
}

# --- macOS output formats -------------------------------------------------------------

case_formats() {
    seed
    run route -n get default
    expect_rc 0 "route get default"
    expect_eq "$out" "$(cat <<'EOF'
   route to: default
destination: default
       mask: default
    gateway: 192.168.1.1
  interface: en0
      flags: <UP,GATEWAY,DONE,STATIC,PRCLONING,GLOBAL>
 recvpipe  sendpipe  ssthresh  rtt,msec    rttvar  hopcount      mtu     expire
       0         0         0         0         0         0      1500         0 
EOF
)" "route -n get default"

    run route -n get -inet6 default
    [[ $out == *$'\n    gateway: fe80::1%en0\n'* ]] || fail "inet6 default gateway keeps its scope: $out"

    run route -n add -host 203.0.113.7 192.168.1.1
    expect_eq "$out" "add host 203.0.113.7: gateway 192.168.1.1" "add host output"
    run route -n add -net 10.0.0.0/8 -interface en0
    expect_eq "$out" "add net 10.0.0.0: gateway en0" "add net output"
    run route -n delete -net 10.0.0.0/8
    expect_eq "$out" "delete net 10.0.0.0" "delete net output"
    run route -n get 203.0.113.7
    [[ $out == *"destination: 203.0.113.7"$'\n'"    gateway: 192.168.1.1"* ]] \
        || fail "host route lookup has no mask line: $out"
    run route -n get 192.168.1.77
    [[ $out == *"destination: 192.168.1.0"$'\n'"       mask: 255.255.255.0"$'\n'"  interface: en0"* ]] \
        || fail "connected network lookup: $out"
    run route -q -n add -host 203.0.113.8 192.168.1.1
    expect_eq "$out" "" "-q silences route"

    run networksetup -listallnetworkservices
    expect_eq "$out" "$(printf '%s\n' 'An asterisk (*) denotes that a network service is disabled.' \
        Wi-Fi Ethernet '*Thunderbolt Bridge')" "service listing"
    run networksetup -getdnsservers Ethernet
    expect_eq "$out" $'9.9.9.9\n149.112.112.112' "two DNS servers, one per line"
    run networksetup -setdnsservers Ethernet Empty
    expect_rc 0 "setdnsservers Empty"
    run networksetup -getdnsservers Ethernet
    expect_eq "$out" "There aren't any DNS Servers set on Ethernet." "no DNS servers"
    run networksetup -getdnsservers "Thunderbolt Bridge"
    expect_eq "$out" "There aren't any DNS Servers set on Thunderbolt Bridge." "disabled service readable"
    run networksetup -setdnsservers Wi-Fi 2606:4700:4700::1111 1.1.1.1
    run networksetup -getdnsservers Wi-Fi
    expect_eq "$out" $'2606:4700:4700::1111\n1.1.1.1' "IPv6 DNS server kept in order"

    local utun
    utun=$("$bin/tarvex-macos" interface new utun)
    run ifconfig "$utun"
    expect_eq "$out" "$utun: flags=8010<POINTOPOINT,MULTICAST> mtu 1500" "fresh utun is down"
    run ifconfig "$utun" inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 1280 up
    run ifconfig "$utun" inet6 fd58:baa6:dead::1 prefixlen 128 alias
    run ifconfig "$utun"
    expect_eq "$out" "$(printf '%s\n' "$utun: flags=8051<UP,POINTOPOINT,RUNNING,MULTICAST> mtu 1280" \
        $'\tinet 10.8.0.2 --> 10.8.0.2 netmask 0xffffffff' \
        $'\tinet6 fd58:baa6:dead::1 prefixlen 128 ')" "configured utun"
    run ifconfig en0
    [[ $out == "en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500"* ]] \
        || fail "en0 flags: $out"
    [[ $out == *$'\tinet 192.168.1.23 netmask 0xffffff00 broadcast 192.168.1.255\n'* ]] \
        || fail "en0 inet line: $out"
    run ifconfig -l
    expect_eq "$out" "lo0 en0 utun0 utun1 $utun" "ifconfig -l"

    # Without "alias" an IPv4 address replaces the first one.
    run ifconfig "$utun" inet 10.8.0.9 10.8.0.9 netmask 255.255.255.255
    run ifconfig "$utun"
    [[ $out == *"inet 10.8.0.9 --> 10.8.0.9"* && $out != *"10.8.0.2"* ]] \
        || fail "inet without alias replaces: $out"

    run dscacheutil -flushcache
    expect_rc 0 "dscacheutil -flushcache"
    run killall -HUP mDNSResponder
    expect_rc 0 "killall -HUP mDNSResponder"
    expect_eq "$out$err" "" "cache commands are silent"

    # route resolves names through the resolver, like macOS.
    run route -n add -host localhost 192.168.1.1
    expect_rc 0 "route add by host name"
    [[ $(dump) == *"route inet 127.0.0.1 gateway 192.168.1.1 en0"* ]] || fail "resolved host route"
}

# --- macOS failures -------------------------------------------------------------------

# expect_failure RC STDERR CMD...: the command fails with that code and standard error
# and leaves the state as it was.
expect_failure() {
    local code=$1 message=$2
    shift 2
    local before
    before=$(dump)
    run "$@"
    expect_rc "$code" "$*"
    expect_eq "$err" "$message" "stderr of $*"
    expect_eq "$(dump)" "$before" "state after the failing $*"
}

case_failures() {
    seed
    run route -n add -host 203.0.113.7 192.168.1.1
    expect_failure 1 "route: writing to routing socket: File exists" \
        route -n add -host 203.0.113.7 192.168.1.1
    expect_eq "$out" "add host 203.0.113.7: gateway 192.168.1.1: File exists" "File exists line"
    # A host route and a /32 network route are the same key.
    expect_failure 1 "route: writing to routing socket: File exists" \
        route -n add -net 203.0.113.7/32 -interface en0
    expect_failure 1 "route: writing to routing socket: File exists" \
        route -n add -net 0.0.0.0/0 192.168.1.1
    expect_failure 1 "route: writing to routing socket: not in table" \
        route -n delete -host 203.0.113.99
    expect_eq "$out" "delete host 203.0.113.99: not in table" "not in table line"
    expect_failure 1 "route: writing to routing socket: not in table" \
        route -n delete -inet6 -net ::/1
    expect_failure 68 "route: bad address: utun9" route -n add -net 10.0.0.0/8 -interface utun9
    expect_failure 68 "route: bad address: ::/1" route -n add -net ::/1 -interface en0
    expect_failure 68 "route: bad address: 10.0.0.0/33" route -n add -net 10.0.0.0/33 192.168.1.1
    expect_failure 68 "route: bad address: no-such-host.invalid" \
        route -n add -host no-such-host.invalid 192.168.1.1
    expect_failure 68 "route: bad address: 10.0.0.0/8" route -n add -host 10.0.0.0/8 192.168.1.1
    expect_failure 1 "route: writing to routing socket: Network is unreachable" \
        route -n add -host 198.51.100.1 172.16.0.1
    expect_failure 64 "usage: route [-dnqtv] command [[modifiers] args]" route -n add -host 1.2.3.4

    # route get of something missing says so but exits 0, like BSD route.
    run route -n delete default
    expect_failure 0 "route: writing to routing socket: not in table" route -n get default
    expect_eq "$out" "" "no output when get finds nothing"

    expect_failure 1 "ifconfig: interface utun9 does not exist" \
        ifconfig utun9 inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 1280 up
    "$bin/tarvex-macos" interface add utun7
    expect_failure 1 "ifconfig: ioctl (SIOCAIFADDR): Destination address required" \
        ifconfig utun7 inet 10.8.0.2 netmask 255.255.255.255 up
    expect_failure 1 "ifconfig: ioctl (SIOCDIFADDR): Can't assign requested address" \
        ifconfig utun7 inet6 fd58:baa6:dead::1 -alias
    expect_failure 1 "ifconfig: ioctl (set mtu): Invalid argument" \
        ifconfig utun7 inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 99999 up
    expect_failure 1 "ifconfig: 10.8.0.300: bad value" \
        ifconfig utun7 inet 10.8.0.300 10.8.0.2 netmask 255.255.255.255 up

    expect_failure 4 $'Nowhere is not a recognized network service.\n** Error: The parameters were not valid.' \
        networksetup -getdnsservers Nowhere
    expect_failure 4 $'Nowhere is not a recognized network service.\n** Error: The parameters were not valid.' \
        networksetup -setdnsservers Nowhere 1.1.1.1
    expect_failure 4 $'dns.example is not a valid IP address.\n** Error: The parameters were not valid.' \
        networksetup -setdnsservers Wi-Fi 1.1.1.1 dns.example
    # The asterisk only marks the listing; it is not part of the name.
    expect_failure 4 $'*Thunderbolt Bridge is not a recognized network service.\n** Error: The parameters were not valid.' \
        networksetup -getdnsservers "*Thunderbolt Bridge"

    expect_failure 1 "No matching processes belonging to you were found" killall -HUP noSuchDaemon
    expect_failure 1 "Usage: dscacheutil -flushcache" dscacheutil -cachedump

    # Under a path that macOS does not have, the command does not exist.
    local before
    before=$(dump)
    (exec -a /usr/sbin/route "$bin/route" -n add -host 1.2.3.4 192.168.1.1) 2>"$work/err"
    rc=$?
    expect_rc 127 "route started as /usr/sbin/route"
    [[ $(cat "$work/err") == "/usr/sbin/route: No such file or directory on macOS"* ]] \
        || fail "foreign path message: $(cat "$work/err")"
    (exec -a /sbin/route "$bin/route" -n get default) >/dev/null 2>&1 || fail "/sbin/route works"
    expect_eq "$(dump)" "$before" "state after the foreign path"

    # Never anything real: without a state the stand-ins refuse.
    TARVEX_SIM_STATE='' "$bin/route" -n get default >/dev/null 2>&1
    rc=$?
    expect_rc 70 "route without TARVEX_SIM_STATE"
    TARVEX_SIM_STATE=$work/nowhere "$bin/route" -n get default >/dev/null 2>"$work/err"
    rc=$?
    expect_rc 70 "route on an unseeded state"
}

# --- knobs ----------------------------------------------------------------------------

case_knobs() {
    seed
    local before
    before=$(dump)
    local knobs=$TARVEX_SIM_STATE/knobs

    # nth: only the third matching invocation fails, and leaves the state alone.
    echo 'fail nth=3 route *add *' >"$knobs"
    local i results=""
    for i in 1 2 3 4; do
        run route -n add -host "10.1.0.$i" 192.168.1.1
        results+="$rc "
    done
    expect_eq "$results" "0 0 1 0 " "nth=3"
    expect_eq "$err" "" "the fourth add is normal again"
    [[ $(dump) != *"10.1.0.3"* ]] || fail "a knob failure changed the state"

    # from: the second and every later match; other invocations are not counted.
    echo 'fail from=2 route -n add -net 128.0.0.0/1 *' >"$knobs"
    run route -n add -net 0.0.0.0/1 -interface en0
    expect_rc 0 "non-matching add"
    run route -n add -net 128.0.0.0/1 -interface en0
    expect_rc 0 "first matching add"
    run route -n delete -net 128.0.0.0/1
    run route -n add -net 128.0.0.0/1 -interface en0
    expect_rc 1 "second matching add"
    run route -n add -net 128.0.0.0/1 -interface en0
    expect_rc 1 "third matching add"
    expect_eq "$err" "route: simulated failure" "default knob message"

    # Messages, exit codes and patterns with spaces.
    cat >"$knobs" <<'EOF'
# comments and blank lines are ignored

fail exit=3 stderr="networksetup: it broke; badly" networksetup -setdnsservers Thunderbolt Bridge *
reply stdout="   route to: default\ndestination: default\n    gateway: fe80::1%en0\n" route -n get default
EOF
    run networksetup -setdnsservers "Thunderbolt Bridge" 1.1.1.1
    expect_rc 3 "knob exit code"
    expect_eq "$err" "networksetup: it broke; badly" "knob message with a semicolon"
    run networksetup -setdnsservers Wi-Fi 1.1.1.1
    expect_rc 0 "other service untouched by the knob"
    run route -n get default
    expect_eq "$out" $'   route to: default\ndestination: default\n    gateway: fe80::1%en0' "reply"

    # hang: sleeps, then works normally; a killed hang changes nothing.
    seed
    before=$(dump)
    echo 'hang seconds=0.4 route -n add *' >"$knobs"
    local start
    start=$(date +%s%N)
    run route -n add -host 10.2.0.1 192.168.1.1
    local elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
    expect_rc 0 "slow add"
    ((elapsed >= 400)) || fail "hang seconds=0.4 took only ${elapsed} ms"
    [[ $(dump) == *"10.2.0.1"* ]] || fail "slow add did its work"
    echo 'hang route -n add *' >"$knobs"
    timeout 0.5 "$bin/route" -n add -host 10.2.0.2 192.168.1.1 >/dev/null 2>&1
    rc=$?
    expect_rc 124 "hang until killed"
    [[ $(dump) != *"10.2.0.2"* ]] || fail "a killed hang changed the state"
    run networksetup -listallnetworkservices
    expect_rc 0 "other programs are not held up by a hang"

    # crash: killed by SIGSEGV.
    echo 'crash killall *' >"$knobs"
    rc=$( ("$bin/killall" -HUP mDNSResponder) 2>/dev/null; echo $?)
    expect_rc 139 "crash"

    # The environment adds rules; ';' separates them; '*' matches any program.
    rm -f "$knobs"
    TARVEX_SIM_KNOBS='fail dscacheutil; fail exit=9 * -HUP *' "$bin/killall" -HUP mDNSResponder 2>/dev/null
    rc=$?
    expect_rc 9 "environment knob for any program"
    TARVEX_SIM_KNOBS='fail dscacheutil; fail exit=9 * -HUP *' "$bin/dscacheutil" -flushcache 2>/dev/null
    rc=$?
    expect_rc 1 "first environment knob"

    # A rule that cannot be read fails the command loudly instead of being ignored.
    for bad in 'explode route' 'fail nth=x route' 'fail router' 'fail colour=red route' \
               'reply stdout="unterminated route'; do
        echo "$bad" >"$knobs"
        run route -n get default
        expect_rc 70 "bad knob: $bad"
        [[ $err == *"bad knob"* ]] || fail "bad knob message for $bad: $err"
    done
}

# --- invocation log -------------------------------------------------------------------

case_log() {
    seed
    local log=$TARVEX_SIM_STATE/log
    run networksetup -setdnsservers "Thunderbolt Bridge" 1.1.1.1
    run route -n get default
    run networksetup -getdnsservers ""
    run route -n add -host "it's" $'a\nb'
    (exec -a /sbin/route "$bin/route" -n get default) >/dev/null 2>&1
    echo 'hang route -n delete *' >"$TARVEX_SIM_STATE/knobs"
    timeout 0.3 "$bin/route" -n delete -host 10.0.0.1 >/dev/null 2>&1

    expect_eq "$(sed "s|^$bin/||" "$log")" "$(cat <<'EOF'
networksetup -setdnsservers 'Thunderbolt Bridge' 1.1.1.1
route -n get default
networksetup -getdnsservers ''
route -n add -host 'it'\''s' $'a\nb'
/sbin/route -n get default
route -n delete -host 10.0.0.1
EOF
)" "log lines"

    # Every line reads back, through bash, as the exact argument list.
    local line
    local -a words
    line=$(sed -n 4p "$log")
    eval "words=($line)"
    expect_eq "${#words[@]}" 6 "argument count read back"
    expect_eq "${words[4]}" "it's" "quote read back"
    expect_eq "${words[5]}" $'a\nb' "line feed read back"

    # The control tool does not log.
    "$bin/tarvex-macos" dump >/dev/null
    expect_eq "$(wc -l <"$log")" 6 "dump leaves the log alone"
}

case "$case_name" in
    state | formats | failures | knobs | log) "case_$case_name" ;;
    *) echo "unknown case $case_name"; exit 2 ;;
esac

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
