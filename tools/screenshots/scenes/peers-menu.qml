import QtQuick
import App.Stores
import "qrc:/vpn-client"
import "frame"

// PeersPage with the settings menu of the second row open.
SignedInFrame {
    id: scene

    readonly property var peers: [
        { "id": 31, "name": "Нидерланды", "protocol": "amnezia-v1", "config": "vpn://AAAAnl" },
        { "id": 32, "name": "Германия", "protocol": "amnezia-v2", "config": "vpn://AAAAde" },
        { "id": 33, "name": "Финляндия", "protocol": "amnezia-v1", "config": "vpn://AAAAfi" }
    ]

    title: "Соединения"

    Component.onCompleted: {
        signIn(peers);
        page.active = true;
    }

    Loader {
        id: page

        anchors.fill: parent
        active: false
        sourceComponent: PeersPage {}
    }

    // Once the list holds the rows the API sent.
    Timer {
        running: true
        repeat: true
        interval: 10
        onTriggered: {
            const list = scene.find(page.item, "peerList");
            if (PeerStore.loading || list.count < 2)
                return;
            stop();
            scene.find(list.itemAtIndex(1), "menuButton").clicked();
        }
    }
}
