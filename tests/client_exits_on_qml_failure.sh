#!/usr/bin/env bash
# The client must end with -1 (255) when its root QML cannot be created. Qt's own
# style selection breaks the load from outside: an unknown Quick Controls style
# makes Main's QtQuick.Controls import fail, without any hook in the program.
set -u
log=$(mktemp) home=$(mktemp -d)
trap 'rm -rf "$log" "$home"' EXIT

QT_QPA_PLATFORM=offscreen QT_QUICK_CONTROLS_STYLE=NoSuchStyle XDG_CONFIG_HOME="$home" \
    TARVEX_SERVICE_SOCKET="$home/none.sock" timeout 30 "$1" >"$log" 2>&1
rc=$?
if [ "$rc" -ne 255 ] || ! grep -q 'failed to load component' "$log"; then
    echo "client exited with $rc, expected 255 after a QML load failure"; cat "$log"; exit 1
fi
