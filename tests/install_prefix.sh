#!/usr/bin/env bash
# A plain prefix install on this machine (install_prefix.sh CMAKE BUILD_DIR): the two
# programs and nothing else, and the installed client starts (its QML is compiled in).
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

"$1" --install "$2" --prefix "$prefix" >/dev/null
tree=$(cd "$prefix" && find . -mindepth 1 -printf '%p %m\n' | sort)
[[ $tree == $'./bin 755\n./bin/TarvexVpnService 755\n./bin/tarvex-client 755' ]] \
    || { echo "FAIL: the prefix holds"$'\n'"$tree"; exit 1; }
bash "$(dirname "$0")/client_starts.sh" "$prefix/bin/tarvex-client"
