pragma Singleton

import QtQuick
import App.Api

QtObject {
    // window and surfaces
    readonly property color canvas: "#09090b"
    readonly property color surface: "#111113"
    readonly property color surfaceRaised: "#16161a"
    readonly property color surfaceSoft: "#1d1d22"
    readonly property color border: "#24242b"
    readonly property color divider: "#202027"

    // accent
    readonly property color accent: "#2dd4bf"
    readonly property color accentHover: "#5eead4"
    readonly property color accentPressed: "#14b8a6"
    readonly property color accentMuted: "#0f2f2b"
    // text drawn on an accent fill
    readonly property color accentText: "#09090b"

    // text
    readonly property color textPrimary: "#f7f7f8"
    readonly property color textSecondary: "#aaaab2"
    readonly property color textMuted: "#72727d"
    readonly property color textDisabled: "#50505a"

    // states
    readonly property color success: "#34d399"
    readonly property color warning: "#fbbf24"
    readonly property color danger: "#f87171"
    readonly property color info: "#94a3b8"

    // geometry
    readonly property int radiusSmall: 8
    readonly property int radius: 10
    readonly property int radiusLarge: 14
    readonly property int pagePadding: 20
    readonly property int fieldHeight: 44
    readonly property int buttonHeight: 44

    readonly property string appName: "Tarvex VPN"

    // The vendor's website, on the organisation domain the program was built for.
    readonly property string websiteUrl: BuildConfig.websiteUrl
    readonly property string offerUrl: websiteUrl + "/offer"
    readonly property string privacyPolicyUrl: websiteUrl + "/personal-agreement"
}
