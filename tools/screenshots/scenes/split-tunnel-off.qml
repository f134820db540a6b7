import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The split-tunnelling page with split tunnelling switched off: all visible, all greyed.
Rectangle {
    color: Themes.canvas

    // Set directly, not through the store's operations: a scene writes no settings.
    Component.onCompleted: {
        SplitTunnelStore.tunnelingEnabled = false;
        SplitTunnelStore.entries = [{ "value": "youtube.com", "ip": "" }, { "value": "10.20.0.0/16", "ip": "10.20.0.0/16" }];
        loader.active = true;
    }

    Loader {
        id: loader

        anchors.fill: parent
        // where the signed-in frame puts its page: under the header, above the navigation
        anchors.margins: Themes.pagePadding
        anchors.topMargin: 102
        anchors.bottomMargin: 94
        active: false
        sourceComponent: SplitTunnelPage {}
    }
}
