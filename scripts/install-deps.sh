#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Idempotent: the package index is refreshed only when something is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config
  # Qt 6: Core/Network for both programs, Gui/Qml/Quick for the client
  qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools libxkbcommon-dev libgl-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qt-labs-settings qml6-module-qttest
  # the type descriptions qmllint reads: QtQml's (Timer, the Qt namespace) and QtQml.Models'
  # (the combo box's delegate model)
  qml6-module-qtqml qml6-module-qtqml-models
  # zlib: the vpn:// parser's bounded inflate
  zlib1g-dev
  # a font with Cyrillic for the offscreen tests and screenshots
  fonts-dejavu-core
  # the local vendor API: HTTP server (it needs WebSockets), SQLite storage, libsodium
  qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite libsodium-dev
  # the macOS sandbox and the real-tunnel tests
  util-linux iproute2 iputils-ping procps wireguard-go wireguard-tools
  # hostile input: the ASan + UBSan build and the libFuzzer targets (clang 14 and its
  # sanitizer and fuzzer runtimes)
  clang-14 libclang-rt-14-dev
  # the macOS packaging checks (property lists, shell scripts)
  python3 shellcheck
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
