import QtQuick
import QtQuick.Layouts
import "../../.."

// A labelled single-line input with its error line. Focusing the field focuses the
// input, so forms can move focus to a field as a whole.
FocusScope {
    id: root

    property alias text: input.text
    property alias placeholderText: placeholder.text
    property alias echoMode: input.echoMode
    property alias inputMethodHints: input.inputMethodHints
    property string label: ""
    property string errorText: ""

    signal accepted
    signal edited

    implicitWidth: 280
    implicitHeight: column.implicitHeight
    Layout.fillWidth: true

    Column {
        id: column

        width: parent.width
        spacing: 7

        Text {
            objectName: "label"
            width: parent.width
            visible: root.label !== ""
            text: root.label
            color: Themes.textSecondary
            font.pixelSize: 13
            font.weight: Font.Medium
            elide: Text.ElideRight
        }

        Rectangle {
            id: box

            objectName: "box"
            width: parent.width
            height: Themes.fieldHeight
            radius: Themes.radius
            color: root.enabled ? Themes.surfaceRaised : Themes.surfaceSoft
            opacity: root.enabled ? 1 : 0.62
            border.width: 1
            border.color: root.errorText !== "" ? Themes.danger
                        : input.activeFocus ? Themes.accent : Themes.border

            // Presses on the box's margins land here and move focus into the input.
            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.IBeamCursor
                onPressed: input.forceActiveFocus()
            }

            TextInput {
                id: input

                objectName: "input"
                anchors.fill: parent
                anchors.leftMargin: 14
                anchors.rightMargin: 14
                focus: true
                clip: true
                verticalAlignment: TextInput.AlignVCenter
                color: Themes.textPrimary
                selectionColor: Themes.accent
                selectedTextColor: Themes.accentText
                selectByMouse: true
                font.pixelSize: 15
                onAccepted: root.accepted()
                onTextEdited: root.edited()
            }

            Text {
                id: placeholder

                objectName: "placeholder"
                anchors.fill: input
                visible: input.text === "" && !input.activeFocus
                verticalAlignment: Text.AlignVCenter
                color: Themes.textMuted
                font.pixelSize: 15
                elide: Text.ElideRight
            }
        }

        Text {
            objectName: "error"
            width: parent.width
            visible: root.errorText !== ""
            text: root.errorText
            color: Themes.danger
            font.pixelSize: 12
            wrapMode: Text.Wrap
        }
    }
}
