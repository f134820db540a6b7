pragma Singleton

import QtQml

// The operating system as the interface sees it. Every check reads `os`, so a test can
// play another system on this one.
QtObject {
    // Qt.platform.os: "osx", "windows", "android", "linux", ...
    property string os: Qt.platform.os

    readonly property bool splitTunnelAvailable: os !== "windows"
    readonly property bool needsVpnDisclosure: os === "android"
}
