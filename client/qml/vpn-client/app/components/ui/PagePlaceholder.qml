import QtQuick
import QtQuick.Layouts
import "../../.."

// Stands in for a page whose content is not there yet: a centred card with a heading,
// an optional subtitle underlined by an accent bar, and a body text.
Item {
    id: root

    property string heading: ""
    property string subtitle: ""
    property string body: ""

    implicitWidth: 460
    implicitHeight: card.implicitHeight
    Layout.fillWidth: true
    Layout.fillHeight: true

    Rectangle {
        id: card

        objectName: "card"
        anchors.centerIn: parent
        width: Math.min(460, root.width)
        implicitHeight: column.implicitHeight + 2 * 24
        height: implicitHeight
        radius: Themes.radiusLarge
        color: Themes.surface
        border.width: 1
        border.color: Themes.border

        ColumnLayout {
            id: column

            anchors.fill: parent
            anchors.margins: 24
            spacing: 12

            Text {
                objectName: "heading"
                Layout.fillWidth: true
                text: root.heading
                color: Themes.textPrimary
                font.pixelSize: 24
                font.weight: Font.DemiBold
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Text {
                objectName: "subtitle"
                Layout.fillWidth: true
                visible: root.subtitle !== ""
                text: root.subtitle
                color: Themes.textSecondary
                font.pixelSize: 14
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }

            Rectangle {
                objectName: "bar"
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: 72
                implicitHeight: 3
                radius: 1.5
                color: Themes.accent
            }

            Text {
                objectName: "body"
                Layout.fillWidth: true
                visible: root.body !== ""
                text: root.body
                color: Themes.textMuted
                font.pixelSize: 14
                lineHeight: 1.35
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
            }
        }
    }
}
