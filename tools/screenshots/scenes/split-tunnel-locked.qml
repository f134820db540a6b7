import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The split-tunnelling page while a tunnel is up: everything locked, the switch too.
Rectangle {
    color: Themes.canvas

    // Set directly, not through the store's operations: a scene writes no settings.
    Component.onCompleted: {
        SplitTunnelStore.tunnelingEnabled = true;
        SplitTunnelStore.entries = [{ "value": "youtube.com", "ip": "" }];
        VpnManager.setState(2, { "id": 7, "name": "Нидерланды" });
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
