import QtQuick
import QtTest
import App.Api
import App.Stores

// PeerStore against the real tarvex-vendor-api, with the scripted VpnManager: the list
// and its cache, the entry of a tunnel whose peer is gone, what a connect hands to the
// manager, and the peer operations as the server receives them.
StoreTestCase {
    name: "PeerStore"

    SignalSpy { id: logoutSpy; target: AuthStore; signalName: "logoutFinished" }

    function initStoreTest() {
        logoutSpy.clear();
    }

    // Sends one operation with a callback that records its arguments; waits for it.
    function answered(operation, args) {
        const answers = [];
        PeerStore[operation].apply(PeerStore, args.concat([(...values) => answers.push(values)]));
        tryVerify(() => answers.length === 1, 10000);
        return answers[0];
    }

    // Replies the real API would not give, from the server's /dev/reply.
    function test_listShapes_data() {
        return [
            { tag: "list", data: [{ id: 1 }, { id: 2 }], peers: [{ id: 1 }, { id: 2 }] },
            { tag: "items", data: { items: [{ id: 3 }] }, peers: [{ id: 3 }] },
            { tag: "peers before items", data: { peers: [{ id: 4 }], items: [{ id: 3 }] }, peers: [{ id: 4 }] },
            { tag: "peers not a list", data: { peers: { id: 4 }, items: [{ id: 3 }] }, peers: [{ id: 3 }] },
            { tag: "neither", data: { count: 2 }, peers: [] }
        ];
    }

    function test_listShapes(data) {
        AuthStore.token = "token";
        ApiClient.baseUrl = root + "/dev/reply?status=200&body=" + encodeURIComponent(JSON.stringify({ data: data.data })) + "&path=";
        compare(answered("fetchPeers", []), [true]);
        compare([PeerStore.peers, storedPeers.value("peersJson")], [data.peers, JSON.stringify(data.peers)]);
    }

    // Offline, the cached list shows without an error; only the callback hears it.
    function test_cachedListWhileOffline_data() {
        return [
            { tag: "list", cache: '[{"id":1,"name":"Дом"}]', peers: [{ id: 1, name: "Дом" }] },
            { tag: "object with peers", cache: '{"peers":[{"id":2}]}', peers: [{ id: 2 }] },
            { tag: "corrupt", cache: '[{"id":', peers: [] }
        ];
    }

    function test_cachedListWhileOffline(data) {
        storedPeers.setValue("peersJson", data.cache);
        AuthStore.token = "token";
        TestSupport.stopVendorApi();
        PeerStore.error = "old";
        const answers = [];
        PeerStore.fetchPeers(ok => answers.push(ok));
        compare([PeerStore.peers, VpnManager.calls], [data.peers, [{ method: "syncStatus" }]]);
        tryVerify(() => answers.length === 1, 10000);
        compare([answers, PeerStore.error, PeerStore.peers, storedPeers.value("peersJson")], [[false], "", data.peers, data.cache]);
    }

    // The connected peer gets an entry of its own unless it is a listed one: the same
    // configuration (text, or objects as JSON) and protocol when both sides have a
    // configuration, else the same id as text.
    function test_activeTunnelEntry_data() {
        return [
            { tag: "same text, same protocol", listed: { config: "vpn://a", protocol: "amnezia-v1" }, connected: { config: "vpn://a", protocol: "amnezia-v1" }, entry: false },
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

    // Create, rename and delete on the server; the deleted peer, still connected, stays
    // visible as the active entry.
    function test_createRenameDelete() {
        const account = newAccount();
        signIn(account, true);
        const country = request("GET", "/countries", null, account.token).data[0].id;
        compare(answered("createPeer", [" " + country + " ", " Дом "])[2], 201);
        compare(TestSupport.requestLog(1)[0].body, JSON.stringify({ country_id: country, name: "Дом" }));
        compare(PeerStore.peers, [], "the list waits for the next fetch");
        answered("fetchPeers", []);
        const id = PeerStore.peers[0].id;
        compare(answered("updatePeer", [id, " Офис "])[2], 200);
        answered("fetchPeers", []);
        VpnManager.setState(2, PeerStore.peers[0]);
        compare(PeerStore.visiblePeers().map(peer => peer.name), ["Офис"]);
        compare(answered("deletePeer", [id])[2], 200);
        answered("fetchPeers", []);
        compare([PeerStore.hasPeers, PeerStore.hasVisiblePeers, storedPeers.value("peersJson")], [false, true, "[]"]);
        const orphan = PeerStore.visiblePeers()[0];
        compare([orphan.id, orphan.name, orphan.orphaned], [id, "Офис", true]);
        compare(received().filter(line => !line.startsWith("GET")), ["POST /api/v1/peers", "PATCH /api/v1/peers/" + id, "DELETE /api/v1/peers/" + id]);
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
        compare([answered("updatePeer", [data.id, "Имя"])[2], answered("deletePeer", [data.id])[2]], [404, 404]);
        compare([TestSupport.requestLog().map(entry => entry.path), PeerStore.error], [[data.path, data.path], "Соединение не найдено"]);
    }

    function test_localChecksSendNothing_data() {
        return [
            { tag: "no country", operation: "createPeer", args: [null, "Дом"], error: "Выберите страну" },
            { tag: "country of spaces", operation: "createPeer", args: [" ", "Дом"], error: "Выберите страну" },
            { tag: "id 0, name of spaces", operation: "updatePeer", args: [0, "  "], error: "Введите название соединения" },
            { tag: "no id", operation: "deletePeer", args: [undefined], error: "Не указан идентификатор соединения" },
            { tag: "signed out", operation: "fetchPeers", args: [], error: "Необходимо войти заново" }
        ];
    }

    function test_localChecksSendNothing(data) {
        compare([answered(data.operation, data.args), PeerStore.error, PeerStore.loading], [[false], data.error, false]);
        wait(50);
        compare(received(), []);
    }

    // A 401 to any request signs out; a list that arrives after its session ended is
    // dropped, so that one account's peers never show, or get cached, for another.
    function test_sessionEnds_data() {
        return [
            { tag: "401 to the list", operation: "fetchPeers", args: [], answer: [false] },
            { tag: "401 to create", operation: "createPeer", args: [1, "Дом"], answer: [false, 401] },
            { tag: "401 to delete", operation: "deletePeer", args: [1], answer: [false, 401] },
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
        compare([answers[0], logoutSpy.count, PeerStore.peers, storedPeers.value("peersJson")], [data.answer, 1, [], undefined]);
    }
}
