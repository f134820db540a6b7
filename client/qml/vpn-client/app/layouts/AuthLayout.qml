import QtQuick
import QtQuick.Layouts
import App.Stores
import "../.."

// The frame of the signed-in pages: a header with the page's title, the account and its
// balance and the sign-out button; the page; the navigation bar.
FocusScope {
    id: root

    // "peers", "addPeer", "balance", "profile" or "splitTunnel"
    property string currentPage: "peers"
    // the page, filling the space between header and navigation
    default property alias content: contentSlot.data

    readonly property string title: {
        switch (currentPage) {
        case "addPeer":
            return qsTr("Новое соединение");
        case "balance":
            return qsTr("Баланс");
        case "profile":
            return qsTr("Профиль");
        case "splitTunnel":
            return qsTr("Раздельное туннелирование");
        default:
            return qsTr("Соединения");
        }
    }
    readonly property string accountText: qsTr("%1 · %2").arg(userName(AuthStore.user)).arg(balanceText(AuthStore.user))

    signal navigateRequested(string page)

    function userName(user) {
        if (user && user.name)
            return String(user.name);
        if (user && user.email)
            return String(user.email);
        return qsTr("Аккаунт");
    }

    // Russian digit grouping and decimal comma; a balance that is missing, or is no
    // number at all, shows as nothing to spend.
    function balanceText(user) {
        const balance = user && user.balance !== undefined && user.balance !== null ? Number(user.balance) : NaN;
        if (!isFinite(balance))
            return qsTr("0 ₽");
        return balance.toLocaleString(Qt.locale("ru_RU"), "f", 2) + " ₽";
    }

    Rectangle {
        anchors.fill: parent
        color: Themes.canvas
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            objectName: "header"
            Layout.fillWidth: true
            Layout.preferredHeight: 82
            color: Themes.canvas

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 20
                anchors.rightMargin: 20
                spacing: 12

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 4

                    Text {
                        objectName: "title"
                        Layout.fillWidth: true
                        text: root.title
                        color: Themes.textPrimary
                        font.pixelSize: 21
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }

                    // Cut in the middle, so that a long address leaves the balance in view.
                    Text {
                        objectName: "account"
                        Layout.fillWidth: true
                        text: root.accountText
                        color: Themes.textSecondary
                        font.pixelSize: 13
                        elide: Text.ElideMiddle
                    }
                }

                AppButton {
                    objectName: "logoutButton"
                    Layout.fillWidth: false
                    Layout.preferredWidth: 92
                    text: qsTr("Выйти")
                    variant: "secondary"
                    loading: AuthStore.loading
                    onClicked: AuthStore.logout()
                }
            }

            Rectangle {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                height: 1
                color: Themes.divider
            }
        }

        FocusScope {
            id: contentSlot

            objectName: "contentSlot"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 20
            focus: true
        }

        // Windows has no split tunnelling, so no button for it.
        Rectangle {
            objectName: "navigation"
            Layout.fillWidth: true
            Layout.preferredHeight: 74
            color: Themes.canvas

            Rectangle {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                height: 1
                color: Themes.divider
            }

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 10
                anchors.rightMargin: 10
                anchors.topMargin: 8
                anchors.bottomMargin: 8
                spacing: 6

                NavButton {
                    objectName: "nav_peers"
                    key: "peers"
                    title: qsTr("Соединения")
                    active: root.currentPage === key
                    onClicked: root.navigateRequested(key)
                }
                NavButton {
                    objectName: "nav_addPeer"
                    key: "addPeer"
                    title: qsTr("Добавить")
                    active: root.currentPage === key
                    onClicked: root.navigateRequested(key)
                }
                NavButton {
                    objectName: "nav_splitTunnel"
                    key: "splitTunnel"
                    title: qsTr("Туннель")
                    visible: Platform.splitTunnelAvailable
                    active: root.currentPage === key
                    onClicked: root.navigateRequested(key)
                }
                NavButton {
                    objectName: "nav_balance"
                    key: "balance"
                    title: qsTr("Баланс")
                    active: root.currentPage === key
                    onClicked: root.navigateRequested(key)
                }
                NavButton {
                    objectName: "nav_profile"
                    key: "profile"
                    title: qsTr("Профиль")
                    active: root.currentPage === key
                    onClicked: root.navigateRequested(key)
                }
            }
        }
    }
}
