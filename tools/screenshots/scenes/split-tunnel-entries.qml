import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The split-tunnelling page switched on, only the listed entries through the VPN,
// scrolled down to the list: a site waiting for its address, an address and a subnet.
Rectangle {
    id: scene

    color: Themes.canvas

    // Set directly, not through the store's operations: a scene writes no settings.
    Component.onCompleted: {
        SplitTunnelStore.tunnelingEnabled = true;
        SplitTunnelStore.routeMode = SplitTunnelStore.modeAllExceptSelected;
        SplitTunnelStore.entries = [
            { "value": "youtube.com", "ip": "" },
            { "value": "192.0.2.15", "ip": "192.0.2.15" },
            { "value": "10.20.0.0/16", "ip": "10.20.0.0/16" },
            { "value": "very-long-subdomain.streaming-service.example.com", "ip": "" }
        ];
        loader.active = true;
    }

    function flickableIn(item) {
        if (item.contentY !== undefined && item.flickableDirection !== undefined)
            return item;
        for (let i = 0; i < item.children.length; ++i) {
            const found = flickableIn(item.children[i]);
            if (found)
                return found;
        }
        return null;
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

    // Once laid out: the bottom of the page.
    Timer {
        running: true
        interval: 100
        onTriggered: {
            const flickable = scene.flickableIn(loader.item);
            flickable.contentY = Math.max(0, flickable.contentHeight - flickable.height);
        }
    }
}
