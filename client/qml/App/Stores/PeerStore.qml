pragma Singleton
import QtQml
import Qt.labs.settings
import App.Api
// AuthStore and SplitTunnelStore are seen as the module's singletons only through it.
import App.Stores

// The account's peers for the interface: loaded through the REST API, cached in the
// settings ("Peers") so that the list shows at once on the next start, and connected
// through the VpnManager context object with the split-tunnelling settings attached.
// A tunnel that is up for a peer no longer in the account stays visible as an extra
// entry, so that it can still be disconnected.
QtObject {
    id: peerStore

    property var peers: []
    property bool loading: false
    property string error: ""

    readonly property var connectedPeer: VpnManager.connected ? VpnManager.currentPeer : null
    readonly property bool connecting: VpnManager.busy
    readonly property bool hasPeers: Array.isArray(peers) && peers.length > 0
    readonly property bool hasVisiblePeers: hasPeers || activeTunnelEntry() !== null

    // Written with setValue, as AuthStore's settings are, so that a list is stored as
    // soon as it arrives.
    readonly property Settings stored: Settings {
        category: "Peers"
    }

    function fetchPeers(callback) {
        error = "";
        peers = peerList(parsedJson(String(stored.value("peersJson", "[]"))));
        syncActiveTunnel();
        // Offline, the cached list stays without an error: only the callback hears it.
        send("GET", "/peers", null, true, function (ok, json, status, xhr, data) {
                if (ok) {
                    peers = peerList(data);
                    stored.setValue("peersJson", JSON.stringify(peers));
                }
                answer(callback, ok);
            });
    }

    function syncActiveTunnel() {
        VpnManager.syncStatus();
    }

    function visiblePeers() {
        const list = hasPeers ? peers.slice() : [];
        const entry = activeTunnelEntry();
        if (entry !== null)
            list.push(entry);
        return list;
    }

    // The caller's map stays as it is: the split settings go into a copy.
    function onConnect(peer) {
        const copy = {};
        if (isRecord(peer)) {
            for (const key of Object.keys(peer))
                copy[key] = peer[key];
        }
        // An empty peer stays empty, so that VpnManager reports that none was chosen.
        if (Object.keys(copy).length > 0)
            copy.splitTunnel = SplitTunnelStore.connectionConfig();
        VpnManager.connectPeer(copy);
    }

    function offConnect() {
        VpnManager.disconnectVpn();
    }

    function createPeer(countryId, name, callback) {
        if (isBlank(countryId)) {
            refuse(qsTr("Выберите страну"), callback);
            return;
        }
        const peerName = textOf(name).trim();
        if (peerName === "") {
            refuse(qsTr("Введите название соединения"), callback);
            return;
        }
        send("POST", "/peers", {
                "country_id": Number(countryId),
                "name": peerName
            }, false, callback);
    }

    function updatePeer(peerId, name, callback) {
        if (isBlank(peerId)) {
            refuse(qsTr("Не указан идентификатор соединения"), callback);
            return;
        }
        const peerName = textOf(name).trim();
        if (peerName === "") {
            refuse(qsTr("Введите название соединения"), callback);
            return;
        }
        send("PATCH", "/peers/" + encodeURIComponent(textOf(peerId)), {
                "name": peerName
            }, false, callback);
    }

    function deletePeer(peerId, callback) {
        if (isBlank(peerId)) {
            refuse(qsTr("Не указан идентификатор соединения"), callback);
            return;
        }
        send("DELETE", "/peers/" + encodeURIComponent(textOf(peerId)), null, false, callback);
    }

    function clearState() {
        peers = [];
        loading = false;
        error = "";
    }

    // Whether two peer maps are the same connection: by configuration (and protocol,
    // when both name one) when both have one, else by id. The peer list marks the
    // connected row with it too.
    function samePeer(first, second) {
        if (!isRecord(first) || !isRecord(second))
            return false;
        const firstConfig = configKey(first);
        const secondConfig = configKey(second);
        if (firstConfig !== "" && secondConfig !== "") {
            const firstProtocol = textOf(first.protocol);
            const secondProtocol = textOf(second.protocol);
            return firstConfig === secondConfig && (firstProtocol === "" || secondProtocol === "" || firstProtocol === secondProtocol);
        }
        const firstId = textOf(first.id);
        return firstId !== "" && firstId === textOf(second.id);
    }

    // The connected peer when it is in no entry of `peers` (deleted from the account,
    // or the list not loaded yet), marked so that the list offers no edit for it.
    function activeTunnelEntry() {
        const connected = connectedPeer;
        if (!isRecord(connected) || Object.keys(connected).length === 0)
            return null;
        if (hasPeers && peers.some(peer => samePeer(peer, connected)))
            return null;
        const entry = {};
        for (const key of Object.keys(connected))
            entry[key] = connected[key];
        if (textOf(entry.name) === "")
            entry.name = qsTr("Активное подключение");
        entry.orphaned = true;
        entry.activeTunnel = true;
        return entry;
    }

    // Every request of this store, with AuthStore's session. A reply that comes back
    // after that session has ended or changed tells the callback false and nothing
    // else: another account's list must not land in `peers` or the cache, and a 401
    // of an old token must not sign the new session out.
    // done(ok, json, status, xhr, data).
    function send(method, path, payload, ignoreNetworkErrors, done) {
        loading = true;
        error = "";
        const sentToken = AuthStore.token;
        if (sentToken === "") {
            loading = false;
            error = qsTr("Необходимо войти заново");
            answer(done, false);
            return;
        }
        ApiClient.request(method, path, payload, {
                "token": sentToken,
                "tokenType": AuthStore.tokenType || "Bearer"
            }, function (result) {
                loading = false;
                if (AuthStore.token !== sentToken) {
                    answer(done, false, result);
                    return;
                }
                if (!result.ok && !(ignoreNetworkErrors && result.status === 0))
                    error = result.error;
                if (result.status === 401)
                    AuthStore.logout();
                if (typeof done === "function")
                    done(result.ok, result.json, result.status, result.xhr, result.data);
            });
    }

    // A list as it is; an object's list under "peers", else under "items"; else none.
    function peerList(value) {
        if (Array.isArray(value))
            return value;
        if (isRecord(value)) {
            if (Array.isArray(value.peers))
                return value.peers;
            if (Array.isArray(value.items))
                return value.items;
        }
        return [];
    }

    // The configuration as text; an object as JSON with its keys sorted, since a peer
    // that went through VpnManager comes back with them in another order.
    function configKey(peer) {
        const config = peer.config;
        if (config === null || config === undefined)
            return "";
        return typeof config === "string" ? config : canonicalJson(config);
    }

    function canonicalJson(value) {
        return JSON.stringify(value, function (key, member) {
                if (!isRecord(member))
                    return member;
                const sorted = {};
                for (const name of Object.keys(member).sort())
                    sorted[name] = member[name];
                return sorted;
            });
    }

    function refuse(text, callback) {
        error = text;
        answer(callback, false);
    }

    function answer(callback, ok, result) {
        if (typeof callback !== "function")
            return;
        if (result)
            callback(ok, result.json, result.status, result.xhr);
        else
            callback(ok);
    }

    function parsedJson(text) {
        try {
            return JSON.parse(text);
        } catch (ignored) {
            return null;
        }
    }

    function isBlank(value) {
        return textOf(value).trim() === "";
    }

    function isRecord(value) {
        return value !== null && typeof value === "object" && !Array.isArray(value);
    }

    function textOf(value) {
        return value === null || value === undefined ? "" : String(value);
    }
}
