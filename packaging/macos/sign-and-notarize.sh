#!/bin/bash
# Signs and notarises Tarvex for distribution outside the App Store (macOS, Xcode's
# command line tools):
#
#   sign-and-notarize.sh sign APP        sign every Mach-O inside APP, innermost first,
#                                        then APP, with the hardened runtime and a
#                                        secure timestamp
#   sign-and-notarize.sh notarize FILE   submit a .dmg, .pkg or .app to Apple's notary
#                                        service, wait for it and staple the ticket
#
# Environment:
#   TARVEX_SIGN_IDENTITY   "Developer ID Application: NAME (TEAMID)", a certificate in
#                          the keychain (sign, and notarize of a .dmg)
#   TARVEX_NOTARY_PROFILE  a notarytool keychain profile (notarize)
#
# Written for the bash 3.2 of macOS.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "sign-and-notarize: $*" >&2
    exit 1
}

require_identity() {
    [[ -n ${TARVEX_SIGN_IDENTITY:-} ]] || fail "TARVEX_SIGN_IDENTITY is not set.
Set it to the name of your \"Developer ID Application: NAME (TEAMID)\" certificate;
'security find-identity -v -p codesigning' lists those in your keychain."
}

require_tool() {
    command -v "$1" >/dev/null 2>&1 ||
        fail "$1 not found: this needs macOS with Xcode's command line tools (xcode-select --install)"
}

# Mach-O by its first four bytes: thin 64-bit and 32-bit, and universal binaries.
is_macho() {
    case $(od -An -tx1 -N4 "$1" 2>/dev/null | tr -d ' \n') in
    cffaedfe | cefaedfe | cafebabe) return 0 ;;
    *) return 1 ;;
    esac
}

# Deepest paths first.
innermost_first() {
    awk -F/ '{ print NF "\t" $0 }' | sort -rn | cut -f2-
}

codesign_one() {
    local args=(--force --options runtime --timestamp --sign "$TARVEX_SIGN_IDENTITY")
    if [[ -n ${2:-} ]]; then
        args+=(--entitlements "$2")
    fi
    codesign "${args[@]}" "$1"
}

# A signature seals what its bundle holds, so everything inside is signed before its
# container: loose Mach-O files (plug-ins, QML modules, the programs next to the client),
# then the frameworks as bundles, then the application with the client's entitlements.
sign_bundle() {
    local app=${1%/}
    [[ -d $app/Contents/MacOS ]] || fail "$app is not an application bundle"
    require_identity
    require_tool codesign
    local main path
    main=$app/Contents/MacOS/$(basename "$app" .app)
    find "$app/Contents" -type f ! -path '*.framework/*' | innermost_first | while IFS= read -r path; do
        if [[ $path == "$main" ]] || ! is_macho "$path"; then
            continue
        elif [[ $path == "$app/Contents/MacOS/"* ]]; then
            codesign_one "$path" "$here/TarvexVpnService.entitlements"
        else
            codesign_one "$path"
        fi
    done
    find "$app/Contents" -type d -name '*.framework' | innermost_first | while IFS= read -r path; do
        codesign_one "$path"
    done
    codesign_one "$app" "$here/tarvex-client.entitlements"
    codesign --verify --strict --deep "$app"
    echo "sign-and-notarize: signed $app"
}

notarize() {
    local file=${1%/} upload result
    [[ -e $file ]] || fail "$file does not exist"
    [[ -n ${TARVEX_NOTARY_PROFILE:-} ]] || fail "TARVEX_NOTARY_PROFILE is not set.
Store your notary credentials once with
  xcrun notarytool store-credentials PROFILE --apple-id ID --team-id TEAMID
and set TARVEX_NOTARY_PROFILE=PROFILE."
    require_tool xcrun
    upload=$file
    case $file in
    *.dmg)
        # A disk image carries a signature of its own.
        require_identity
        codesign --force --timestamp --sign "$TARVEX_SIGN_IDENTITY" "$file"
        ;;
    *.pkg)
        pkgutil --check-signature "$file" >/dev/null ||
            fail "$file is not signed: build it with TARVEX_INSTALLER_IDENTITY set"
        ;;
    *.app)
        upload=$(mktemp -d)/$(basename "$file").zip
        ditto -c -k --keepParent "$file" "$upload"
        ;;
    *) fail "cannot notarise $file: give a .dmg, .pkg or .app" ;;
    esac
    result=$(xcrun notarytool submit "$upload" --keychain-profile "$TARVEX_NOTARY_PROFILE" \
        --wait --output-format json)
    echo "$result"
    # notarytool can end well while the submission was rejected; the status tells.
    grep -q '"status" *: *"Accepted"' <<<"$result" ||
        fail "notarisation of $file was not accepted; 'xcrun notarytool log ID --keychain-profile $TARVEX_NOTARY_PROFILE' says why"
    xcrun stapler staple "$file"
    echo "sign-and-notarize: notarised $file"
}

case ${1:-} in
sign) sign_bundle "${2:?usage: sign-and-notarize.sh sign APP}" ;;
notarize) notarize "${2:?usage: sign-and-notarize.sh notarize FILE}" ;;
*) fail "usage: sign-and-notarize.sh sign APP | notarize FILE" ;;
esac
