#!/usr/bin/env bash
# End to end, inside the sandbox: what an unprivileged local user (nobody) can do to the
# root daemon through its socket and its runtime folder in /tmp. Each scenario runs the
# attack against the real daemon, checks what the attacker got (nothing), and that a
# legitimate client still connects and disconnects afterwards. (Values for root's commands
# that a user may send, and the client's words for a daemon that is not there, are the
# backend's and the client backend's own tests.)

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

[[ -n ${TARVEX_E2E_ATTACKER:-} ]] || { echo "TARVEX_E2E_ATTACKER is not set"; exit 2; }
umask 022

readonly SOCK=$TARVEX_SERVICE_SOCKET
readonly RUNTIME=/tmp/tarvex-client-amneziawg
# The attacker's own folder, where it keeps what it captures.
readonly LOOT=/tmp/attacker
mkdir -p "$LOOT"
chown "$NOBODY:$NOBODY" "$LOOT"

# expect_nothing_captured FILE: the attacker's capture is empty (or was never written).
expect_nothing_captured() {
    [[ ! -s $1 ]] || fail "the attacker captured $(wc -c <"$1") bytes: $(head -c 200 "$1")"
}

# expect_no_system_change: since the snapshot the daemon ran no command that changes the
# simulated Mac (only the resolver-cache flushes of its clean-up).
expect_no_system_change() {
    local changed
    changed=$(sim_log_since_snapshot | grep -E 'ifconfig|route -n add|-setdnsservers')
    [[ -z $changed ]] || fail "commands ran:"$'\n'"$changed"
}

# --- 1. the runtime folder ----------------------------------------------------------------

# plant_runtime KIND: nobody prepares /tmp/tarvex-client-amneziawg before the daemon does,
# and keeps re-planting the tunnel's name file there (the daemon deletes a stale one):
#   name  a folder whose name file says en0, with a listener on en0.sock for the UAPI request
#   fifo  a folder whose name file is a FIFO, which would block a plain open() for good
#   link  a link to nobody's folder holding the same as "name"
plant_runtime() {
    local folder=$RUNTIME
    rm -rf "$RUNTIME" "$RUNTIME".untrusted-* "$LOOT/run"
    if [[ $1 == link ]]; then
        folder=$LOOT/run
        as_user "$NOBODY" ln -s "$folder" "$RUNTIME"
    fi
    as_user "$NOBODY" mkdir -m 0777 "$folder"
    local plant="printf 'en0\n' >$folder/amn0.name"
    [[ $1 == fifo ]] && plant="mkfifo $folder/amn0.name"
    in_background "$LOOT/planter.out" "$NOBODY" sh -c \
        "echo planting; while :; do $plant 2>/dev/null; sleep 0.01; done"
    [[ $1 == fifo ]] || in_background "$LOOT/listener.out" "$NOBODY" \
        "$TARVEX_E2E_ATTACKER" listen "$folder/en0.sock" "$LOOT/uapi.capture"
}

scenario_runtime_folder_planted() {
    local kind en0_before aside
    for kind in name fifo link; do
        rm -f "$LOOT/uapi.capture"
        plant_runtime "$kind"
        snapshot
        en0_before=$(tarvex-macos dump | grep '^interface en0')
        ctl connect "$(vpn_config full-tunnel)"
        expect_connected
        expect_nothing_captured "$LOOT/uapi.capture"
        [[ $(tarvex-macos dump | grep '^interface en0') == "$en0_before" ]] \
            || fail "[$kind] en0 changed: $(tarvex-macos dump | grep '^interface en0')"
        [[ ! -L $RUNTIME && $(stat -c '%F %U %a' "$RUNTIME") == "directory root 700" ]] \
            || fail "[$kind] runtime folder: $(stat -c '%F %U %a' "$RUNTIME")"
        aside=$(find /tmp -maxdepth 1 -name 'tarvex-client-amneziawg.untrusted-*' -user nobody)
        [[ -n $aside ]] || fail "[$kind] the planted folder was not moved aside"
        expect_daemon_log "runtime directory not trusted"
        ctl disconnect
        expect_disconnected
        expect_restored
        stop_background
    done

    # A FIFO never blocks the daemon: SIGTERM still ends it at once.
    local started
    started=$(now_ms)
    stop_daemon
    echo "SIGTERM after the attacks: exit $daemon_status in $(($(now_ms) - started)) ms"
    [[ $daemon_status == 0 ]] || fail "the daemon exited with $daemon_status"
    start_daemon
    expect_legitimate_cycle
}

# --- 2. the connected user's keys ----------------------------------------------------------

