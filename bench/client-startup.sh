#!/usr/bin/env bash
# client-startup.sh: how long the client takes from being started to the first frame of
# its sign-in page, and how much memory it holds then, offscreen. Runs
# tarvex-startup-bench (bench/startup: the client's own start-up, with the first frame
# stamped) RUNS times after one run that is not counted, each from empty settings, and
# prints the median and worst of each figure.
#
#   bench/client-startup.sh [-n RUNS] [--build DIR]     (default: 20 runs, build/)
#
# The time runs from just before the process is started (the wall clock read here) to
# the wall clock the program reads when its first frame is swapped: exec, loading the
# libraries, QML, layout and the first frame. Memory is VmRSS (and the peak, VmHWM) one
# second after that frame.
set -Eeuo pipefail

runs=20
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build

while (($# > 0)); do
    case $1 in
    -n) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h | --help) sed -n '2,9s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "client-startup.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

program=$build/bench/startup/tarvex-startup-bench
[[ -x $program ]] || { echo "client-startup.sh: $program not built" >&2; exit 2; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

# field NAME LINE: the value of NAME=... in LINE
field() {
    local rest=${2#*"$1"=}
    echo "${rest%% *}"
}

# median and worst of the numbers on standard input
summary() {
    sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "median %s, worst %s", m, v[NR] }'
}

frames=() inside=() rss=() hwm=()
for ((run = 0; run <= runs; run++)); do
    rm -rf "${home:?}"/*
    start=$(date +%s%N)
    line=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$home TARVEX_SERVICE_SOCKET=$home/none.sock \
        "$program" 2>/dev/null) || { echo "client-startup.sh: run $run failed: $line" >&2; exit 1; }
    ((run == 0)) && continue
    frames+=($((($(field first-frame-realtime-ns "$line") - start) / 1000000)))
    inside+=("$(field main-to-first-frame-ms "$line")")
    rss+=($(($(field rss-kb "$line") / 1024)))
    hwm+=($(($(field hwm-kb "$line") / 1024)))
done

echo "client start-up, $runs runs (offscreen):"
echo "  start to first frame of the sign-in page, ms: $(printf '%s\n' "${frames[@]}" | summary)"
echo "  of which main() to first frame, ms:           $(printf '%s\n' "${inside[@]}" | summary)"
echo "  resident memory after start, MB:              $(printf '%s\n' "${rss[@]}" | summary)"
echo "  peak resident memory, MB:                     $(printf '%s\n' "${hwm[@]}" | summary)"
