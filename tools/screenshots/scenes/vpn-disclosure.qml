import QtQuick
import "qrc:/vpn-client"
import "common"

// On Android, what the user accepts before the first connection.
ShellScene {
    id: scene

    user: anna
    peers: annasPeers
    os: "android"
    onApplied: (scene.find("peersPage") as PeersPage).requestConnect(annasPeers[0])
}
