import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The balance page of an account with three connections, after the server sent no payment link.
Rectangle {
    color: Themes.canvas

    Component.onCompleted: {
        AuthStore.user = {
            "name": "Анна",
            "balance": 1234.5,
            "dayWriteOff": 11,
            "pricePerDayForFirstDevice": 5,
            "pricePerDayForNextDevices": 3,
            "isFirstDevice": false,
            "balanceExpiresAt": "12.11.2026"
        };
        loader.active = true;
        loader.item.paymentError = "Сервер не вернул ссылку на оплату";
    }

    Loader {
        id: loader

        anchors.fill: parent
        // where the signed-in frame puts its page: under the header, above the navigation
        anchors.margins: Themes.pagePadding
        anchors.topMargin: 102
        anchors.bottomMargin: 94
        active: false
        sourceComponent: BalancePage {}
    }
}
