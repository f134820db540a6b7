import QtQuick
import "qrc:/vpn-client"
import "common"

// The confirmation before a peer is deleted.
ShellScene {
    id: scene

    user: anna
    peers: annasPeers
    onApplied: (scene.find("peersPage") as PeersPage).requestDelete(annasPeers[3])
}
