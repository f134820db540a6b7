import QtQuick
import App.Stores
import "common"

// The split-tunnelling page switched on, everything but the list through the VPN,
// scrolled down to the list: a site waiting for its address, an address, a subnet and a
// name too long for its row. (Switched off, it is shell-split-tunnel.)
ShellScene {
    id: scene

    user: anna
    appPage: "splitTunnel"

    // Set directly, not through the store's operations: a scene writes no settings.
    onApplied: {
        SplitTunnelStore.tunnelingEnabled = true;
        SplitTunnelStore.routeMode = SplitTunnelStore.modeAllExceptSelected;
        SplitTunnelStore.entries = [
            { "value": "youtube.com", "ip": "" },
            { "value": "192.0.2.15", "ip": "192.0.2.15" },
            { "value": "10.20.0.0/16", "ip": "10.20.0.0/16" },
            { "value": "very-long-subdomain.streaming-service.example.com", "ip": "" }
        ];
        scrollDown.start();
    }

    // once the list is laid out
    Timer {
        id: scrollDown

        interval: 100
        onTriggered: {
            const column = scene.find("pageColumn");
            column.contentY = Math.max(0, column.contentHeight - column.height);
        }
    }
}
