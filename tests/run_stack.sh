#!/usr/bin/env bash
# The stack of scripts/run.sh (--no-client): every country of the vendor API gives a peer
# that the daemon in the sandbox connects, reached from outside through the stack's
# socket; the peers survive a restart; stopping takes the tunnel down and leaves no
# process or socket. With "live", a peer of the live country carries packets to the
# sandbox's WireGuard server. Needs root.
#
#   run_stack.sh REPO BUILD simulated|live
set -uo pipefail
# shellcheck source=checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

repo=$1 build=$2 mode=$3
run=$(mktemp -d /tmp/tarvex-run-stack.XXXXXX)
macos=$build/tools/macos/bin/tarvex-macos
export TARVEX_BUILD_DIR=$build TARVEX_RUN_DIR=$run TARVEX_SERVICE_SOCKET=$run/tarvex-service.sock
stack_pid=""

trap '[[ -z $stack_pid ]] || { kill -TERM "$stack_pid"; wait "$stack_pid"; }; rm -rf "$run"' EXIT

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
    kill -TERM "$stack_pid"
    wait "$stack_pid"
    stack_pid=""
    grep -q "^run: stopped" "$run/out" || fail "no orderly stop: $(tail -n 5 "$run/out")"
    local left
    left=$(pgrep -a -f -- "$run" || true)
    [[ -z $left ]] || fail "processes left running: $left"
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

# sign_up EMAIL: a verified account's token.
sign_up() {
    local password='"correct horse battery"' token code
    token=$(api POST /api/v1/auth/register "{\"name\": \"Anna\", \"email\": \"$1\",
        \"password\": $password, \"password_confirmation\": $password,
        \"agree_with_personal_agreement\": true, \"device_name\": \"test\"}" "" 'd["data"]["token"]')
    code=$(api GET "/dev/outbox?email=$1" "" "" 'd["data"][-1]["code"]')
    api POST /api/v1/auth/email/verify "{\"code\": \"$code\"}" "$token" 'd["success"]' >/dev/null
    echo "$token"
}

# new_peer TOKEN COUNTRY: a new peer there, its configuration in $run/peer.vpn.
new_peer() {
    api POST /api/v1/peers "{\"country_id\": $2, \"name\": \"peer $2\"}" "$1" 'd["data"]["config"]' \
        >"$run/peer.vpn"
}

# connect_peer WHAT: that peer connected from outside the sandbox; the simulated Mac
# routes through its tunnel and pins the vendor domain.
connect_peer() {
    local output
    output=$("$build/tools/tarvexctl/tarvexctl" connect "$run/peer.vpn" 2>&1)
    [[ $output == "status: connected" ]] || fail "$1: $output"
    bash "$repo/scripts/run.sh" --shell tarvex-macos dump | grep -q '^route inet 0.0.0.0/1 interface utun' \
        || fail "$1: no route through the tunnel"
    bash "$repo/scripts/run.sh" --shell cat /etc/hosts | grep -q '^# BEGIN TARVEX_VPN_CLIENT' \
        || fail "$1: no hosts block"
}

case $mode in
    simulated)
        start_stack
        token=$(sign_up anna@example.com)
        countries=$(api GET /api/v1/countries "" "$token" '" ".join(str(c["id"]) for c in d["data"])')
        [[ $countries == "1 2 3 4" ]] || fail "countries: $countries"
        for country in $countries; do
            new_peer "$token" "$country"
            connect_peer "country $country"
        done
        stop_stack
        # The daemon took the last tunnel down before it stopped.
        "$macos" --state "$run/seeded" seed
        [[ $("$macos" --state "$run/mac" dump) == $("$macos" --state "$run/seeded" dump) ]] \
            || fail "the simulated Mac was not given back"
        start_stack
        [[ $(api GET "/dev/peers?server=nl-ams-1" "" "" 'len(d["data"])') == 1 ]] \
            || fail "the peers did not survive the restart"
        stop_stack
        ;;
    live)
        start_stack --live
        new_peer "$(sign_up live@example.com)" 100
        # The live server learns of the new peer within a second or two.
        wait_for 50 0.1 grep -q "live server accepts 1 peer" "$run/out"
        connect_peer "the live country"
        bash "$repo/scripts/run.sh" --shell ping -c 1 -W 3 -q 10.99.0.1 >/dev/null \
            || fail "no packet crossed the tunnel to the live server"
        stop_stack
        ;;
esac

finish
