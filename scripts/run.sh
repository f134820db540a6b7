#!/usr/bin/env bash
# Builds everything and starts the client window. Without a display it runs on the
# offscreen platform so it can still be started (and stopped with Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
build_dir=${TARVEX_BUILD_DIR:-build}
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "run: no display found, starting the client on the offscreen platform"
    export QT_QPA_PLATFORM=offscreen
fi
exec "$build_dir/client/tarvex-client"
