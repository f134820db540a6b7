#!/usr/bin/env bash
# End to end: what an unprivileged local user (nobody) can do to the root daemon through its
# socket and its runtime folder in /tmp: each attack gets nothing, and others still connect.

# shellcheck disable=SC2317,SC2119,SC2046,SC2015 source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly ATTACKER=${TARVEX_E2E_ATTACKER:?}
readonly SOCK=$TARVEX_SERVICE_SOCKET
readonly RUNTIME=/tmp/tarvex-client-amneziawg
# nobody plays the attacker, SOMEONE a user whose client connects; LOOT is nobody's folder.
readonly NOBODY=65534 SOMEONE=1000 LOOT=/tmp/attacker
umask 022
mkdir -p "$LOOT"
chown "$NOBODY:$NOBODY" "$LOOT"

background_pids=()

# in_background OUTPUT UID CMD...: CMD as UID in the background, once it printed a line.
in_background() {
    : >"$1"
    # $! must be the program itself, not a subshell whose end would leave it running.
    setpriv --reuid="$2" --regid="$2" --clear-groups -- "${@:3}" >"$1" 2>&1 &
    background_pids+=($!)
    wait_for 250 0.02 test -s "$1" || fail "no word from ${*:3}"
}

stop_background() {
    ((${#background_pids[@]})) || return 0
    kill "${background_pids[@]}" 2>/dev/null
    wait "${background_pids[@]}" 2>/dev/null
    background_pids=()
}

# timed VARIABLE CMD...: CMD, and the ms it took in VARIABLE.
timed() {
    local started
    started=$(now_ms)
    "${@:2}"
    printf -v "$1" %d $(($(now_ms) - started))
}

# plant_runtime KIND: nobody makes the runtime folder first and keeps re-planting the name
# file there: "name" says en0, with a listener on en0.sock for the UAPI request; "fifo" is a
# FIFO, which would block a plain open() for good; "link" links to nobody's "name" folder.
plant_runtime() {
    local folder=$RUNTIME plant
    rm -rf "$RUNTIME" "$RUNTIME".untrusted-* "$LOOT/run" "$LOOT/uapi.capture"
    if [[ $1 == link ]]; then
        folder=$LOOT/run
        as_user "$NOBODY" ln -s "$folder" "$RUNTIME"
    fi
    as_user "$NOBODY" mkdir -m 0777 "$folder"
    plant="printf 'en0\n' >$folder/amn0.name"
    [[ $1 == fifo ]] && plant="mkfifo $folder/amn0.name"
    in_background "$LOOT/planter.out" "$NOBODY" sh -c \
        "echo planting; while :; do $plant 2>/dev/null; sleep 0.01; done"
    [[ $1 == fifo ]] || in_background "$LOOT/listener.out" "$NOBODY" \
        "$ATTACKER" listen "$folder/en0.sock" "$LOOT/uapi.capture"
}

scenario_runtime_folder_planted() {
    local kind
    for kind in name fifo link; do
        plant_runtime "$kind"
        snapshot
        connected
        # Trusting the planted name would send the UAPI request to en0.sock before en0 is set up.
        [[ ! -s $LOOT/uapi.capture ]] || fail "[$kind] captured: $(head -c 200 "$LOOT/uapi.capture")"
        [[ ! -L $RUNTIME && $(stat -c '%F %U %a' "$RUNTIME") == "directory root 700" ]] \
            || fail "[$kind] runtime folder: $(stat -c '%F %U %a' "$RUNTIME")"
        [[ -n $(find /tmp -maxdepth 1 -name 'tarvex-client-amneziawg.untrusted-*' -user nobody) ]] \
            || fail "[$kind] the planted folder was not moved aside"
        disconnect_restored
        stop_background
    done
    # A FIFO never blocks the daemon: SIGTERM still ends it.
    stop_daemon
    [[ $daemon_status == 0 ]] || fail "the daemon exited with $daemon_status"
}

scenario_peer_hidden_from_others() {
    snapshot
    ctl_as "$SOMEONE" connect "$FULL"
    expect_connected
    local status='{"command":"status"}' stolen uid reply
    stolen=$(as_user "$NOBODY" "$ATTACKER" request "$SOCK" "$status")
    [[ $stolen == *'"status":"connected"'* && $stolen != *peer* && $stolen != *vpn://* ]] \
        || fail "nobody's status: $stolen"
    # The user who connected, and root, still get it (the client's syncStatus relies on it).
    for uid in "$SOMEONE" 0; do
        reply=$(as_user "$uid" "$ATTACKER" request "$SOCK" "$status")
        [[ $reply == *'"peer":{'*vpn://* ]] || fail "uid $uid's status has no peer: $reply"
    done
    disconnect_restored
}

# hold UID COUNT BYTES: COUNT connections with BYTES of a request each; held is "OPEN CLOSED".
hold() {
    in_background "$LOOT/hold.$1.out" "$1" "$ATTACKER" hold "$SOCK" "$2" "$3" 30
    # Without its report every count below would read as 0, and a bound as kept.
    wait_for 100 0.05 grep -q '^open=[0-9]* closed=[0-9]*$' "$LOOT/hold.$1.out" \
        || fail "hold as $1: no report: $(cat "$LOOT/hold.$1.out")"
    held=$(sed -n 's/^open=\([0-9]*\) closed=\([0-9]*\)$/\1 \2/p' "$LOOT/hold.$1.out")
}

scenario_idle_connections_flood() {
    local open closed
    hold "$NOBODY" 200 0
    read -r open closed <<<"$held"
    ((open <= 8 && open + closed == 200)) || fail "held $open, closed $closed"
    # Another user is not shut out while they are held.
    expect_legitimate_cycle
    stop_background
}

scenario_unfinished_requests_bounded() {
    local before peak uid total=0
    before=$(awk '$1 == "VmRSS:" {print $2}' "/proc/$daemon_pid/status")
    # Three users, each with as many almost-1-MiB unfinished requests as it may open.
    for uid in 65534 65533 65532; do
        hold "$uid" 8 1000000
        total=$((total + ${held%% *}))
    done
    peak=$(awk '$1 == "VmHWM:" {print $2}' "/proc/$daemon_pid/status")
    ((total <= 17)) || fail "$total unfinished requests held (16 MiB allow 16)"
    # Under AddressSanitizer freed memory waits in its quarantine: RSS measures nothing there.
    [[ ${TARVEX_SANITIZED:-0} == 1 ]] || ((peak - before < 64 * 1024)) \
        || fail "the daemon grew from $before kB to $peak kB"
    expect_legitimate_cycle
    stop_background
}

daemon_fd_count() {
    find "/proc/$daemon_pid/fd" -mindepth 1 | wc -l
}

# daemon_fds_steady: true once two calls in a row find as many descriptors.
daemon_fds_steady() {
    local now
    now=$(daemon_fd_count)
    [[ $now == "${last_fd_count:-}" ]] && return 0
    last_fd_count=$now
    return 1
}

# Qt closes the listening socket, and deletes its file, when accepting fails; here the
# daemon runs out of descriptors while nobody holds connections.
scenario_listener_lost_and_regained() {
    local soft
    # Only the soft limit: raising a hard limit again may need more than root has here.
    soft=$(prlimit --pid "$daemon_pid" --nofile --output SOFT --noheadings)
    # Connections of the scenario before may still be closing: a limit taken from a
    # count that then falls would leave room for every connection held below.
    wait_for 50 0.1 daemon_fds_steady || fail "the daemon's descriptors never settled"
    prlimit --pid "$daemon_pid" --nofile=$(($(daemon_fd_count) + 2)):
    in_background "$LOOT/hold.out" "$NOBODY" "$ATTACKER" hold "$SOCK" 6 0 30
    expect_daemon_log "listening socket lost" 150

    prlimit --pid "$daemon_pid" --nofile="$soft":
    stop_background
    expect_daemon_log "listening again" 150
    [[ $(stat -c '%F %U %a' "$SOCK") == "socket root 666" ]] \
        || fail "socket after listening again: $(stat -c '%F %U %a' "$SOCK")"
    expect_legitimate_cycle
}

# While the daemon is away, nobody listens on its path in /tmp: the client sends it no
# connect request (which would carry the keys), and the daemon takes the path back.
scenario_impostor_socket() {
    stop_daemon
    rm -f "$LOOT/impostor.capture"
    in_background "$LOOT/impostor.out" "$NOBODY" "$ATTACKER" listen "$SOCK" "$LOOT/impostor.capture"
    connect
    expect_error "VPN-сервис недоступен: сокет $SOCK открыт не системным сервисом (uid $NOBODY), запрос на подключение с ключами не отправлен"
    sleep 0.2
    [[ ! -s $LOOT/impostor.capture ]] || fail "captured: $(head -c 200 "$LOOT/impostor.capture")"
    stop_background
    start_daemon
    expect_legitimate_cycle
}

# A split list far over the most a connect may carry is refused at once; the most connects.
scenario_split_list_bounded() {
    snapshot
    local elapsed
    timed elapsed ctl_as "$NOBODY" connect "$FULL" --split-only $(seq -f 'site%g.example' 3000)
    expect_error "Слишком много записей раздельного туннелирования: 3000, допустимо не больше 256"
    ((elapsed < 3000)) || fail "refusing took $elapsed ms"
    expect_restored
    connected --split-only $(seq -f '10.77.0.%g' 1 255) 10.77.1.1
    [[ $(tarvex-macos dump | grep -c '^route inet 10\.77\.') == 256 ]] || fail "not 256 split routes"
    disconnect_restored
}

# A name server that never answers: every lookup would wait for the resolver's own
# time-out, one after another; together they get ten seconds.
scenario_silent_name_server() {
    cp /etc/resolv.conf "$WORK/resolv.conf"
    printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:1\n' >/etc/resolv.conf
    # Never read: once its buffer is full the kernel drops the queries, still unanswered.
    in_background "$LOOT/blackhole.out" 0 python3 -c 'import socket, time
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind(("127.0.0.1", 53))
print("listening", flush=True)
time.sleep(600)'
    snapshot
    local elapsed
    timed elapsed connected --split-only $(seq -f 'silent%g.example' 256)
    ((elapsed >= 9000 && elapsed < 25000)) || fail "the connect took $elapsed ms"
    disconnect_restored
    # The lookup given up on is still waiting for the resolver; it does not hold the exit.
    timed elapsed stop_daemon
    [[ $daemon_status == 0 ]] && ((elapsed < 2000)) || fail "exit $daemon_status after $elapsed ms"
    stop_background
    cp "$WORK/resolv.conf" /etc/resolv.conf
}

scenario_daemon_dies_mid_request() {
    start_daemon TARVEX_AWG_NAME_DELAY_MS=3000
    snapshot
    as_user "$SOMEONE" "$TARVEX_E2E_CTL" connect "$FULL" >"$WORK/dying.out" 2>&1 &
    local client=$! elapsed
    expect_daemon_log "[MacVpnBackend] start process" 250
    timed elapsed eval "kill -KILL $daemon_pid; wait $client"
    stop_daemon
    [[ $(cat "$WORK/dying.out") == $'status: error\nerror: VPN-сервис недоступен: сервис закрыл соединение, не ответив на запрос' ]] \
        || fail "client output: $(cat "$WORK/dying.out")"
    ((elapsed < 1000)) || fail "the client waited $elapsed ms"
    # The killed daemon's tunnel program is still up; it undoes its interface on SIGTERM.
    pkill -TERM -x amneziawg-go
    wait_for 250 0.02 eval '! tunnel_running'
    expect_restored
}

trap stop_background EXIT
run_scenarios runtime_folder_planted peer_hidden_from_others idle_connections_flood \
    unfinished_requests_bounded listener_lost_and_regained impostor_socket \
    split_list_bounded silent_name_server daemon_dies_mid_request
