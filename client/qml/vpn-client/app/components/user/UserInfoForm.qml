import QtQuick
import QtQuick.Layouts
import App.Stores
import "../../.."

// Name and e-mail of the account, and the code that confirms the e-mail while it is
// not confirmed yet. The fields follow the account's record whenever the store gets a
// new one (a refresh, a save), so they show what the server holds.
SectionCard {
    id: form

    function fill() {
        const user = AuthStore.user || {};
        nameField.text = user.name !== undefined && user.name !== null ? String(user.name) : "";
        emailField.text = user.email !== undefined && user.email !== null ? String(user.email) : "";
    }

    function submit() {
        AuthStore.updateProfile(nameField.text, emailField.text);
    }

    function submitCode() {
        AuthStore.verifyEmailCode(codeField.text);
    }

    heading: qsTr("Данные профиля")
    subtitle: AuthStore.isEmailVerified ? qsTr("Email подтвержден") : qsTr("Email ожидает подтверждения")
    subtitleColor: AuthStore.isEmailVerified ? Themes.success : Themes.warning

    Component.onCompleted: fill()

    Connections {
        target: AuthStore

        function onUserChanged() {
            form.fill();
        }
    }

    AppTextField {
        id: nameField

        objectName: "nameField"
        label: qsTr("Имя")
        placeholderText: qsTr("Ваше имя")
        enabled: !AuthStore.loading
        onAccepted: form.submit()
        onEdited: AuthStore.clearStatus()
    }

    AppTextField {
        id: emailField

        objectName: "emailField"
        label: qsTr("Email")
        placeholderText: "you@example.com"
        inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
        enabled: !AuthStore.loading
        onAccepted: form.submit()
        onEdited: AuthStore.clearStatus()
    }

    AppButton {
        objectName: "saveButton"
        text: qsTr("Сохранить профиль")
        onClicked: form.submit()
    }

    ColumnLayout {
        objectName: "verification"
        Layout.fillWidth: true
        visible: !AuthStore.isEmailVerified
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: qsTr("Введите код из письма, чтобы подтвердить email")
            color: Themes.textSecondary
            font.pixelSize: 13
            wrapMode: Text.Wrap
        }

        AppTextField {
            id: codeField

            objectName: "codeField"
            label: qsTr("Код подтверждения")
            placeholderText: "000000"
            inputMethodHints: Qt.ImhDigitsOnly
            enabled: !AuthStore.loading
            onAccepted: form.submitCode()
            onEdited: AuthStore.clearStatus()
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            AppButton {
                objectName: "verifyButton"
                Layout.preferredWidth: 1
                text: qsTr("Подтвердить")
                onClicked: form.submitCode()
            }

            AppButton {
                objectName: "resendButton"
                Layout.preferredWidth: 1
                text: qsTr("Отправить код")
                variant: "secondary"
                onClicked: AuthStore.resendVerificationCode()
            }
        }
    }
}
