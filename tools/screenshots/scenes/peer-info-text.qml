import QtQuick
import "qrc:/vpn-client"
import "frame"

// PeerPopup of a peer whose configuration is vpn:// text, over the peer list.
SignedInFrame {
    id: scene

    readonly property var peer: ({ "id": 41, "name": "Нидерланды, Амстердам", "protocol": "amnezia-v1", "config": "vpn://AAAGX3icjZHBbsIwDIbvfQqrZ0hJt3VbbwgOY5dpEgfOoTFNpDZBcQrj7ZcUKEiw7BYn_j_b35-lAJRA_VsGQ1qH_kmoxa9cZgZMnGdAMB2AMlv4kvO9uZ2ZvKtCRm_aSGv-wuuzO3l97f47v9eXyf5NJT_Yv7fqzuQnAj2SxGoqc1nh_AXxM5kHh-kLIOOtFuqNlaTjgOzt8f70sPzLqBkuVM3nXCh4q8ppc1Lb" })

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
