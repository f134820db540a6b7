import QtQuick
import QtQuick.Layouts
import "../../.."

// A card of a settings or account page: an optional heading with a line under it,
// then the card's own controls in a column.
Rectangle {
    id: root

    property string heading: ""
    property string subtitle: ""
    property color subtitleColor: Themes.textSecondary
    default property alias content: column.data

    implicitWidth: 320
    implicitHeight: column.implicitHeight + 32
    Layout.fillWidth: true
    radius: Themes.radiusLarge
    color: Themes.surface
    border.width: 1
    border.color: Themes.border

    ColumnLayout {
        id: column

        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        ColumnLayout {
            Layout.fillWidth: true
            visible: root.heading !== ""
            spacing: 4

            Text {
                objectName: "heading"
                Layout.fillWidth: true
                text: root.heading
                color: Themes.textPrimary
                font.pixelSize: 16
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }

            Text {
                objectName: "subtitle"
                Layout.fillWidth: true
                visible: root.subtitle !== ""
                text: root.subtitle
                color: root.subtitleColor
                font.pixelSize: 13
                lineHeight: 1.3
                wrapMode: Text.Wrap
            }
        }
    }
}
