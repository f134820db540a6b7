import QtQuick
import QtQuick.Layouts
import "../../.."

// A centred, underlined accent link to a page of the vendor's website, opened in the
// system browser.
Text {
    id: root

    property string url: ""

    Layout.fillWidth: true
    horizontalAlignment: Text.AlignHCenter
    wrapMode: Text.Wrap
    color: Themes.accent
    font.pixelSize: 13
    font.underline: true
    Accessible.role: Accessible.Link
    Accessible.name: text

    MouseArea {
        // only the words are the link, not the empty width beside them
        x: (root.width - width) / 2
        width: Math.min(root.width, root.implicitWidth)
        height: root.height
        cursorShape: Qt.PointingHandCursor
        onClicked: Qt.openUrlExternally(root.url)
    }
}
