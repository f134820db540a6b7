import QtQuick
import QtTest
import App.Api
import App.Stores
import ".."

// PeerStore against the real tarvex-vendor-api, with the scripted VpnManager: the list
// and its cache, the entry of a tunnel whose peer is gone, what a connect hands to the
// manager, ids in paths and the end of a session. (Its local refusals are in the
// AuthStore suite's table; the pages' suites create, rename and delete peers.)
ClientTestCase {
    name: "PeerStore"

    // The list in every shape the API may send it, from the server's /dev/reply (the real
    // one sends a plain list); offline, the cached list, shown at once and without an
    // error: only the callback hears it.
    function test_fetchPeers_data() {
        return [
            { tag: "list", data: [{ id: 1 }, { id: 2 }], peers: [{ id: 1 }, { id: 2 }] },
            { tag: "peers before items", data: { peers: [{ id: 4 }], items: [{ id: 3 }] }, peers: [{ id: 4 }] },
            { tag: "peers not a list", data: { peers: { id: 4 }, items: [{ id: 3 }] }, peers: [{ id: 3 }] },
            { tag: "neither", data: { count: 2 }, peers: [] },
            { tag: "offline, cached list", cache: '[{"id":1,"name":"Дом"}]', peers: [{ id: 1, name: "Дом" }] },
            { tag: "offline, corrupt cache", cache: '[{"id":', peers: [] }
        ];
    }

    function test_fetchPeers(data) {
        storedPeers.setValue("peersJson", data.cache || "[]");
        AuthStore.token = "token";
        if (data.cache)
            TestSupport.stopVendorApi();
        else
            replyWith(200, { data: data.data });
        PeerStore.error = "old";
        const answers = [];
        PeerStore.fetchPeers(ok => answers.push(ok));
        compare([PeerStore.peers, VpnManager.calls], [data.cache ? data.peers : [], [{ method: "syncStatus" }]]);
        until(() => answers.length === 1, 10000);
        compare([answers, PeerStore.error, PeerStore.peers, storedPeers.value("peersJson")], [[!data.cache], "", data.peers, data.cache || JSON.stringify(data.peers)]);
    }

    // The connected peer gets an entry of its own unless it is a listed one: the same
    // configuration (text, or objects as JSON) and protocol when both sides have a
    // configuration, else the same id as text.
    function test_activeTunnelEntry_data() {
        return [
            { tag: "same text, other protocol", listed: { config: "vpn://a", protocol: "amnezia-v1" }, connected: { config: "vpn://a", protocol: "amnezia-v2" }, entry: true },
            { tag: "same text, one protocol missing", listed: { config: "vpn://a" }, connected: { config: "vpn://a", protocol: "amnezia-v2" }, entry: false },
            { tag: "other text, same id", listed: { id: 1, config: "vpn://a" }, connected: { id: 1, config: "vpn://b" }, entry: true },
            { tag: "objects, keys reordered", listed: { config: { b: { d: 1, c: 2 }, a: [3] } }, connected: { config: { a: [3], b: { c: 2, d: 1 } } }, entry: false },
            { tag: "object and its text", listed: { config: { a: 1 } }, connected: { config: '{"a":1}' }, entry: false },
            { tag: "one config, ids as number and text", listed: { id: 7, config: "vpn://a" }, connected: { id: "7", config: null }, entry: false },
            { tag: "id 0", listed: { id: 0 }, connected: { id: 0 }, entry: false },
            { tag: "id 0 and an empty id", listed: { id: "" }, connected: { id: 0, name: "Ноль" }, entry: true, name: "Ноль" },
            { tag: "no id, no config", listed: { name: "Дом" }, connected: { name: "" }, entry: true },
            { tag: "still connecting", listed: { id: 1 }, connected: { id: 2 }, state: 1, entry: false }
        ];
    }

    function test_activeTunnelEntry(data) {
        PeerStore.peers = [data.listed];
        VpnManager.setState(data.state || 2, data.connected);
        const visible = PeerStore.visiblePeers();
        compare(visible.length, data.entry ? 2 : 1);
        if (data.entry)
            compare([visible[1].orphaned, visible[1].activeTunnel, visible[1].name], [true, true, data.name || "Активное подключение"]);
    }

    // The only test that reads SplitTunnelStore: whatever it returns is what is sent.
    function test_connectSendsACopyWithTheSplitSettings() {
        const peer = { id: 3, name: "Дом", protocol: "amnezia-v1", config: "vpn://x", splitTunnel: { stale: true }, extra: { list: [1] } };
        const original = JSON.stringify(peer);
        const sent = Object.assign({}, peer, { splitTunnel: SplitTunnelStore.connectionConfig() });
        PeerStore.onConnect(peer);
        PeerStore.onConnect({});
        PeerStore.offConnect();
        compare(JSON.stringify(peer), original);
        compare(VpnManager.calls, [{ method: "connectPeer", peer: sent }, { method: "connectPeer", peer: {} }, { method: "disconnectVpn" }]);
    }

    // The log holds paths decoded: an id sent as it is would lose its "?" and "#" part
    // and its "%2F" would become a "/".
    function test_idsInPaths_data() {
        return [
            { tag: "number 0", id: 0, path: "/api/v1/peers/0" },
            { tag: "query, fragment, escape", id: "1?x=2#y%2F", path: "/api/v1/peers/1?x=2#y%2F" }
        ];
    }

    function test_idsInPaths(data) {
        signIn(newAccount(), true);
        const statuses = [];
        PeerStore.updatePeer(data.id, "Имя", (ok, json, status) => statuses.push(status));
        PeerStore.deletePeer(data.id, (ok, json, status) => statuses.push(status));
        until(() => statuses.length === 2);
        compare(statuses, [404, 404]);
        compare([requestLog().map(entry => entry.path), PeerStore.error], [[data.path, data.path], "Соединение не найдено"]);
    }

    // A 401 to any request signs out; a list that arrives after its session ended is
    // dropped, so that one account's peers never show, or get cached, for another.
    function test_sessionEnds_data() {
        return [
            { tag: "401 to the list", operation: "fetchPeers", args: [], answer: [false] },
            { tag: "list after logout", operation: "fetchPeers", args: [], answer: [false], late: [{ id: 1, name: "Чужое" }] }
        ];
    }

    function test_sessionEnds(data) {
        signIn(newAccount(), true);
        if (data.late)
            ApiClient.baseUrl = slowServer(200, { data: data.late });
        else
            verify(request("POST", "/auth/logout", {}, AuthStore.token).ok, "token revoked");
        const answers = [];
        PeerStore[data.operation].apply(PeerStore, data.args.concat([(ok, json, status) => answers.push(status === undefined ? [ok] : [ok, status])]));
        ApiClient.baseUrl = root + "/api/v1";
        if (data.late)
            AuthStore.logout();
        tryVerify(() => answers.length === 1 && !AuthStore.isAuthenticated && ApiClient.activeRequests === 0, 10000);
        compare([answers[0], logouts.count, PeerStore.peers, storedPeers.value("peersJson")], [data.answer, 1, [], undefined]);
    }
}
