import "common"

// The information popup of a peer whose configuration is vpn:// text.
ShellScene {
    id: scene

    user: anna
    peers: annasPeers
    onApplied: scene.find("infoPopup").openForPeer(annasPeers[0])
}
