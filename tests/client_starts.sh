#!/usr/bin/env bash
# The client must start offscreen, stay up and write no QML warning.
set -u
log=$(mktemp) home=$(mktemp -d)
trap 'rm -rf "$log" "$home"' EXIT

QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home" TARVEX_SERVICE_SOCKET="$home/none.sock" \
    "$1" >"$log" 2>&1 &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "client exited early with $?"; cat "$log"; exit 1; }
kill -TERM "$pid"; wait "$pid" 2>/dev/null
if grep -E 'qrc:|\.qml:[0-9]+|QQmlApplicationEngine failed' "$log"; then
    echo "client printed QML errors"; exit 1
fi
