import QtQuick
import App.Stores
import "common"

// The settings menu of the second peer open.
ShellScene {
    id: scene

    user: anna
    peers: annasPeers

    // Once the list holds the rows the API sent.
    Timer {
        running: true
        repeat: true
        interval: 10
        onTriggered: {
            const list = scene.find("peerList");
            if (!list || PeerStore.loading || list.count < 2)
                return;
            stop();
            scene.find("menuButton", list.itemAtIndex(1)).clicked();
        }
    }
}
