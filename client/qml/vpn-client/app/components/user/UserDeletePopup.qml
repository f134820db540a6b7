import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import App.Stores
import "../../.."

// Asks for the current password before the account is deleted. While the deletion
// runs the popup cannot be dismissed, so its outcome is always seen. Closing forgets
// the password and the error.
AppPopup {
    id: popup

    property string errorText: ""
    property alias password: passwordField.text

    function openForDeletion() {
        passwordField.text = "";
        errorText = "";
        open();
    }

    function submit() {
        AuthStore.deleteProfile(passwordField.text, ok => {
            if (ok)
                close();
            else
                errorText = AuthStore.error;
        });
    }

    parent: T.Overlay.overlay
    hostWidth: parent ? parent.width : 400
    hostHeight: parent ? parent.height : 400
    maximumWidth: 440
    closePolicy: AuthStore.loading ? Popup.NoAutoClose : Popup.CloseOnEscape | Popup.CloseOnPressOutside

    onOpened: passwordField.forceActiveFocus()
    onClosed: {
        passwordField.text = "";
        errorText = "";
    }

    // A child rather than the content item: the password field inside has an id.
    ColumnLayout {
        width: parent.width
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: qsTr("Удалить профиль?")
            color: Themes.textPrimary
            font.pixelSize: 18
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }

        Text {
            Layout.fillWidth: true
            text: qsTr("Для подтверждения удаления введите текущий пароль.")
            color: Themes.textSecondary
            font.pixelSize: 14
            lineHeight: 1.35
            wrapMode: Text.Wrap
        }

        FormMessage {
            objectName: "error"
            type: "error"
            text: popup.errorText
        }

        AppTextField {
            id: passwordField

            objectName: "passwordField"
            placeholderText: qsTr("Текущий пароль")
            echoMode: TextInput.Password
            enabled: !AuthStore.loading
            onAccepted: popup.submit()
            onEdited: {
                AuthStore.clearStatus();
                popup.errorText = "";
            }
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
                enabled: !AuthStore.loading
                onClicked: popup.close()
            }

            AppButton {
                objectName: "deleteButton"
                Layout.preferredWidth: 1
                text: qsTr("Удалить")
                variant: "danger"
                loading: AuthStore.loading
                onClicked: popup.submit()
            }
        }
    }
}
