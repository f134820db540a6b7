#!/usr/bin/env bash
# peer-list.sh: the peer list page with many peers, offscreen (tarvex-peerlist-bench,
# bench/peerlist): main() to the first frame of the list, opening the page to its first
# frame, and the time of each frame while the list scrolls.
#
#   bench/peer-list.sh [--peers N] [--navigations N] [--frames N] [--step PX]
#
# Defaults: 500 peers, 20 openings, 1200 frames of 60 px (to the end and back). The
# build is build/, or TARVEX_BUILD_DIR.
set -Eeuo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=${TARVEX_BUILD_DIR:-$repo/build}/bench/peerlist/tarvex-peerlist-bench
[[ -x $program ]] || { echo "peer-list.sh: $program not built" >&2; exit 2; }
# The program's own log (the closed API, no daemon) is expected and left out.
QT_QPA_PLATFORM=offscreen "$program" "$@" 2>/dev/null
