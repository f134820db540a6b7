#!/usr/bin/env bash
# The client starts offscreen, stays up and writes no QML warning; it ends with -1 (255)
# when its root QML cannot be created, which an unknown Quick Controls style causes from
# outside (Main's QtQuick.Controls import fails) without any hook in the program.
set -u
log=$(mktemp) home=$(mktemp -d)
trap 'rm -rf "$log" "$home"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home" TARVEX_SERVICE_SOCKET="$home/none.sock"

"$1" >"$log" 2>&1 &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "client exited early with $?"; cat "$log"; exit 1; }
kill -TERM "$pid"; wait "$pid" 2>/dev/null
if grep -E 'qrc:|\.qml:[0-9]+|QQmlApplicationEngine failed' "$log"; then
    echo "client printed QML errors"; exit 1
fi

QT_QUICK_CONTROLS_STYLE=NoSuchStyle timeout 30 "$1" >"$log" 2>&1
rc=$?
if [ "$rc" -ne 255 ] || ! grep -q 'failed to load component' "$log"; then
    echo "client exited with $rc, expected 255 after a QML load failure"; cat "$log"; exit 1
fi
