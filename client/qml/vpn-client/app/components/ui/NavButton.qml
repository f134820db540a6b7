import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// One destination of the signed-in pages' navigation bar: its drawn icon, highlighted
// while its page is open, and its title as a tooltip when the pointer rests on it.
Button {
    id: root

    // the page, and the icon's name
    property string key: ""
    property string title: ""
    property bool active: false

    // equal shares of the bar, whatever the style's own implicit width
    Layout.fillWidth: true
    Layout.fillHeight: true
    Layout.preferredWidth: 1
    hoverEnabled: true
    padding: 0
    Accessible.name: title

    background: Rectangle {
        objectName: "background"
        radius: Themes.radius
        color: root.active ? Themes.accentMuted : root.hovered ? Themes.surfaceRaised : "transparent"
        border.width: root.active ? 1 : 0
        border.color: Themes.border
    }

    contentItem: Item {
        LineIcon {
            objectName: "icon"
            anchors.centerIn: parent
            width: 28
            height: 28
            name: root.key
            color: root.active ? Themes.accent : root.hovered ? Themes.textSecondary : Themes.textMuted
            lineWidth: root.active ? 2.3 : 2
        }
    }

    HoverHandler {
        cursorShape: Qt.PointingHandCursor
    }

    ToolTip {
        objectName: "toolTip"
        visible: root.hovered
        delay: 450
        text: root.title

        contentItem: Text {
            text: root.title
            color: Themes.textPrimary
            font.pixelSize: 12
        }

        background: Rectangle {
            radius: Themes.radiusSmall
            color: Themes.surfaceRaised
            border.width: 1
            border.color: Themes.border
        }
    }
}
