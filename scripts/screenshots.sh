#!/usr/bin/env bash
# Builds, then renders every interface scene (tools/screenshots/scenes) offscreen at the
# window's default size and at its minimum into build/screenshots/*.png.
# Arguments are passed on to tarvex-screenshots: scene names, or --size WxH.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
build_dir=${TARVEX_BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
# Scenes of the whole window start from empty settings, not from this user's session.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
"$build_dir/tools/screenshots/tarvex-screenshots" --scenes tools/screenshots/scenes \
    --out "$build_dir/screenshots" "$@"
