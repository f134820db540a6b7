import QtQuick
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "frame"

// AddPeerPage when the countries could not be loaded.
SignedInFrame {
    id: scene

    // ApiClient reports every failed request.
    readonly property var expectedWarnings: ["[ApiClient] request failed"]

    title: "Новое соединение"

    Component.onCompleted: {
        ApiClient.baseUrl = SceneSupport.replyingServer(503, JSON.stringify({ "success": false, "message": "Сервис временно недоступен, попробуйте позже" })) + "/api/v1";
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
