import "common"

// The peer list with four peers, the first of them connected.
ShellScene {
    user: anna
    peers: annasPeers
    vpnState: 2
    vpnPeer: annasPeers[0]
}
