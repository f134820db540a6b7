#!/usr/bin/env bash
# run.sh: builds everything and runs the whole product on this machine: the local vendor
# API, the daemon inside the sandbox (a simulated Mac) and the client window pointed at
# both. Closing the window, or Ctrl+C, stops all of it. Needs root (the sandbox does).
#
#   bash scripts/run.sh [--live] [--no-client] [--no-build] [--port N]
#   bash scripts/run.sh --shell [COMMAND [ARG...]]
#
#   --live       the simulated Mac moves real packets, and a country of the vendor API
#                points at the sandbox's WireGuard server (tarvex-live-net)
#   --no-client  the stack without the window: start a client yourself, or use tarvexctl
#   --no-build   the tree is built already
#   --port N     the vendor API's port on 127.0.0.1 (default 8765; 0 picks a free one)
#   --shell      a shell (or COMMAND) on the running stack's simulated Mac
#
# What it keeps lives in build/run (TARVEX_RUN_DIR): the vendor API's accounts, peers and
# outbox survive a restart, the simulated Mac is seeded afresh each time. See the
# README's "Run the whole product".
set -Eeuo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly repo
readonly LIVE_SERVER_ID=live-1

die() {
    echo "run: $*" >&2
    exit 1
}

usage() {
    sed -n '2,15s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

absolute() {
    mkdir -p "$1"
    (cd "$1" && pwd)
}

# --- inside the sandbox: the daemon, until the stop file appears ---------------------------

inside() {
    local run=$1 build=$2 live=$3
    if ((live)); then
        "$build/tools/sandbox/tarvex-live-net" up "$run/live" >"$run/live/up.log" 2>&1 \
            || { cat "$run/live/up.log"; exit 1; }
    fi
    # The daemon finds amneziawg-go in its working folder.
    (cd "$build/tools/amneziawg-go" && exec "$build/service/TarvexVpnService") \
        >>"$run/daemon.log" 2>&1 &
    local daemon=$!
    while [[ ! -e $run/stop ]] && kill -0 "$daemon" 2>/dev/null; do
        sleep 0.2
    done
    # As launchd stops it: a tunnel that is up is taken down before it exits.
    kill -TERM "$daemon" 2>/dev/null || true
    wait "$daemon"
}

# --- a command on the running stack's simulated Mac -----------------------------------------

# in_sandbox RUN CMD...: CMD in the sandbox's namespaces, with the sandbox's environment.
in_sandbox() {
    local run=$1 pid environment=()
    shift
    pid=$(cat "$run/sandbox.pid" 2>/dev/null) || pid=""
    if [[ -z $pid ]] || ! kill -0 "$pid" 2>/dev/null; then
        die "no stack is running on $run (start it with bash scripts/run.sh)"
    fi
    mapfile -t environment <"$run/sandbox.env"
    nsenter --target "$pid" --mount --net --pid --wd="$repo" -- env "${environment[@]}" "$@"
}

# --- the live server's peers --------------------------------------------------------------

# The vendor API's countries plus one whose server is the live sandbox's WireGuard server.
live_servers_fixture() {
    local default=$1 live=$2
    python3 - "$default" "$live" "$LIVE_SERVER_ID" <<'EOF'
import json, sys
default, live, server_id = sys.argv[1:]
env = dict(line.rstrip("\n").split("=", 1) for line in open(live + "/env") if "=" in line)
fixture = json.load(open(default))
fixture["countries"].insert(0, {"id": 100, "name": "Песочница: живой туннель", "servers": [{
    "id": server_id, "name": "Сервер песочницы", "protocol": "amnezia-v1",
    "endpoint": "%s:%s" % (env["ENDPOINT"], env["SERVER_PORT"]),
    "public_key": env["SERVER_PUB"], "preshared_key": open(live + "/psk").read().strip(),
    "dns": [env["SERVER_TUNNEL_IP"]], "allowed_ips": ["0.0.0.0/0", "::/0"],
    "address_pool": "10.8.1.0/24", "mtu": 1280, "persistent_keep_alive": 25,
    "awg": {"Jc": "4", "Jmin": "40", "Jmax": "70", "S1": "15", "S2": "91", "H1": "1144434789",
            "H2": "1561713245", "H3": "1925184312", "H4": "1426735201"}}]})
json.dump(fixture, sys.stdout, ensure_ascii=False, indent=2)
EOF
}

# Keeps the live server's peers what the vendor API made on it, as a vendor's
# provisioning would: "public-key address" lines, checked every second.
sync_live_peers() {
    local run=$1 api=$2 applied="" wanted key address
    while sleep 1; do
        wanted=$(python3 - "$api/dev/peers?server=$LIVE_SERVER_ID" 2>/dev/null <<'EOF'
import json, sys, urllib.request
for peer in json.load(urllib.request.urlopen(sys.argv[1], timeout=5))["data"]:
    print(peer["public_key"], peer["address"])
EOF
        ) || continue
        [[ $wanted != "$applied" ]] || continue
        while read -r key address; do
            [[ -n $key ]] || continue
            in_sandbox "$run" "$build/tools/sandbox/tarvex-live-net" server wg set tarvex-srv0 \
                peer "$key" preshared-key "$run/live/psk" allowed-ips "$address/32" \
                || echo "run: the live server did not take the peer $key"
        done < <(comm -13 <(sort <<<"$applied") <(sort <<<"$wanted"))
        while read -r key address; do
            [[ -z $key ]] || in_sandbox "$run" "$build/tools/sandbox/tarvex-live-net" server \
                wg set tarvex-srv0 peer "$key" remove || echo "run: the live server kept the peer $key"
        done < <(comm -23 <(sort <<<"$applied") <(sort <<<"$wanted"))
        applied=$wanted
        echo "run: the live server accepts $(grep -c . <<<"$wanted" || true) peer(s) of the vendor API"
    done
}

# --- outside: start, wait, stop -------------------------------------------------------------

client_pid="" sandbox_pid="" api_pid="" outbox_pid="" sync_pid=""

stop_process() {
    [[ -n $1 ]] || return 0
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

stop_all() {
    local status=$? waited
    trap - EXIT INT TERM
    echo "run: stopping"
    stop_process "$client_pid"
    stop_process "$sync_pid"
    if [[ -n $sandbox_pid ]] && kill -0 "$sandbox_pid" 2>/dev/null; then
        : >"$run/stop"
        for ((waited = 0; waited < 300; ++waited)); do
            kill -0 "$sandbox_pid" 2>/dev/null || break
            sleep 0.1
        done
        # A daemon that does not stop: its namespace ends with unshare, everything in it
        # killed (the simulated Mac goes with it).
        if kill -0 "$sandbox_pid" 2>/dev/null; then
            echo "run: the daemon did not stop within 30 s; ending the sandbox"
            stop_process "$(pgrep -P "$sandbox_pid" -x unshare || true)"
        fi
        wait "$sandbox_pid" 2>/dev/null || true
    fi
    stop_process "$api_pid"
    stop_process "$outbox_pid"
    rm -f "$run/stop" "$run/sandbox.pid" "$run/sandbox.env" "$socket"
    echo "run: stopped; logs in $run"
    exit "$status"
}

# The daemon answers on its socket, or the sandbox has ended (false).
wait_for_daemon() {
    local attempt
    for ((attempt = 0; attempt < 300; ++attempt)); do
        TARVEX_SERVICE_SOCKET=$socket "$build/tools/tarvexctl/tarvexctl" status >/dev/null 2>&1 \
            && return 0
        kill -0 "$sandbox_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The URL the vendor API printed, once it listens; empty when it ended.
wait_for_api() {
    local attempt
    for ((attempt = 0; attempt < 100; ++attempt)); do
        if [[ -s $run/vendor-api.out ]]; then
            sed -n 's/^listening on //p' "$run/vendor-api.out"
            return 0
        fi
        kill -0 "$api_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

start_sandbox() {
    local arguments=(--state "$run/mac" --hosts "$build/tools/sandbox/hosts.product"
                     --writable "$run" --env "TARVEX_SERVICE_SOCKET=$socket"
                     --env "QT_MESSAGE_PATTERN=%{time hh:mm:ss.zzz} %{message}")
    ((live)) && arguments+=(--live)
    # A session of its own: Ctrl+C in the terminal must not reach the daemon directly
    # (it would race the orderly stop below).
    setsid "$build/tools/sandbox/tarvex-sandbox" "${arguments[@]}" \
        -- bash "$repo/scripts/run.sh" --inside "$run" "$build" "$live" \
        >"$run/sandbox.log" 2>&1 9>&- &
    sandbox_pid=$!
    if ! wait_for_daemon; then
        cat "$run/sandbox.log" >&2
        tail -n 20 "$run/daemon.log" >&2
        die "the daemon did not start in the sandbox"
    fi
    # The sandbox's first process, for --shell: runner, unshare, then it.
    local unshare
    unshare=$(pgrep -P "$sandbox_pid" -x unshare)
    pgrep -P "$unshare" >"$run/sandbox.pid"
    printf '%s\n' TARVEX_SANDBOX=1 TARVEX_SIM_STATE=/tmp/tarvex-sim "TARVEX_SERVICE_SOCKET=$socket" \
        TARVEX_STATE_DIR=/tmp/tarvex-state HOME=/tmp/tarvex-home TMPDIR=/tmp \
        "PATH=$PATH" >"$run/sandbox.env"
    ((live)) && printf '%s\n' TARVEX_SIM_LIVE=1 TARVEX_AWG_LIVE=1 >>"$run/sandbox.env"
    return 0
}

start_api() {
    local servers=$build/tools/vendor-api/servers.json
    if ((live)); then
        live_servers_fixture "$servers" "$run/live" >"$run/live/servers.json"
        servers=$run/live/servers.json
    fi
    : >"$run/vendor-api.out"
    "$build/tools/vendor-api/tarvex-vendor-api" --port "$port" --data "$run/vendor-api" \
        --servers "$servers" >"$run/vendor-api.out" 2>"$run/vendor-api.log" 9>&- &
    api_pid=$!
    api_root=$(wait_for_api) || { cat "$run/vendor-api.log" >&2; die "the vendor API did not start"; }
    [[ -n $api_root ]] || die "the vendor API did not say where it listens"
    # The codes and reset tokens it "mails", as they come.
    touch "$run/vendor-api/outbox.log"
    tail -n0 -F "$run/vendor-api/outbox.log" 2>/dev/null 9>&- > >(sed -u 's/^/outbox: /') &
    outbox_pid=$!
    if ((live)); then
        sync_live_peers "$run" "$api_root" &
        sync_pid=$!
    fi
}

print_summary() {
    local ctl="TARVEX_SERVICE_SOCKET=$socket $build/tools/tarvexctl/tarvexctl"
    cat <<EOF

Tarvex is running.
  vendor API     $api_root/api/v1   (data $run/vendor-api, log $run/vendor-api.log)
  outbox         $run/vendor-api/outbox.log or $api_root/dev/outbox; new codes are shown below
  daemon         in the sandbox, socket $socket, log $run/daemon.log
  simulated Mac  $build/tools/macos/bin/tarvex-macos --state $run/mac dump
  on the Mac     bash scripts/run.sh --shell    (tarvex-macos dump, cat /etc/hosts)
  tarvexctl      $ctl status
EOF
    if ((live)); then
        cat <<EOF
  live mode      the country "Песочница: живой туннель" is the sandbox's WireGuard server;
                 once connected: bash scripts/run.sh --shell ping -c 3 10.99.0.1
EOF
    fi
}

start_client() {
    local environment=(TARVEX_API_URL="$api_root/api/v1" TARVEX_WEBSITE_URL="$api_root"
                       TARVEX_SERVICE_SOCKET="$socket" XDG_CONFIG_HOME="$run/client")
    if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
        cat <<EOF
  client         NO DISPLAY: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window
                 runs offscreen where nobody can see or click it. The stack above stays
                 usable: tarvexctl, the API and the outbox. Ctrl+C stops everything.
EOF
        environment+=(QT_QPA_PLATFORM=offscreen)
    else
        echo "  client         the window (log $run/client.log); close it to stop everything"
    fi
    env "${environment[@]}" "$build/client/tarvex-client" >"$run/client.log" 2>&1 9>&- &
    client_pid=$!
}

main() {
    live=0 with_client=1 build_first=1 port=8765
    while (($#)); do
        case $1 in
            --live) live=1; shift ;;
            --no-client) with_client=0; shift ;;
            --no-build) build_first=0; shift ;;
            --port) port=${2:?--port needs a number}; shift 2 ;;
            -h|--help) usage; exit 0 ;;
            *) usage >&2; exit 2 ;;
        esac
    done
    [[ $port =~ ^[0-9]+$ ]] || die "--port needs a number"
    ((EUID == 0)) || die "needs root: the daemon runs in the sandbox, which makes namespaces"

    cd "$repo"
    ((build_first)) && bash scripts/build.sh
    build=$(absolute "${TARVEX_BUILD_DIR:-build}")
    run=$(absolute "${TARVEX_RUN_DIR:-$build/run}")
    socket=$run/tarvex-service.sock
    local program
    for program in client/tarvex-client service/TarvexVpnService tools/tarvexctl/tarvexctl \
                   tools/vendor-api/tarvex-vendor-api tools/sandbox/tarvex-sandbox; do
        [[ -x $build/$program ]] || die "$build/$program is missing: build the project"
    done

    exec 9>"$run/lock"
    flock -n 9 || die "another run.sh uses $run"
    rm -rf "$run/mac" "$run/stop" "$socket"
    mkdir -p "$run/mac" "$run/live"
    # The client's settings hold its API token.
    mkdir -p "$run/client"
    chmod 0700 "$run/client"
    : >"$run/daemon.log"
    trap stop_all EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM

    start_sandbox
    start_api
    print_summary
    if ((with_client)); then
        start_client
        echo
        wait -n "$client_pid" "$sandbox_pid" "$api_pid" || true
    else
        cat <<EOF
  client         not started (--no-client); to open one:
                 TARVEX_API_URL=$api_root/api/v1 TARVEX_WEBSITE_URL=$api_root \\
                 TARVEX_SERVICE_SOCKET=$socket $build/client/tarvex-client
Ctrl+C stops everything.

EOF
        wait -n "$sandbox_pid" "$api_pid" || true
    fi
    if [[ -n $client_pid ]] && ! kill -0 "$client_pid" 2>/dev/null; then
        echo "run: the client was closed"
    elif ! kill -0 "$sandbox_pid" 2>/dev/null; then
        echo "run: the daemon's sandbox ended; see $run/daemon.log and $run/sandbox.log"
        exit 1
    else
        echo "run: the vendor API ended; see $run/vendor-api.log"
        exit 1
    fi
}

case ${1:-} in
    --inside) shift; inside "$@" ;;
    --shell)
        shift
        build=$(cd "$repo" && realpath -m "${TARVEX_BUILD_DIR:-build}")
        in_sandbox "$(realpath -m "${TARVEX_RUN_DIR:-$build/run}")" "${@:-bash}" ;;
    *) main "$@" ;;
esac
