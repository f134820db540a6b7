#!/usr/bin/env bash
# Builds and runs the libFuzzer targets of fuzz/ (clang 14, ASan + UBSan) in build-fuzz/.
#
#   bash scripts/fuzz.sh build                      configure (once) and build every target
#   bash scripts/fuzz.sh list                       the targets' names
#   bash scripts/fuzz.sh run TARGET [SECONDS] [libFuzzer option...]
#                                                   fuzz one target (default 600 s); new inputs
#                                                   go to build-fuzz/corpus/TARGET, findings to
#                                                   build-fuzz/findings/
#   bash scripts/fuzz.sh repro TARGET FILE...       run a target once on saved inputs
#   bash scripts/fuzz.sh ci [SECONDS]               build, then every target for SECONDS
#                                                   (default 60) on its seeds; fails on a finding
#
# TARVEX_FUZZ_BUILD_DIR moves the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${TARVEX_FUZZ_BUILD_DIR:-build-fuzz}
targets=(vpnconfigparser servicewire servicerequests uapi hostsfile)

# -timeout: an input that runs longer is a hang. -rss_limit_mb: ASan's quarantine and the
# fuzzer's corpus live in it too, so it is above what one input may allocate
# (-malloc_limit_mb, the default: the same as -rss_limit_mb).
fuzz_options=(-timeout=10 -rss_limit_mb=2560 -malloc_limit_mb=1024 -print_final_stats=1
    -dict=fuzz/tarvex.dict)
# UBSan already stops at the first report (-fno-sanitize-recover); this adds its stack.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

die() { echo "fuzz.sh: $*" >&2; exit 2; }

known_target() {
    local target
    for target in "${targets[@]}"; do
        [[ $target == "$1" ]] && return 0
    done
    die "unknown target '$1' (bash scripts/fuzz.sh list)"
}

build() {
    bash scripts/install-deps.sh
    command -v clang++-14 >/dev/null || die "clang++-14 is missing (scripts/install-deps.sh)"
    if [[ ! -f "$build_dir/build.ninja" ]]; then
        local launcher=()
        command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_COMPILER=clang++-14 -DTARVEX_FUZZ=ON "${launcher[@]}"
    fi
    cmake --build "$build_dir" --parallel "$(nproc)" --target tarvex_fuzzers
}

# fuzz TARGET SECONDS [option...]: one run, seeds first, into the target's working corpus.
fuzz() {
    local target=$1 seconds=$2
    shift 2
    known_target "$target"
    local corpus=$build_dir/corpus/$target findings=$build_dir/findings
    mkdir -p "$corpus" "$findings"
    "$build_dir/fuzz/fuzz_$target" "${fuzz_options[@]}" -max_total_time="$seconds" \
        -artifact_prefix="$findings/$target-" "$@" "$corpus" "fuzz/corpus/$target"
}

# The last status line and the totals of a run's log, on one line.
summary() {
    local log=$1 status executions
    status=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | sed -E 's/^#[0-9]+[[:space:]]+[A-Z]+[[:space:]]+//')
    executions=$(sed -nE 's/^stat::number_of_executed_units: *//p' "$log")
    echo "executions ${executions:-?}, ${status:-no status}"
}

command=${1:-}
[[ -n $command ]] || die "usage: fuzz.sh build|list|run|repro|ci (see the script's head)"
shift
case $command in
    build)
        build ;;
    list)
        printf '%s\n' "${targets[@]}" ;;
    run)
        [[ $# -ge 1 ]] || die "usage: fuzz.sh run TARGET [SECONDS] [libFuzzer option...]"
        target=$1 seconds=${2:-600}
        shift $(($# >= 2 ? 2 : 1))
        fuzz "$target" "$seconds" "$@" ;;
    repro)
        [[ $# -ge 2 ]] || die "usage: fuzz.sh repro TARGET FILE..."
        known_target "$1"
        target=$1
        shift
        "$build_dir/fuzz/fuzz_$target" "${fuzz_options[@]}" "$@" ;;
    ci)
        seconds=${1:-60}
        build
        failed=()
        for target in "${targets[@]}"; do
            log=$build_dir/fuzz-$target.log
            echo "fuzz.sh: $target for ${seconds} s"
            if fuzz "$target" "$seconds" >"$log" 2>&1; then
                echo "fuzz.sh: $target: $(summary "$log")"
            else
                failed+=("$target")
                tail -n 60 "$log"
                echo "fuzz.sh: $target FAILED; the input is in $build_dir/findings/" \
                    "(bash scripts/fuzz.sh repro $target FILE)"
            fi
        done
        ((${#failed[@]} == 0)) || die "findings in: ${failed[*]}" ;;
    *)
        die "unknown command '$command'" ;;
esac
