import QtQuick
import QtQuick.Layouts
import App.Stores
import "../../.."

// What the account costs and how long its balance lasts, from the user record: the daily
// write-off, the tariff, the number of connections it pays for, the expiry date and the
// price of the next connection. The record is reloaded whenever the card is created.
Rectangle {
    id: root

    readonly property var user: AuthStore.hasUser ? AuthStore.user : ({})

    readonly property real balance: readNumber(user.balance)
    readonly property real dayWriteOff: readNumber(user.dayWriteOff)
    readonly property real firstPrice: readNumber(user.pricePerDayForFirstDevice)
    readonly property real nextPrice: readNumber(user.pricePerDayForNextDevices)
    readonly property bool isFirstDevice: user.isFirstDevice === true
    readonly property real monthlyWriteOff: dayWriteOff * 30
    readonly property int connectionCount: countConnections(dayWriteOff, firstPrice, nextPrice, isFirstDevice)
    readonly property real nextConnectionPrice: isFirstDevice ? firstPrice : nextPrice

    implicitWidth: 320
    implicitHeight: column.implicitHeight + 32
    Layout.fillWidth: true
    radius: Themes.radiusLarge
    color: Themes.surfaceRaised
    border.width: 1
    border.color: Themes.border

    Component.onCompleted: AuthStore.fetchProfile()

    // Money comes as a number or as text typed the Russian way ("1 234,5"); anything that
    // is not a finite number counts as nothing.
    function readNumber(value) {
        if (value === undefined || value === null || value === "")
            return 0;
        const number = Number(String(value).replace(/\s/g, "").replace(",", "."));
        return isFinite(number) ? number : 0;
    }

    // Joined to the sign by a no-break space, as the digits are grouped by one: a
    // wrapped line never leaves "₽" or a group of digits on its own.
    function money(value, decimals) {
        return value.toLocaleString(Qt.locale("ru_RU"), "f", decimals) + "\u00a0₽";
    }

    // Whole rubles without kopecks. Judged on the value rounded to kopecks, so that a
    // price times 30 that floating point leaves at 3.0000000000000004 still reads "3 ₽".
    function autoMoney(value) {
        const kopecks = Math.round(value * 100);
        return money(value, kopecks % 100 === 0 ? 0 : 2);
    }

    // How many connections the daily write-off pays for: the first at its price, every
    // further one at the next price.
    function countConnections(writeOff, first, next, firstDevice) {
        if (firstDevice || writeOff <= 0)
            return 0;
        if (next <= 0 || writeOff <= first)
            return 1;
        return Math.max(1, Math.round(1 + (writeOff - first) / next));
    }

    function countText(count) {
        const lastTwo = count % 100;
        const last = count % 10;
        if (lastTwo >= 11 && lastTwo <= 14)
            return qsTr("%1 соединений").arg(count);
        if (last === 1)
            return qsTr("%1 соединение").arg(count);
        if (last >= 2 && last <= 4)
            return qsTr("%1 соединения").arg(count);
        return qsTr("%1 соединений").arg(count);
    }

    function expiryText(value) {
        const text = value === undefined || value === null ? "" : String(value);
        return text === "" || text === "-" ? qsTr("Списание начнется после первого соединения") : text;
    }

    ColumnLayout {
        id: column

        anchors.fill: parent
        anchors.margins: 16
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Text {
                Layout.fillWidth: true
                text: qsTr("Расходы и тариф")
                color: Themes.textMuted
                font.pixelSize: 12
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }

            Text {
                objectName: "connectionCount"
                text: root.countText(root.connectionCount)
                color: Themes.textMuted
                font.pixelSize: 13
            }
        }

        // The daily amount with the monthly one beside it on its baseline, or under it
        // when the card is too narrow for both.
        Item {
            id: writeOffRow

            readonly property bool sideBySide: dayAmount.implicitWidth + 8 + monthAmount.implicitWidth <= width

            Layout.fillWidth: true
            implicitHeight: sideBySide ? dayAmount.height : dayAmount.height + monthAmount.height

            Text {
                id: dayAmount

                objectName: "dayWriteOff"
                width: Math.min(implicitWidth, writeOffRow.width)
                text: root.autoMoney(root.dayWriteOff)
                color: Themes.accent
                font.pixelSize: 34
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }

            Text {
                id: monthAmount

                objectName: "monthlyWriteOff"
                x: writeOffRow.sideBySide ? dayAmount.width + 8 : 0
                y: writeOffRow.sideBySide ? dayAmount.baselineOffset - baselineOffset : dayAmount.height
                width: writeOffRow.sideBySide ? implicitWidth : writeOffRow.width
                text: qsTr("/ день · ~%1 / мес").arg(root.autoMoney(root.monthlyWriteOff))
                color: Themes.textSecondary
                font.pixelSize: 15
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }
        }

        Text {
            objectName: "tariff"
            Layout.fillWidth: true
            text: qsTr("%1 за первое + %2 за остальные").arg(root.autoMoney(root.firstPrice)).arg(root.autoMoney(root.nextPrice))
            color: Themes.textSecondary
            font.pixelSize: 14
            wrapMode: Text.Wrap
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Themes.divider
        }

        Text {
            objectName: "expiry"
            Layout.fillWidth: true
            text: root.expiryText(root.user.balanceExpiresAt)
            color: Themes.textSecondary
            font.pixelSize: 14
            wrapMode: Text.Wrap
        }

        Text {
            objectName: "balance"
            Layout.fillWidth: true
            text: qsTr("Всего на балансе: %1").arg(root.money(root.balance, 2))
            color: Themes.textPrimary
            font.pixelSize: 15
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: Math.max(44, nextConnection.implicitHeight + 24)
            radius: Themes.radius
            color: Themes.accentMuted
            border.width: 1
            border.color: "#164e47"

            Text {
                id: nextConnection

                objectName: "nextConnection"
                anchors.fill: parent
                anchors.margins: 12
                text: qsTr("%1: +%2/день (~%3/мес)")
                    .arg(root.isFirstDevice ? qsTr("Первое соединение") : qsTr("Следующее соединение"))
                    .arg(root.autoMoney(root.nextConnectionPrice))
                    .arg(root.autoMoney(root.nextConnectionPrice * 30))
                color: Themes.textPrimary
                font.pixelSize: 13
                verticalAlignment: Text.AlignVCenter
                wrapMode: Text.Wrap
            }
        }
    }
}
