import QtQuick
import "qrc:/vpn-client"
import "frame"

// PeerPopup of a peer whose configuration came as an object, without an id.
SignedInFrame {
    id: scene

    readonly property var peer: ({ "name": "Германия", "config": { "containers": [{ "container": "amnezia-awg", "awg": { "H1": "1144434789", "Jc": "4", "port": "51820" } }], "defaultContainer": "amnezia-awg", "description": "Германия, Франкфурт", "dns1": "1.1.1.1", "dns2": "1.0.0.1", "hostName": "198.51.100.20" } })

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
        onTriggered: scene.find(page.item, "infoPopup").openForPeer(scene.peer)
    }
}
