import QtQuick
import QtQuick.Layouts
import "../../.."

// An info, error or success note inside a form; takes no room while empty.
Rectangle {
    id: root

    property string text: ""
    // "info", "error" or "success"
    property string type: "info"

    visible: text !== ""
    implicitWidth: 280
    implicitHeight: label.implicitHeight + 24
    Layout.fillWidth: true
    radius: Themes.radius
    color: type === "error" ? "#2d1719" : type === "success" ? "#10261e" : Themes.surfaceRaised
    border.width: 1
    border.color: type === "error" ? "#5d262a" : type === "success" ? "#1d5b45" : Themes.border

    // A note at the top of a page that is scrolled down to the form that caused it would
    // go unseen: it is scrolled into view as it appears.
    onTextChanged: {
        if (text !== "")
            revealSoon.restart();
    }

    function reveal() {
        for (let item = parent; item; item = item.parent) {
            if (item instanceof Flickable) {
                const top = mapToItem(item.contentItem, 0, 0).y;
                if (top < item.contentY)
                    item.contentY = top;
                else if (top + height > item.contentY + item.height)
                    item.contentY = Math.min(top, top + height - item.height);
                return;
            }
        }
    }

    // once the page has made room for it
    Timer {
        id: revealSoon

        interval: 0
        onTriggered: root.reveal()
    }

    Text {
        id: label

        objectName: "label"
        anchors.fill: parent
        anchors.margins: 12
        text: root.text
        color: root.type === "error" ? Themes.danger
             : root.type === "success" ? Themes.success : Themes.textSecondary
        font.pixelSize: 13
        wrapMode: Text.Wrap
        verticalAlignment: Text.AlignVCenter
    }
}
