import QtQuick
import "qrc:/vpn-client"
import "frame"

// PeersPage with four peers from the API, the first of them connected.
SignedInFrame {
    id: scene

    title: "Соединения"

    Component.onCompleted: {
        signIn(samplePeers);
        VpnManager.setState(2, samplePeers[0]);
        page.active = true;
    }

    Loader {
        id: page

        anchors.fill: parent
        active: false
        sourceComponent: PeersPage {}
    }
}
