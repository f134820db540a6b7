#!/usr/bin/env bash
# The stack of scripts/run.sh (--no-client): every country of the vendor API gives a peer
# that the daemon in the sandbox connects, reached from outside through the stack's socket;
# stopping takes the tunnel down; the peers survive a restart. With "live", a peer of the
# live country carries packets to the sandbox's WireGuard server. Usage: REPO BUILD MODE
set -uo pipefail
# shellcheck source=checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

repo=$1 build=$2 mode=$3
run=$(mktemp -d /tmp/tarvex-run-stack.XXXXXX)
macos=$build/tools/macos/bin/tarvex-macos
export TARVEX_BUILD_DIR=$build TARVEX_RUN_DIR=$run TARVEX_SERVICE_SOCKET=$run/tarvex-service.sock
stack_pid="" password="correct horse battery"
trap 'stop_stack; rm -rf "$run"' EXIT

# start_stack [--live]: api is the vendor API's root URL once the stack is up.
start_stack() {
    : >"$run/out"
    bash "$repo/scripts/run.sh" --no-build --no-client --port 0 "$@" >"$run/out" 2>&1 &
    stack_pid=$!
    wait_for 300 0.1 grep -q "^Ctrl+C stops everything" "$run/out"
    api=$(sed -n 's|^  vendor API *\(http://[^ ]*\)/api/v1 .*|\1|p' "$run/out")
    [[ -n $api ]] || { cat "$run/out"; fail "the stack did not start"; exit 1; }
}

# As a closed terminal stops it.
stop_stack() {
    [[ -z $stack_pid ]] || { kill -TERM "$stack_pid"; wait "$stack_pid"; }
    stack_pid=""
    ! pgrep -a -f -- "$run" || fail "processes left running"
    [[ ! -e $TARVEX_SERVICE_SOCKET ]] || fail "the daemon's socket file is left"
}

# api METHOD PATH JSON TOKEN EXPRESSION: EXPRESSION over the reply's JSON document d.
api() {
    python3 -c '
import json, sys, urllib.request
url, method, body, token, expression = sys.argv[1:]
request = urllib.request.Request(url, body.encode() or None, method=method, headers={
    "Content-Type": "application/json", "Authorization": "Bearer " + token})
d = json.load(urllib.request.urlopen(request))
print(eval(expression))' "$api$2" "$1" "$3" "$4" "$5"
}

# sign_up EMAIL: a new account's token.
sign_up() {
    api POST /api/v1/auth/register "{\"name\": \"Anna\", \"email\": \"$1\", \"password\": \"$password\",
        \"password_confirmation\": \"$password\", \"agree_with_personal_agreement\": true}" \
        "" 'd["data"]["token"]'
}

# connect_peer TOKEN COUNTRY: a new peer there, connected from outside the sandbox; the
# simulated Mac routes through its tunnel and pins the vendor domain.
connect_peer() {
    local output
    api POST /api/v1/peers "{\"country_id\": $2, \"name\": \"peer $2\"}" "$1" 'd["data"]["config"]' >"$run/peer.vpn"
    # The live server learns of a new peer within a second or two.
    [[ $mode == simulated ]] || wait_for 50 0.1 grep -q "live server accepts 1 peer" "$run/out"
    output=$("$build/tools/tarvexctl/tarvexctl" connect "$run/peer.vpn" 2>&1)
    [[ $output == "status: connected" ]] || fail "country $2: $output"
    output=$(bash "$repo/scripts/run.sh" --shell sh -c 'tarvex-macos dump; cat /etc/hosts')
    [[ $output == *$'\nroute inet 0.0.0.0/1 interface utun'*$'\n# BEGIN TARVEX_VPN_CLIENT\n'* ]] \
        || fail "country $2: no route through the tunnel or no hosts block"
}

if [[ $mode == simulated ]]; then
    start_stack
    token=$(sign_up anna@example.com)
    countries=$(api GET /api/v1/countries "" "$token" '" ".join(str(c["id"]) for c in d["data"])')
    [[ $countries == "1 2 3 4" ]] || fail "countries: $countries"
    for country in $countries; do
        connect_peer "$token" "$country"
    done
    stop_stack
    # The daemon took the last tunnel down before it stopped.
    "$macos" --state "$run/seeded" seed
    [[ $("$macos" --state "$run/mac" dump) == $("$macos" --state "$run/seeded" dump) ]] \
        || fail "the simulated Mac was not given back"
    start_stack
    [[ $(api GET "/dev/peers?server=nl-ams-1" "" "" 'len(d["data"])') == 1 ]] \
        || fail "the peers did not survive the restart"
else
    start_stack --live
    connect_peer "$(sign_up live@example.com)" 100
    bash "$repo/scripts/run.sh" --shell ping -c 1 -W 3 -q 10.99.0.1 >/dev/null \
        || fail "no packet crossed the tunnel to the live server"
fi
stop_stack
finish
