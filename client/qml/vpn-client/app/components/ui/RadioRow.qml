import QtQuick
import QtQuick.Layouts
import "../../.."

// One choice of a set: a 48-high row with a round mark and a title; the chosen one
// has an accent border and a filled mark. Choosing is the owner's business.
Rectangle {
    id: root

    property string text: ""
    property bool chosen: false

    signal clicked

    implicitWidth: 280
    implicitHeight: 48
    Layout.fillWidth: true
    radius: Themes.radiusSmall
    color: mouseArea.containsMouse && enabled ? Themes.surfaceSoft : Themes.surfaceRaised
    border.width: 1
    border.color: chosen ? Themes.accent : Themes.border

    Accessible.role: Accessible.RadioButton
    Accessible.name: text
    Accessible.checked: chosen

    Rectangle {
        id: mark

        objectName: "mark"
        anchors.left: parent.left
        anchors.leftMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        width: 20
        height: 20
        radius: 10
        color: "transparent"
        border.width: 2
        border.color: root.chosen ? Themes.accent : Themes.textMuted

        Rectangle {
            objectName: "dot"
            anchors.centerIn: parent
            width: 10
            height: 10
            radius: 5
            visible: root.chosen
            color: Themes.accent
        }
    }

    Text {
        objectName: "label"
        anchors.left: mark.right
        anchors.leftMargin: 12
        anchors.right: parent.right
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        text: root.text
        color: Themes.textPrimary
        font.pixelSize: 14
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
    }

    MouseArea {
        id: mouseArea

        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
