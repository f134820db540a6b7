#!/usr/bin/env bash
# Builds everything and runs the whole CTest suite; non-zero on any failure. Then, so that
# a plain failure is reported first, what hostile input could do: the whole suite again
# under ASan + UBSan (scripts/sanitize.sh) and each fuzz target for a minute
# (scripts/fuzz.sh ci). Arguments go to the ctest runs.
#
# TARVEX_SKIP_SANITIZE=1 and TARVEX_SKIP_FUZZ=1 leave those out (quick local runs);
# TARVEX_FUZZ_SECONDS changes the time each fuzz target gets.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
build_dir=${TARVEX_BUILD_DIR:-build}
# Tests run side by side; those that share the sandbox take turns (RESOURCE_LOCK).
(cd "$build_dir" && ctest --output-on-failure --timeout 600 --parallel "$(nproc)" "$@")

if [[ ${TARVEX_SKIP_SANITIZE:-0} != 1 ]]; then
    bash scripts/sanitize.sh "$@"
fi
if [[ ${TARVEX_SKIP_FUZZ:-0} != 1 ]]; then
    bash scripts/fuzz.sh ci "${TARVEX_FUZZ_SECONDS:-60}"
fi
