#!/usr/bin/env bash
# The client must start offscreen, stay up and write no QML warning.
set -u
client=$1
log=$(mktemp)
home=$(mktemp -d)
trap 'rm -rf "$log" "$home"' EXIT

QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home" TARVEX_SERVICE_SOCKET="$home/none.sock" \
    "$client" >"$log" 2>&1 &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"; rc=$?
    echo "client exited early with $rc"; cat "$log"; exit 1
fi
kill -TERM "$pid"; wait "$pid" 2>/dev/null
if grep -E 'qrc:|\.qml:[0-9]+|QQmlApplicationEngine failed' "$log"; then
    echo "client printed QML errors"; exit 1
fi
echo "client stayed up"
