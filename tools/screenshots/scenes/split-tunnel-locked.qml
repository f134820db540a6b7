import App.Stores
import "common"

// The split-tunnelling page while a tunnel is up: everything locked, the switch too.
ShellScene {
    user: anna
    appPage: "splitTunnel"
    vpnState: 2
    vpnPeer: annasPeers[0]

    // Set directly, not through the store's operations: a scene writes no settings.
    onApplied: {
        SplitTunnelStore.tunnelingEnabled = true;
        SplitTunnelStore.entries = [{ "value": "youtube.com", "ip": "" }];
    }
}