scenario_peer_hidden_from_others() {
    snapshot
    ctl_as "$SOMEONE" connect "$(vpn_config full-tunnel)"
    expect_connected

    local stolen own root
    stolen=$(attacker request "$SOCK" '{"command":"status"}')
    [[ $stolen == *'"status":"connected"'* ]] || fail "nobody's status: $stolen"
    [[ $stolen != *peer* && $stolen != *vpn://* ]] || fail "nobody got the peer: $stolen"
    # The user who connected, and root, still get it (the client's syncStatus relies on it).
    own=$(as_user "$SOMEONE" "$TARVEX_E2E_ATTACKER" request "$SOCK" '{"command":"status"}')
    root=$("$TARVEX_E2E_ATTACKER" request "$SOCK" '{"command":"status"}')
    [[ $own == *'"peer":{'*vpn://* ]] || fail "the owner's status has no peer: $own"
    [[ $root == *'"peer":{'*vpn://* ]] || fail "root's status has no peer: $root"

    ctl disconnect
    expect_disconnected
    expect_restored
}

# --- 3. shutting the daemon out, and posing as it ----------------------------------------

# held_counts OUTPUT: "open closed" from a hold's report.
held_counts() {
    local line
    wait_for 250 0.02 grep -q '^open=' "$1"
    line=$(grep -m1 '^open=' "$1")
    line=${line#open=}
    echo "${line%% *} ${line##*closed=}"
}

scenario_idle_connections_flood() {
    in_background "$LOOT/hold.out" "$NOBODY" "$TARVEX_E2E_ATTACKER" hold "$SOCK" 200 0 30
    local open closed
    read -r open closed <<<"$(held_counts "$LOOT/hold.out")"
    echo "200 idle connections of one user: $open held, $closed answered busy and closed"
    ((open <= 8 && open + closed == 200)) || fail "held $open, closed $closed"
    expect_daemon_log "connection refused: busy"
    # Another user is not shut out while they are held.
    expect_legitimate_cycle
    stop_background
}

daemon_memory_kb() {
    awk -v field="$1:" '$1 == field {print $2}' "/proc/$daemon_pid/status"
}

scenario_unfinished_requests_bounded() {
    local before uid open closed total=0
    before=$(daemon_memory_kb VmRSS)
    # Three users, each with as many almost-1-MiB unfinished requests as it may open.
    for uid in 65534 65533 65532; do
        in_background "$LOOT/hold.$uid.out" "$uid" "$TARVEX_E2E_ATTACKER" hold "$SOCK" 8 1000000 30
    done
    for uid in 65534 65533 65532; do
        read -r open closed <<<"$(held_counts "$LOOT/hold.$uid.out")"
        total=$((total + open))
    done
    local peak
    peak=$(daemon_memory_kb VmHWM)
    echo "24 unfinished 1 MB requests: $total held; daemon RSS $before kB before, peak $peak kB"
    ((total <= 17)) || fail "$total unfinished requests held (16 MiB allow 16)"
    # Under AddressSanitizer freed memory waits in its quarantine: RSS measures nothing there.
    [[ ${TARVEX_SANITIZED:-0} == 1 ]] || ((peak - before < 64 * 1024)) \
        || fail "the daemon grew from $before kB to $peak kB"
    expect_daemon_log "request buffers full"
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
    local soft open
    # Only the soft limit: raising a hard limit again may need more than root has here.
    soft=$(prlimit --pid "$daemon_pid" --nofile --output SOFT --noheadings)
    # Connections of the scenario before may still be closing: a limit taken from a
    # count that then falls would leave room for every connection held below.
    wait_for 50 0.1 daemon_fds_steady || fail "the daemon's descriptors never settled"
    open=$(daemon_fd_count)
    prlimit --pid "$daemon_pid" --nofile=$((open + 2)):
    in_background "$LOOT/hold.out" "$NOBODY" "$TARVEX_E2E_ATTACKER" hold "$SOCK" 6 0 30
    wait_for 150 0.02 daemon_logged "listening socket lost"
    expect_daemon_log "listening socket lost"

    prlimit --pid "$daemon_pid" --nofile="$soft":
    stop_background
    wait_for 150 0.02 daemon_logged "listening again"
    expect_daemon_log "listening again"
    [[ $(stat -c '%F %U %a' "$SOCK") == "socket root 666" ]] \
        || fail "socket after listening again: $(stat -c '%F %U %a' "$SOCK")"
    expect_legitimate_cycle
}

# While the daemon is away, nobody listens on its path in /tmp: the client sends it no
# connect request (which would carry the keys), and the daemon takes the path back.
scenario_impostor_socket() {
    stop_daemon
    rm -f "$LOOT/impostor.capture"
    in_background "$LOOT/impostor.out" "$NOBODY" "$TARVEX_E2E_ATTACKER" listen "$SOCK" \
        "$LOOT/impostor.capture"
    ctl connect "$(vpn_config full-tunnel)"
    expect_error "VPN-сервис недоступен: сокет $SOCK открыт не системным сервисом (uid $NOBODY), запрос на подключение с ключами не отправлен"
    sleep 0.2
    expect_nothing_captured "$LOOT/impostor.capture"
    stop_background

    start_daemon
    [[ $(stat -c '%U' "$SOCK") == root ]] || fail "socket owner: $(stat -c '%U' "$SOCK")"
    expect_legitimate_cycle
}

# --- 4. split lists -------------------------------------------------------------------------

scenario_split_list_too_long() {
    snapshot
    local started elapsed
    started=$(now_ms)
    # shellcheck disable=SC2046
    ctl_as "$NOBODY" connect "$(vpn_config full-tunnel)" --split-only $(seq -f 'site%g.example' 3000)
    elapsed=$(($(now_ms) - started))
    expect_error "Слишком много записей раздельного туннелирования: 3000, допустимо не больше 256"
    ((elapsed < 3000)) || fail "refusing took $elapsed ms"
    expect_no_system_change
    expect_restored
    expect_legitimate_cycle
}

scenario_most_split_entries() {
    snapshot
    local entries started connect_ms disconnect_ms
    # shellcheck disable=SC2207
    entries=($(seq -f '10.77.0.%g' 1 255) 10.77.1.1)
    started=$(now_ms)
    ctl connect "$(vpn_config full-tunnel)" --split-only "${entries[@]}"
    connect_ms=$(($(now_ms) - started))
    expect_connected
    local routed
    routed=$(tarvex-macos dump | grep -c '^route inet 10\.77\.')
    [[ $routed == 256 ]] || fail "$routed split routes"
    started=$(now_ms)
    ctl disconnect
    disconnect_ms=$(($(now_ms) - started))
    expect_disconnected
    expect_restored
    echo "connect with 256 split entries: $connect_ms ms, disconnect: $disconnect_ms ms"
}

# A name server that never answers: every lookup would wait for the resolver's own
# time-out, one after another; together they get ten seconds.
scenario_silent_name_server() {
    cp /etc/resolv.conf "$WORK/resolv.conf"
    printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:1\n' >/etc/resolv.conf
    in_background "$LOOT/blackhole.out" 0 "$TARVEX_E2E_ATTACKER" blackhole 53
    snapshot
    local started elapsed
    started=$(now_ms)
    # shellcheck disable=SC2046
    ctl connect "$(vpn_config full-tunnel)" --split-only $(seq -f 'silent%g.example' 256)
    elapsed=$(($(now_ms) - started))
    echo "connect with 256 names and a silent name server: $elapsed ms"
    expect_connected
    ((elapsed >= 9000 && elapsed < 25000)) || fail "the connect took $elapsed ms"
    expect_daemon_log "split tunnel host not resolved"
    ctl disconnect
    expect_disconnected
    # The lookup given up on is still waiting for the resolver; it does not hold the exit.
    started=$(now_ms)
    stop_daemon
    elapsed=$(($(now_ms) - started))
    echo "SIGTERM with a lookup still pending: exit $daemon_status in $elapsed ms"
    if [[ $daemon_status != 0 ]] || ((elapsed >= 2000)); then
        fail "exit $daemon_status after $elapsed ms"
    fi
    stop_background
    cp "$WORK/resolv.conf" /etc/resolv.conf
    expect_restored
}

# --- 5. the client's view of a daemon that is gone ------------------------------------------

scenario_daemon_dies_mid_request() {
    start_daemon TARVEX_AWG_NAME_DELAY_MS=3000
    snapshot
    as_user "$SOMEONE" "$TARVEX_E2E_CTL" connect "$(vpn_config full-tunnel)" \
        >"$WORK/dying.out" 2>&1 &
    local client=$! started elapsed
    wait_for 250 0.02 daemon_logged "[MacVpnBackend] start process"
    started=$(now_ms)
    kill -KILL "$daemon_pid"
    wait "$client"
    elapsed=$(($(now_ms) - started))
    wait "$daemon_pid" 2>/dev/null
    daemon_pid=""
    echo "the client reported the killed daemon after $elapsed ms"
    [[ $(cat "$WORK/dying.out") == $'status: error\nerror: VPN-сервис недоступен: сервис закрыл соединение, не ответив на запрос' ]] \
        || fail "client output: $(cat "$WORK/dying.out")"
    ((elapsed < 1000)) || fail "the client waited $elapsed ms"
    # The killed daemon's tunnel program is still up; it undoes its interface on SIGTERM.
    pkill -TERM -x amneziawg-go
    wait_for 250 0.02 eval '! tunnel_running'
    expect_restored
    start_daemon
    expect_legitimate_cycle
}

trap stop_background EXIT
run_scenarios runtime_folder_planted peer_hidden_from_others idle_connections_flood \
    unfinished_requests_bounded listener_lost_and_regained impostor_socket \
    split_list_too_long most_split_entries silent_name_server daemon_dies_mid_request
