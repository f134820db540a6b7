import QtQuick
import App.Api
import App.Stores
import "qrc:/vpn-client"

// The whole window, Main, in the state a scene asks for: signed in as `user` (signed
// out without one), with the account store's texts, the VPN's state and the peer list
// loading as given. Applied once Main has started from its (empty) settings. The vendor
// API is a stand-in that lists `peers`, answers the profile with `user` and offers
// `countries`; `apiReplies` adds or replaces paths (see SceneSupport.vendorApi). Scenes
// open popups and menus on `applied`, when the page is there; `find` reaches them.
Main {
    id: scene

    property var user: null
    property string storeError: ""
    property string storeMessage: ""
    property int vpnState: 0
    property var vpnPeer: null
    property var peers: []
    property var countries: [{ "id": 1, "name": "Нидерланды" }, { "id": 2, "name": "Германия" }, { "id": 3, "name": "Финляндия" }, { "id": 4, "name": "США" }]
    property var apiReplies: ({})
    property bool peersLoading: false
    property string os: Qt.platform.os
    // where the pointer rests when the picture is taken (read by tarvex-screenshots)
    property var hoverAt: null

    signal applied

    // the account most scenes show
    readonly property var anna: ({
            "name": "Анна Смирнова",
            "email": "anna@example.com",
            "email_verified_at": "2024-05-01T10:00:00Z",
            "balance": 1234.5,
            "dayWriteOff": 11,
            "pricePerDayForFirstDevice": 5,
            "pricePerDayForNextDevices": 3,
            "isFirstDevice": false,
            "balanceExpiresAt": "22.02.2026"
        })
    // her connections
    readonly property var annasPeers: [
        { "id": 11, "name": "Нидерланды, Амстердам", "protocol": "amnezia-v1", "config": "vpn://AAAGX3icjZHBbsIwDIbvfQqrZ0hJt3VbbwgOY5dpEgfOoTFNpDZBcQrj7ZcUKEiw7BYn" },
        { "id": 12, "name": "Германия — домашний роутер и ноутбук в офисе", "protocol": "amnezia-v2", "config": "vpn://AAAAde" },
        { "id": 13, "name": "Финляндия", "protocol": "amnezia-v1", "config": "vpn://AAAAfi" },
        { "id": 14, "name": "США", "protocol": "amnezia-v1", "config": "vpn://AAAAus" }
    ]

    // after Main's own start, which signs out what the settings do not hold
    Timer {
        running: true
        interval: 0
        onTriggered: scene.apply()
    }

    function apply() {
        Platform.os = os;
        ApiClient.baseUrl = SceneSupport.vendorApi(Object.assign({
                "/peers": { "body": { "success": true, "data": peers }, "delayMs": peersLoading ? -1 : 0 },
                "/profile": { "body": { "success": true, "data": user } },
                "/countries": { "body": { "success": true, "data": countries } }
            }, apiReplies));
        if (user) {
            AuthStore.user = user;
            AuthStore.token = "scene-token";
        }
        AuthStore.error = storeError;
        AuthStore.message = storeMessage;
        PeerStore.loading = peersLoading;
        VpnManager.setState(vpnState, vpnPeer);
        applied();
    }

    // The item or popup of this object name, through `data`, which also holds popups.
    function find(name, from) {
        const item = from || contentItem;
        if (item.objectName === name)
            return item;
        const children = item.data || [];
        for (let i = 0; i < children.length; ++i) {
            const found = find(name, children[i]);
            if (found)
                return found;
        }
        return null;
    }
}
