#!/usr/bin/env bash
# Installs what is missing, then configures and builds the tree into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build_dir=${TARVEX_BUILD_DIR:-build}
if [[ ! -f "$build_dir/build.ninja" ]]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${TARVEX_BUILD_TYPE:-RelWithDebInfo}" \
        ${TARVEX_VENDOR_DOMAIN:+-DTARVEX_VENDOR_DOMAIN="$TARVEX_VENDOR_DOMAIN"}
fi
cmake --build "$build_dir" --parallel "$(nproc)"
