#!/usr/bin/env bash
# connect-cycles.sh: times connect/disconnect cycles of the real daemon in the sandbox
# (tools/sandbox), driven with tarvexctl like the end-to-end tests, and prints the
# median and worst connect and disconnect times, the daemon's CPU time per cycle, its
# peak RSS and its own overhead per connect. Needs root (the sandbox does).
#
#   bench/connect-cycles.sh [-n CYCLES] [--build DIR]     (default: 50 cycles, build/)
#
# The daemon's own overhead is its connect time minus the time its child programs take,
# both from the daemon's own log (bench/connect-spans.awk).
set -Eeuo pipefail

cycles=50
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build

usage() {
    sed -n '2,7s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

# --- inside the sandbox -------------------------------------------------------------------

now_us() {
    local microseconds=${EPOCHREALTIME//[.,]/}
    echo "$microseconds"
}

# cpu_ticks PID: utime+stime and cutime+cstime of the process, in clock ticks.
cpu_ticks() {
    local stat
    stat=$(<"/proc/$1/stat")
    # Fields after the command name, which ends with the last ")".
    read -r -a fields <<<"${stat##*) }"
    echo "$((fields[11] + fields[12])) $((fields[13] + fields[14]))"
}

inside() {
    local daemon=$build/service/TarvexVpnService ctl=$build/tools/tarvexctl/tarvexctl
    local awg_dir=$build/tools/amneziawg-go work=/tmp/tarvex-bench
    mkdir -p "$work"
    "$build/tools/vpnconfig-encode/vpnconfig-encode" \
        "$repo/tests/e2e/fixtures/full-tunnel.json" >"$work/full-tunnel.vpn"

    (cd "$awg_dir" && QT_MESSAGE_PATTERN='%{time process} %{message}' exec "$daemon") \
        >"$work/daemon.log" 2>&1 &
    local pid=$!
    local attempt
    for attempt in $(seq 100); do
        "$ctl" status >/dev/null 2>&1 && break
        sleep 0.05
    done
    ((attempt < 100)) || { echo "the daemon did not start"; exit 1; }

    # One cycle first, not counted: the first connect pays for cold caches.
    if ! "$ctl" connect "$work/full-tunnel.vpn" >/dev/null || ! "$ctl" disconnect >/dev/null; then
        echo "the warm-up cycle failed"
        tail -n 30 "$work/daemon.log"
        exit 1
    fi
    local warmup_lines
    warmup_lines=$(wc -l <"$work/daemon.log")

    local before_cpu after_cpu cycle start middle end
    before_cpu=$(cpu_ticks "$pid")
    : >"$work/times"
    for ((cycle = 1; cycle <= cycles; ++cycle)); do
        start=$(now_us)
        "$ctl" connect "$work/full-tunnel.vpn" >"$work/ctl.out" \
            || { echo "connect $cycle failed: $(cat "$work/ctl.out")"; exit 1; }
        middle=$(now_us)
        "$ctl" disconnect >"$work/ctl.out" \
            || { echo "disconnect $cycle failed: $(cat "$work/ctl.out")"; exit 1; }
        end=$(now_us)
        echo "$(((middle - start) / 1000)).$(((middle - start) % 1000 / 100)) \
$(((end - middle) / 1000)).$(((end - middle) % 1000 / 100))" >>"$work/times"
    done
    after_cpu=$(cpu_ticks "$pid")
    local peak_rss
    peak_rss=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
    kill -TERM "$pid"
    wait "$pid" || true

    local ticks
    ticks=$(getconf CLK_TCK)
    read -r own_before children_before <<<"$before_cpu"
    read -r own_after children_after <<<"$after_cpu"

    echo "TarvexVpnService: $cycles connect/disconnect cycles of a full tunnel (after one warm-up)"
    echo "machine: $(nproc) cores, Debian $(cat /etc/debian_version), Qt $(qmake6 -query QT_VERSION 2>/dev/null || echo ?), load average $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    printf '%-44s %9s %9s\n' "" median worst
    # Per connect from the daemon's log: its time, its children's time, its own overhead.
    tail -n "+$((warmup_lines + 1))" "$work/daemon.log" \
        | awk -f "$repo/bench/connect-spans.awk" >"$work/daemon-times"
    [[ $(wc -l <"$work/daemon-times") == "$cycles" ]] \
        || { echo "the daemon log has $(wc -l <"$work/daemon-times") connects, not $cycles"; exit 1; }

    summary() { # LABEL FILE COLUMN
        sort -n -k"$3,$3" "$2" | awk -v label="$1" -v column="$3" '
            { values[NR] = $column }
            END { median = NR % 2 ? values[(NR + 1) / 2] : (values[NR / 2] + values[NR / 2 + 1]) / 2
                  printf "%-44s %6.1f ms %6.1f ms\n", label, median, values[NR] }'
    }
    summary "connect (tarvexctl round trip)" "$work/times" 1
    summary "  in the daemon (accepted to response)" "$work/daemon-times" 1
    summary "  of which child programs" "$work/daemon-times" 2
    summary "  daemon's own overhead" "$work/daemon-times" 3
    summary "disconnect (tarvexctl round trip)" "$work/times" 2
    echo
    awk -v own=$((own_after - own_before)) -v children=$((children_after - children_before)) \
        -v ticks="$ticks" -v cycles="$cycles" 'BEGIN {
            printf "daemon CPU time per cycle (user+system): %.1f ms\n", own * 1000 / ticks / cycles
            printf "child programs CPU time per cycle:       %.1f ms\n", children * 1000 / ticks / cycles }'
    awk -v kb="$peak_rss" 'BEGIN { printf "daemon peak RSS (VmHWM):                 %.1f MB\n", kb / 1024 }'
}

# --- outside ------------------------------------------------------------------------------

if [[ ${1:-} == --inside ]]; then
    cycles=$2
    build=$3
    inside
    exit 0
fi

while (($#)); do
    case $1 in
        -n) cycles=${2:?-n needs a number}; shift 2 ;;
        --build) build=$(cd "${2:?--build needs a folder}" && pwd); shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
[[ $cycles =~ ^[1-9][0-9]*$ ]] || { echo "-n needs a positive number" >&2; exit 2; }
for program in service/TarvexVpnService tools/tarvexctl/tarvexctl tools/amneziawg-go/amneziawg-go \
               tools/vpnconfig-encode/vpnconfig-encode tools/sandbox/tarvex-sandbox; do
    [[ -x $build/$program ]] || { echo "$build/$program is missing: build the project" >&2; exit 2; }
done

# The hosts seed of the end-to-end tests, for the vendor domain this build was made with.
domain=$(sed -n 's/^TARVEX_VENDOR_DOMAIN:STRING=//p' "$build/CMakeCache.txt")
hosts=$(mktemp)
trap 'rm -f "$hosts"' EXIT
sed "s/@TARVEX_VENDOR_DOMAIN@/${domain:-tarvex.example}/" "$repo/tests/e2e/hosts.in" >"$hosts"

"$build/tools/sandbox/tarvex-sandbox" --hosts "$hosts" \
    -- bash "$repo/bench/connect-cycles.sh" --inside "$cycles" "$build"
