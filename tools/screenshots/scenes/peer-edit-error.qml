import QtQuick
import "qrc:/vpn-client"
import "frame"

// PeerEditPopup after a save the server refused.
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
        onTriggered: {
            const popup = scene.find(page.item, "editPopup");
            popup.openForPeer({ "id": 51, "name": "Финляндия, Хельсинки" });
            popup.errorText = "Соединение не найдено";
        }
    }
}
