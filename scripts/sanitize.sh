#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ (clang 14) and runs the whole CTest suite there, sandbox tests included.
# Any sanitizer report fails the test that ran into it. Arguments go to ctest.
#
# TARVEX_SANITIZE_BUILD_DIR moves the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${TARVEX_SANITIZE_BUILD_DIR:-build-sanitize}

bash scripts/install-deps.sh
command -v clang++-14 >/dev/null || { echo "sanitize.sh: clang++-14 is missing" >&2; exit 2; }
if [[ ! -f "$build_dir/build.ninja" ]]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-14 -DTARVEX_SANITIZE=ON "${launcher[@]}" \
        ${TARVEX_VENDOR_DOMAIN:+-DTARVEX_VENDOR_DOMAIN="$TARVEX_VENDOR_DOMAIN"}
fi
cmake --build "$build_dir" --parallel "$(nproc)"

# Every program a test starts inherits these, inside the sandbox too.
# - detect_leaks: what LeakSanitizer finds at a program's exit fails it. Qt's own
#   allocations that live until exit are reachable from its globals and are not reported,
#   so no suppression is needed.
# - abort_on_error: a report ends the program with SIGABRT, which no test mistakes for an
#   ordinary failure exit status.
# - UBSan stops at the first report anyway (-fno-sanitize-recover); this adds its stack.
# - TARVEX_SANITIZED: tests that measure memory skip what ASan's quarantine distorts.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TARVEX_SANITIZED=1

cd "$build_dir"
# Side by side as in the plain suite; the sandbox's tests take turns (RESOURCE_LOCK).
ctest --output-on-failure --timeout 900 --parallel "$(nproc)" "$@"
