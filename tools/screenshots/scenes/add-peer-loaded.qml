import QtQuick
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "frame"

// AddPeerPage with the API's countries, for an account with three connections.
SignedInFrame {
    id: scene

    title: "Новое соединение"

    Component.onCompleted: {
        const countries = [{ "id": 1, "name": "Нидерланды" }, { "id": 2, "name": "Германия" }, { "id": 3, "name": "Финляндия" }, { "id": 4, "name": "США" }];
        ApiClient.baseUrl = SceneSupport.replyingServer(200, JSON.stringify({ "success": true, "data": countries })) + "/api/v1";
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
