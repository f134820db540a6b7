import QtQuick
import "qrc:/vpn-client"
import "frame"

// The confirmation before a peer is deleted.
SignedInFrame {
    id: scene

    title: "Соединения"

    Component.onCompleted: {
        signIn(samplePeers);
        page.active = true;
    }

    Loader {
        id: page

        anchors.fill: parent
        active: false
        sourceComponent: PeersPage {}
    }

    Timer {
        running: true
        interval: 0
        onTriggered: (page.item as PeersPage).requestDelete({ "id": 61, "name": "США, Нью-Йорк" })
    }
}
