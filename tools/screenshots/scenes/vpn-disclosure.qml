import QtQuick
import "qrc:/vpn-client"
import "frame"

// The disclosure an Android user accepts before the first connection.
SignedInFrame {
    id: scene

    title: "Соединения"

    Component.onCompleted: {
        Platform.os = "android";
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
        onTriggered: (page.item as PeersPage).requestConnect({ "id": 71, "name": "Нидерланды" })
    }
}
