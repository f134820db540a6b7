import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// One peer of the list: its globe and name, the button that connects or disconnects it,
// and the settings menu, which neither the connected peer nor a tunnel whose peer has
// left the account offers.
Rectangle {
    id: root

    property var peer: ({})
    property bool connected: false

    readonly property bool orphaned: peer !== null && peer !== undefined && peer.orphaned === true
    readonly property bool hasMenu: !orphaned && !connected

    signal connectRequested
    signal disconnectRequested
    signal editRequested
    signal viewRequested
    signal deleteRequested

    implicitWidth: 320
    implicitHeight: 64
    radius: Themes.radius
    color: connected ? Themes.accentMuted : Themes.surface
    border.width: 1
    border.color: connected ? Themes.accent : Themes.border

    // An entry of the settings menu: 38 high, text coloured by `danger`.
    component MenuEntry: MenuItem {
        id: entry

        property bool danger: false

        implicitHeight: 38
        leftPadding: 12
        rightPadding: 12

        contentItem: Text {
            text: entry.text
            color: entry.danger ? Themes.danger : Themes.textPrimary
            font.pixelSize: 14
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }

        background: Rectangle {
            radius: Themes.radiusSmall
            color: entry.down ? (entry.danger ? "#3a1d21" : Themes.surfaceSoft)
                 : entry.hovered || entry.highlighted ? (entry.danger ? "#2d1719" : Themes.surfaceRaised)
                 : "transparent"
        }
    }

    RowLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        spacing: 10

        PeerGlobeIcon {
            objectName: "globe"
            Layout.preferredWidth: 24
            Layout.preferredHeight: 24
            color: root.connected ? Themes.accent : Themes.textMuted
            crossed: !root.connected
        }

        Text {
            objectName: "name"
            Layout.fillWidth: true
            text: root.peer && root.peer.name !== undefined && root.peer.name !== null ? String(root.peer.name) : ""
            color: root.connected ? Themes.accent : Themes.textPrimary
            font.pixelSize: 15
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }

        AppButton {
            objectName: "connectButton"
            Layout.fillWidth: false
            Layout.preferredWidth: implicitWidth
            text: root.connected ? qsTr("Отключиться") : qsTr("Подключиться")
            variant: root.connected ? "secondary" : "primary"
            onClicked: root.connected ? root.disconnectRequested() : root.connectRequested()
        }

        IconButton {
            id: gear

            objectName: "menuButton"
            visible: root.hasMenu
            iconName: "settings"
            onClicked: menu.open()

            Menu {
                id: menu

                objectName: "menu"
                x: gear.width - width
                y: gear.height + 4
                width: 172
                padding: 6

                background: Rectangle {
                    radius: Themes.radius
                    color: Themes.surface
                    border.width: 1
                    border.color: Themes.border
                }

                MenuEntry {
                    objectName: "editEntry"
                    text: qsTr("Редактировать")
                    onTriggered: root.editRequested()
                }
                MenuEntry {
                    objectName: "viewEntry"
                    text: qsTr("Информация")
                    onTriggered: root.viewRequested()
                }
                MenuEntry {
                    objectName: "deleteEntry"
                    text: qsTr("Удалить")
                    danger: true
                    onTriggered: root.deleteRequested()
                }
            }
        }
    }
}
