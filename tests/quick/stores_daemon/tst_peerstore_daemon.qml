import QtQuick
import QtTest
import App.Stores
import "../stores"

// The stores with the client's own VpnManager, which talks to a fake daemon on a local
// socket: the connect the daemon receives for a peer of the list.
StoreTestCase {
    name: "PeerStoreWithVpnManager"

    function test_connectReachesTheDaemonWithTheSplitSettings() {
        TestSupport.startServiceDaemon();
        const account = newAccount();
        signIn(account, true);
        const country = request("GET", "/countries", null, account.token).data[0].id;
        const answers = [];
        PeerStore.createPeer(country, "Дом", ok => answers.push(ok));
        tryVerify(() => answers.length === 1, 10000);
        PeerStore.fetchPeers(ok => answers.push(ok));
        tryVerify(() => answers.length === 2, 10000);
        compare(answers, [true, true]);
        const peer = PeerStore.peers[0];
        PeerStore.onConnect(peer);
        tryVerify(() => VpnManager.connected, 10000);
        compare(PeerStore.visiblePeers(), [peer], "the connected peer is its own row");
        PeerStore.offConnect();
        tryVerify(() => VpnManager.state === 0, 10000);
        const requests = TestSupport.serviceDaemonRequests();
        compare(requests.map(request => request.command), ["status", "connect", "disconnect"]);
        compare(requests[1].peer, Object.assign({}, peer, { splitTunnel: SplitTunnelStore.connectionConfig() }));
    }
}
