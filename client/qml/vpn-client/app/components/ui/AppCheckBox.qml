import QtQuick
import QtQuick.Layouts
import "../../.."

// A check box whose text may carry links: a click on a link opens it in the browser
// and leaves the box as it was, a click anywhere else flips the box.
Item {
    id: root

    property bool checked: false
    property string text: ""
    property int textFormat: Text.PlainText

    signal toggled(bool checked)

    implicitWidth: 24 + 12 + label.implicitWidth
    implicitHeight: Math.max(box.height, label.y + label.implicitHeight)
    Layout.fillWidth: true
    opacity: enabled ? 1 : 0.55

    Accessible.role: Accessible.CheckBox
    Accessible.name: label.text
    Accessible.checked: checked

    Rectangle {
        id: box

        objectName: "box"
        width: 24
        height: 24
        radius: 4
        color: root.checked ? Themes.accent : "transparent"
        border.width: root.checked ? 0 : 1
        border.color: Themes.textMuted

        Text {
            anchors.centerIn: parent
            visible: root.checked
            text: "✓"
            color: Themes.accentText
            font.pixelSize: 17
            font.weight: Font.Black
        }
    }

    Text {
        id: label

        objectName: "label"
        x: box.width + 12
        width: root.width - x
        // the first line sits level with the box
        y: Math.max(0, (box.height - fontMetrics.height * lineHeight) / 2)
        text: root.text
        textFormat: root.textFormat
        color: Themes.textSecondary
        linkColor: Themes.accent
        font.pixelSize: 13
        lineHeight: 1.28
        wrapMode: Text.Wrap

        FontMetrics {
            id: fontMetrics

            font: label.font
        }
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: mouse => {
            const point = mapToItem(label, mouse.x, mouse.y);
            const link = label.linkAt(point.x, point.y);
            if (link !== "") {
                Qt.openUrlExternally(link);
                return;
            }
            root.checked = !root.checked;
            root.toggled(root.checked);
        }
    }
}
