#!/usr/bin/env bash
# Builds everything and runs the whole CTest suite; non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
build_dir=${TARVEX_BUILD_DIR:-build}
cd "$build_dir"
# Tests run side by side; those that share the sandbox take turns (RESOURCE_LOCK).
ctest --output-on-failure --timeout 600 --parallel "$(nproc)" "$@"
