import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../.."

// The frame of the signed-out forms: a card centred in the window, with the product's
// name, a heading and a subtitle over the form. A card taller than the window scrolls.
FocusScope {
    id: root

    property string heading: ""
    property string subtitle: ""
    // the page's controls, laid out in one column
    default property alias content: form.data

    Rectangle {
        anchors.fill: parent
        color: Themes.canvas
    }

    Flickable {
        id: flickable

        objectName: "scroller"
        anchors.fill: parent
        contentWidth: width
        contentHeight: column.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        ScrollIndicator.vertical: ScrollIndicator {}

        ColumnLayout {
            id: column

            width: flickable.width
            height: Math.max(implicitHeight, flickable.height)
            spacing: 0

            Item {
                Layout.fillHeight: true
                Layout.minimumHeight: 24
            }

            Rectangle {
                id: card

                objectName: "card"
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: Math.max(320, Math.min(root.width - 40, 520))
                Layout.minimumWidth: Math.min(root.width - 40, 320)
                Layout.maximumWidth: 520
                implicitHeight: cardColumn.implicitHeight + 2 * 28
                radius: Themes.radiusLarge
                color: Themes.surface
                border.width: 1
                border.color: Themes.border

                ColumnLayout {
                    id: cardColumn

                    anchors.fill: parent
                    anchors.margins: 28
                    spacing: 24

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 8

                        Text {
                            Layout.fillWidth: true
                            text: Themes.appName
                            color: Themes.textMuted
                            font.pixelSize: 11
                            font.weight: Font.Medium
                            font.capitalization: Font.AllUppercase
                            font.letterSpacing: 1.3
                        }

                        Text {
                            objectName: "heading"
                            Layout.fillWidth: true
                            text: root.heading
                            color: Themes.textPrimary
                            font.pixelSize: 22
                            font.weight: Font.DemiBold
                            wrapMode: Text.Wrap
                        }

                        Text {
                            objectName: "subtitle"
                            Layout.fillWidth: true
                            visible: root.subtitle !== ""
                            text: root.subtitle
                            color: Themes.textSecondary
                            font.pixelSize: 14
                            lineHeight: 1.35
                            wrapMode: Text.Wrap
                        }
                    }

                    ColumnLayout {
                        id: form

                        Layout.fillWidth: true
                        spacing: 14
                    }
                }
            }

            Item {
                Layout.fillHeight: true
                Layout.minimumHeight: 24
            }
        }
    }
}
