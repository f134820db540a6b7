import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The whole window, Main, in the state a scene asks for: signed in as `user` (signed
// out without one), with the account store's texts, the VPN's state and the peer list
// loading as given. Applied once Main has started from its (empty) settings.
Main {
    id: scene

    property var user: null
    property string storeError: ""
    property string storeMessage: ""
    property int vpnState: 0
    property bool peersLoading: false
    property string os: Qt.platform.os
    // where the pointer rests when the picture is taken (read by tarvex-screenshots)
    property var hoverAt: null

    // the account most scenes show
    readonly property var anna: ({
            "name": "Анна Смирнова",
            "email": "anna@example.com",
            "email_verified_at": "2024-05-01T10:00:00Z",
            "balance": 1234.5
        })

    // after Main's own start, which signs out what the settings do not hold
    Timer {
        running: true
        interval: 0
        onTriggered: scene.apply()
    }

    function apply() {
        Platform.os = os;
        if (user) {
            AuthStore.user = user;
            AuthStore.token = "scene-token";
        }
        AuthStore.error = storeError;
        AuthStore.message = storeMessage;
        PeerStore.loading = peersLoading;
        VpnManager.setState(vpnState);
    }
}
