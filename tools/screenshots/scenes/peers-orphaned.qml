import "common"

// The peer list while a tunnel is up for a peer that has left the account: its own entry
// at the end, connected, without a settings menu.
ShellScene {
    user: anna
    peers: annasPeers.slice(1, 3)
    vpnState: 2
    vpnPeer: ({ "id": 10, "protocol": "amnezia-v1", "config": "vpn://AAAAgone" })
}
