import "common"

// The information popup of a peer whose configuration came as an object, without an id
// or a protocol.
ShellScene {
    id: scene

    user: anna
    peers: annasPeers
    onApplied: scene.find("infoPopup").openForPeer({
        "name": "Германия",
        "config": {
            "containers": [{ "container": "amnezia-awg", "awg": { "H1": "1144434789", "Jc": "4", "port": "51820" } }],
            "defaultContainer": "amnezia-awg",
            "description": "Германия, Франкфурт",
            "dns1": "1.1.1.1",
            "dns2": "1.0.0.1",
            "hostName": "198.51.100.20"
        }
    })
}
