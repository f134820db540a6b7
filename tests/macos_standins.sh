#!/usr/bin/env bash
# The macOS command stand-ins answer and refuse as macOS does, so that what the daemon's
# tests get through would get through on a Mac. (Their knobs and log are the backend's
# tests' own.) Only a temporary state folder is touched. usage: macos_standins.sh STANDIN_DIR
set -uo pipefail

bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TARVEX_SIM_STATE=$work/state
unset TARVEX_SIM_KNOBS

# shellcheck source=checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
dump() { "$bin/tarvex-macos" dump; }

# check EXIT OUTPUT PROGRAM ARG...: the stand-in exits with EXIT and prints what matches
# the glob OUTPUT (standard output and error); when it fails, the state stays as it was.
check() {
    local before out rc
    before=$(dump)
    out=$("$bin/$3" "${@:4}" 2>&1)
    rc=$?
    # shellcheck disable=SC2053 # OUTPUT is a pattern
    [[ $rc == "$1" && $out == $2 ]] || fail "${*:3}: got $rc"$'\n'"$out"$'\n'"expected $1"$'\n'"$2"
    ((rc == 0)) || [[ $(dump) == "$before" ]] || fail "the failing ${*:3} changed the state"
}

"$bin/tarvex-macos" seed || fail "seed"
"$bin/tarvex-macos" interface add utun7
socket="route: writing to routing socket:" invalid=$'\n** Error: The parameters were not valid.'

check 0 "*" route -n add -host 203.0.113.7 192.168.1.1
# A host route and a /32 network route are the same key.
check 1 "$socket File exists*" route -n add -net 203.0.113.7/32 -interface en0
check 1 "$socket not in table*" route -n delete -host 203.0.113.99
check 68 "route: bad address: utun9" route -n add -net 10.0.0.0/8 -interface utun9
check 68 "route: bad address: ::/1" route -n add -net ::/1 -interface en0
check 68 "route: bad address: nowhere.invalid" route -n add -host nowhere.invalid 192.168.1.1
# The server's route may name a host: route resolves it, like macOS.
check 0 "*" route -n add -host localhost 192.168.1.1
check 0 "*"$'\n    gateway: fe80::1%en0\n'"*" route -n get -inet6 default
check 1 "ifconfig: interface utun9 does not exist" \
    ifconfig utun9 inet 10.8.0.2 10.8.0.2 netmask 255.255.255.255 mtu 1280 up
check 1 "ifconfig: ioctl (SIOCAIFADDR): Destination address required" \
    ifconfig utun7 inet 10.8.0.2 netmask 255.255.255.255 up
check 4 "dns.example is not a valid IP address.$invalid" \
    networksetup -setdnsservers Wi-Fi 1.1.1.1 dns.example
# The asterisk only marks the listing; it is not part of the name, so this one is unknown.
check 4 "\*Thunderbolt Bridge is not a recognized network service.$invalid" \
    networksetup -getdnsservers "*Thunderbolt Bridge"
check 1 "No matching processes belonging to you were found" killall -HUP noSuchDaemon
# route get of something missing says so but exits 0, like BSD route.
check 0 "*" route -n delete default
check 0 "$socket not in table" route -n get default
[[ $(dump) == *"route inet 127.0.0.1 gateway 192.168.1.1 en0"* ]] || fail "route by host name"

# hang: sleeps, then works normally (the daemon's time-out tests count on the wait).
echo 'hang seconds=0.4 route -n add *' >"$TARVEX_SIM_STATE/knobs"
start=$(date +%s%N)
"$bin/route" -n add -host 10.2.0.1 192.168.1.1 >/dev/null
rc=$? elapsed=$((($(date +%s%N) - start) / 1000000))
[[ $rc == 0 && $elapsed -ge 400 && $(dump) == *10.2.0.1* ]] || fail "hang: $rc after $elapsed ms"

# Under a path that macOS does not have, the command does not exist.
(exec -a /usr/sbin/route "$bin/route" -n get default) >/dev/null 2>&1
[[ $? == 127 ]] || fail "route started as /usr/sbin/route"
finish
