import QtQuick
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "frame"

// AddPeerPage of a new account when the API has no country to offer.
SignedInFrame {
    id: scene

    title: "Новое соединение"

    Component.onCompleted: {
        const countries = [];
        ApiClient.baseUrl = SceneSupport.replyingServer(200, JSON.stringify({ "success": true, "data": countries })) + "/api/v1";
        AuthStore.user = { "name": "Анна", "balance": 0, "dayWriteOff": 0, "pricePerDayForFirstDevice": 5, "pricePerDayForNextDevices": 3, "isFirstDevice": true, "balanceExpiresAt": "-" };
        page.active = true;
    }

    Loader {
        id: page

        anchors.fill: parent
        active: false
        sourceComponent: AddPeerPage {}
    }
}
