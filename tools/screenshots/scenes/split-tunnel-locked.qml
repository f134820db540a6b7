import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The split-tunnelling page while a tunnel is up: everything locked, the switch too.
Rectangle {
    color: Themes.canvas

    Component.onCompleted: {
        SplitTunnelStore.setTunnelingEnabled(true);
        SplitTunnelStore.addEntry("youtube.com");
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
