#!/usr/bin/env bash
# The stack of scripts/run.sh (--no-client): every country of the vendor API gives a peer
# that the daemon in the sandbox connects, reached from outside through the stack's
# socket; the accounts survive a restart; stopping leaves no process, socket or tunnel.
# With "live", a peer of the live country carries packets to the sandbox's WireGuard
# server. Needs root.
#
#   run_stack.sh REPO BUILD simulated|live
set -uo pipefail

repo=$1 build=$2 mode=$3
run=$(mktemp -d /tmp/tarvex-run-stack.XXXXXX)
ctl=$build/tools/tarvexctl/tarvexctl
readonly repo build mode run ctl
failures=0
stack_pid=""

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cleanup() {
    [[ -z $stack_pid ]] || { kill -TERM "$stack_pid" 2>/dev/null; wait "$stack_pid"; }
    rm -rf "$run"
}
trap cleanup EXIT

# start_stack [--live]: run.sh in the background; api holds the vendor API's root URL.
start_stack() {
    TARVEX_BUILD_DIR=$build TARVEX_RUN_DIR=$run bash "$repo/scripts/run.sh" --no-build \
        --no-client --port 0 "$@" >"$run/out" 2>&1 &
    stack_pid=$!
    local attempt
    for ((attempt = 0; attempt < 300; ++attempt)); do
        grep -q "^Ctrl+C stops everything" "$run/out" && break
        kill -0 "$stack_pid" 2>/dev/null || break
        sleep 0.1
    done
    api=$(sed -n 's|^  vendor API *\(http://[^ ]*\)/api/v1 .*|\1|p' "$run/out")
    [[ -n $api ]] || { cat "$run/out"; fail "the stack did not start"; exit 1; }
}

# stop_stack: as a closed terminal stops it; then nothing of it may be left.
stop_stack() {
    kill -TERM "$stack_pid"
    wait "$stack_pid"
    stack_pid=""
    grep -q "^run: stopped" "$run/out" || fail "no orderly stop: $(tail -n 5 "$run/out")"
    local left
    left=$(pgrep -a -f -- "$run" || true)
    [[ -z $left ]] || fail "processes left running: $left"
    [[ ! -e $run/tarvex-service.sock ]] || fail "the daemon's socket file is left"
}

# api_call METHOD PATH [JSON] [TOKEN]: the reply's JSON.
api_call() {
    python3 - "$api$2" "$1" "${3:-}" "${4:-}" <<'EOF'
import sys, urllib.request, urllib.error
url, method, body, token = sys.argv[1:]
headers = {"Content-Type": "application/json"}
if token:
    headers["Authorization"] = "Bearer " + token
request = urllib.request.Request(url, body.encode() or None, headers, method=method)
try:
    print(urllib.request.urlopen(request).read().decode())
except urllib.error.HTTPError as error:
    print(error.read().decode())
EOF
}

# json EXPRESSION: the value of a Python expression over the JSON document `d` on stdin.
json() {
    python3 -c "import json, sys; d = json.load(sys.stdin); print($1)"
}

# sign_up EMAIL: a verified account's token, signed up the first time and in later.
sign_up() {
    local credentials="\"email\": \"$1\", \"password\": \"correct horse battery\", \"device_name\": \"test\""
    local token
    token=$(api_call POST /api/v1/auth/login "{$credentials}" | json 'd["data"]["token"] if d["success"] else ""')
    [[ -n $token ]] && { echo "$token"; return; }
    token=$(api_call POST /api/v1/auth/register "{$credentials, \"name\": \"Anna\",
        \"password_confirmation\": \"correct horse battery\", \"agree_with_personal_agreement\": true}" \
        | json 'd["data"]["token"]')
    local code
    code=$(api_call GET "/dev/outbox?email=$1" | json 'd["data"][-1]["code"]')
    api_call POST /api/v1/auth/email/verify "{\"code\": \"$code\"}" "$token" >/dev/null
    echo "$token"
}

connect_and_check() { # CONFIG_FILE WHAT
    local output
    output=$(TARVEX_SERVICE_SOCKET=$run/tarvex-service.sock "$ctl" connect "$1" 2>&1)
    [[ $output == "status: connected" ]] || fail "$2: $output"
    bash "$repo/scripts/run.sh" --shell tarvex-macos dump | grep -q '^route inet 0.0.0.0/1 interface utun' \
        || fail "$2: no route through the tunnel"
    bash "$repo/scripts/run.sh" --shell cat /etc/hosts | grep -q '^# BEGIN TARVEX_VPN_CLIENT' \
        || fail "$2: no hosts block"
}

peer_config() { # TOKEN COUNTRY: a file with the new peer's configuration
    api_call POST /api/v1/peers "{\"country_id\": $2, \"name\": \"peer $2\"}" "$1" \
        | json 'd["data"]["config"]' >"$run/peer-$2.vpn"
    echo "$run/peer-$2.vpn"
}

: >"$run/out"
export TARVEX_BUILD_DIR=$build TARVEX_RUN_DIR=$run
case $mode in
    simulated)
        start_stack
        token=$(sign_up anna@example.com)
        countries=$(api_call GET /api/v1/countries "" "$token" | json '" ".join(str(c["id"]) for c in d["data"])')
        [[ $countries == "1 2 3 4" ]] || fail "countries: $countries"
        for country in $countries; do
            connect_and_check "$(peer_config "$token" "$country")" "country $country"
        done
        stop_stack
        # The simulated Mac is back as seeded: the daemon took the last tunnel down.
        "$build/tools/macos/bin/tarvex-macos" --state "$run/seeded" seed
        [[ $("$build/tools/macos/bin/tarvex-macos" --state "$run/mac" dump) \
            == $("$build/tools/macos/bin/tarvex-macos" --state "$run/seeded" dump) ]] \
            || fail "the simulated Mac was not given back"

        start_stack
        token=$(sign_up anna@example.com)
        [[ $(api_call GET /api/v1/peers "" "$token" | json 'len(d["data"])') == 4 ]] \
            || fail "the peers did not survive the restart"
        stop_stack
        ;;
    live)
        start_stack --live
        token=$(sign_up live@example.com)
        config=$(peer_config "$token" 100)
        # The live server learns the new peer within a second or two.
        for ((attempt = 0; attempt < 50; ++attempt)); do
            grep -q "live server accepts 1 peer" "$run/out" && break
            sleep 0.1
        done
        connect_and_check "$config" "the live country"
        bash "$repo/scripts/run.sh" --shell ping -c 1 -W 3 -q 10.99.0.1 >/dev/null \
            || fail "no packet crossed the tunnel to the live server"
        stop_stack
        ;;
esac

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
