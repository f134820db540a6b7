import QtQuick
import App.Stores
import "qrc:/vpn-client"

// UserBalanceInfo of an account with three connections and a balance in the thousands.
Rectangle {
    color: Themes.canvas

    Component.onCompleted: AuthStore.user = {
        "name": "Анна",
        "balance": 12345.5,
        "dayWriteOff": 11,
        "pricePerDayForFirstDevice": 5,
        "pricePerDayForNextDevices": 3,
        "isFirstDevice": false,
        "balanceExpiresAt": "12.11.2028"
    }

    UserBalanceInfo {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: Themes.pagePadding
    }
}
