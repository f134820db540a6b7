import QtQuick
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "frame"

// AddPeerPage while the countries are on their way.
SignedInFrame {
    id: scene

    title: "Новое соединение"

    Component.onCompleted: {
        ApiClient.baseUrl = SceneSupport.replyingServer(200, "{}", -1) + "/api/v1";
        AuthStore.user = { "name": "Анна", "balance": 1234.5, "dayWriteOff": 11, "pricePerDayForFirstDevice": 5, "pricePerDayForNextDevices": 3, "isFirstDevice": false, "balanceExpiresAt": "22.02.2026" };
        page.active = true;
    }

    Loader {
        id: page

        anchors.fill: parent
        active: false
        sourceComponent: AddPeerPage {}
    }
}
