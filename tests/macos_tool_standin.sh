#!/bin/bash
# Stand-in for launchctl, pkgutil and pkgbuild in the macOS packaging tests
# (macos_packaging.py links it under those names). Records every call in $STUB_LOG, one
# line of tab-separated words (its name, then its arguments), and keeps what the scripts
# ask about under $STUB_STATE; the scratch Mac is $TARVEX_ROOT.
set -eu
name=$(basename "$0")
{
    printf '%s' "$name"
    printf '\t%s' "$@"
    echo
} >>"$STUB_LOG"

case "$name ${1:-}" in
"launchctl print") [[ -e $STUB_STATE/loaded ]] ;;
"launchctl bootout")
    # What the Mac holds while the daemon stops: nothing may be gone yet.
    (cd "$TARVEX_ROOT" && find . -mindepth 1) >"$STUB_STATE/tree-at-bootout"
    rm -f "$STUB_STATE/loaded"
    ;;
"launchctl bootstrap")
    [[ ! -e $STUB_STATE/refuse-bootstrap ]] || exit 5
    touch "$STUB_STATE/loaded"
    ;;
"pkgutil --pkg-info") [[ -e $TARVEX_ROOT/var/db/receipts/$2.plist ]] ;;
"pkgutil --forget") rm -f "$TARVEX_ROOT/var/db/receipts/$2".* ;;
"pkgbuild "*)
    # The package as the folders it is built from: OUTPUT.root and OUTPUT.scripts.
    while (($# > 1)); do
        [[ $1 != --root && $1 != --scripts ]] || cp -pR "$2" "${*: -1}.${1#--}"
        shift
    done
    ;;
esac
