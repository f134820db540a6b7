import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// Renames one peer. The owner saves on `saveRequested`, drives `loading` while that
// runs, and closes the popup or puts the failure in `errorText`.
AppPopup {
    id: root

    property var peer: null
    property string errorText: ""
    property bool loading: false

    signal saveRequested(var peer, string name)

    function openForPeer(value) {
        peer = value;
        errorText = "";
        const name = value && value.name !== undefined && value.name !== null ? String(value.name) : "";
        nameField.text = name;
        open();
    }

    function submit() {
        if (loading)
            return;
        const name = nameField.text.trim();
        if (name === "") {
            errorText = qsTr("Введите название соединения");
            return;
        }
        saveRequested(peer, name);
    }

    // A running save keeps the popup open, so that its failure has somewhere to show.
    closePolicy: loading ? Popup.NoAutoClose : Popup.CloseOnEscape | Popup.CloseOnPressOutside
    onOpened: nameField.forceActiveFocus()
    onClosed: {
        peer = null;
        errorText = "";
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: qsTr("Редактировать соединение")
            color: Themes.textPrimary
            font.pixelSize: 18
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }

        FormMessage {
            objectName: "error"
            type: "error"
            text: root.errorText
        }

        AppTextField {
            id: nameField

            objectName: "nameField"
            label: qsTr("Название")
            placeholderText: qsTr("Название соединения")
            enabled: !root.loading
            onAccepted: root.submit()
            onEdited: root.errorText = ""
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 10

            AppButton {
                objectName: "cancelButton"
                Layout.preferredWidth: 1
                text: qsTr("Отмена")
                variant: "secondary"
                enabled: !root.loading
                onClicked: root.close()
            }

            AppButton {
                objectName: "saveButton"
                Layout.preferredWidth: 1
                text: qsTr("Сохранить")
                loading: root.loading
                onClicked: root.submit()
            }
        }
    }
}
