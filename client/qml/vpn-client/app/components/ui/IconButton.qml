import QtQuick
import QtQuick.Controls.Basic
import "../../.."

// A square outlined button showing one line icon.
Button {
    id: root

    // "settings", "edit", or anything else for the waste bin ("delete")
    property string iconName: "delete"
    property color iconColor: iconName === "delete" ? Themes.danger : Themes.textSecondary

    implicitWidth: 40
    implicitHeight: 40
    padding: 0
    hoverEnabled: true
    Accessible.name: iconName

    background: Rectangle {
        objectName: "background"
        radius: Themes.radiusSmall
        color: root.down ? Themes.surfaceSoft : root.hovered ? Themes.surfaceRaised : "transparent"
        border.width: 1
        border.color: Themes.border
    }

    contentItem: Item {
        LineIcon {
            objectName: "icon"
            anchors.centerIn: parent
            width: 22
            height: 22
            name: root.iconName
            color: root.iconColor
            lineWidth: 2
        }
    }

    HoverHandler {
        cursorShape: Qt.PointingHandCursor
    }
}
