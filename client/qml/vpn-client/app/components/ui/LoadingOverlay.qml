import QtQuick
import "../../.."

// Blocks the whole window while something runs: while visible it holds the keyboard
// focus and takes every key, click and wheel event, so nothing underneath reacts.
FocusScope {
    id: root

    property string text: ""

    visible: false
    anchors.fill: parent

    onVisibleChanged: {
        if (visible)
            forceActiveFocus();
    }

    Keys.onPressed: event => event.accepted = true
    Keys.onReleased: event => event.accepted = true

    Rectangle {
        objectName: "dim"
        anchors.fill: parent
        color: "#9909090b"
    }

    MouseArea {
        objectName: "blocker"
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        preventStealing: true
        cursorShape: Qt.BusyCursor
        onWheel: wheel => wheel.accepted = true
    }

    Rectangle {
        id: card

        readonly property int padding: 20
        readonly property real maximumWidth: Math.max(72, Math.min(300, root.width - 48))

        objectName: "card"
        anchors.centerIn: parent
        width: root.text === "" ? 72
             : Math.max(72, Math.min(Math.ceil(textWidth.advanceWidth) + 2 * padding, maximumWidth))
        height: root.text === "" ? 72 : padding + spinner.height + 14 + message.height + padding
        radius: Themes.radiusLarge
        color: Themes.surface
        border.width: 1
        border.color: Themes.border

        // The text's width on one line, measured apart: the wrapped text's own
        // implicit width follows the width given to it, which follows the card's.
        TextMetrics {
            id: textWidth

            font: message.font
            text: root.text
        }

        Spinner {
            id: spinner

            objectName: "spinner"
            width: 30
            height: 30
            anchors.horizontalCenter: parent.horizontalCenter
            y: root.text === "" ? (card.height - height) / 2 : card.padding
            color: Themes.accent
            lineWidth: 3
        }

        Text {
            id: message

            objectName: "message"
            visible: root.text !== ""
            x: card.padding
            y: spinner.y + spinner.height + 14
            width: card.width - 2 * card.padding
            text: root.text
            color: Themes.textPrimary
            font.pixelSize: 14
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
    }
}
