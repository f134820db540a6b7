import QtQuick
import "qrc:/vpn-client"
import "frame"

// PeersPage while a tunnel is up for a peer that has left the account: the peers from
// the API, none connected, and the tunnel's own entry at the end.
SignedInFrame {
    id: scene

    readonly property var peers: [
        { "id": 21, "name": "Нидерланды", "protocol": "amnezia-v1", "config": "vpn://AAAAnl" },
        { "id": 22, "name": "Германия", "protocol": "amnezia-v2", "config": "vpn://AAAAde" }
    ]

    title: "Соединения"

    Component.onCompleted: {
        signIn(peers);
        VpnManager.setState(2, { "id": 20, "protocol": "amnezia-v1", "config": "vpn://AAAAgone" });
        page.active = true;
    }

    Loader {
        id: page

        anchors.fill: parent
        active: false
        sourceComponent: PeersPage {}
    }
}
