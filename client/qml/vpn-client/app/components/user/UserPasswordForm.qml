import QtQuick
import QtQuick.Layouts
import App.Stores
import "../../.."

// A new password for the account. The fields are emptied only once the server has
// taken it; a refused change leaves them for the user to correct.
SectionCard {
    id: form

    function submit() {
        AuthStore.updatePassword(currentField.text, passwordField.text, confirmationField.text, ok => {
            if (!ok)
                return;
            currentField.text = "";
            passwordField.text = "";
            confirmationField.text = "";
        });
    }

    heading: qsTr("Пароль")
    subtitle: qsTr("Для смены пароля нужен текущий пароль")

    AppTextField {
        id: currentField

        objectName: "currentField"
        label: qsTr("Текущий пароль")
        placeholderText: qsTr("Введите текущий пароль")
        echoMode: TextInput.Password
        enabled: !AuthStore.loading
        onAccepted: form.submit()
        onEdited: AuthStore.clearStatus()
    }

    AppTextField {
        id: passwordField

        objectName: "passwordField"
        label: qsTr("Новый пароль")
        placeholderText: qsTr("Минимум 12 символов")
        echoMode: TextInput.Password
        enabled: !AuthStore.loading
        onAccepted: form.submit()
        onEdited: AuthStore.clearStatus()
    }

    AppTextField {
        id: confirmationField

        objectName: "confirmationField"
        label: qsTr("Новый пароль еще раз")
        placeholderText: qsTr("Повторите новый пароль")
        echoMode: TextInput.Password
        enabled: !AuthStore.loading
        onAccepted: form.submit()
        onEdited: AuthStore.clearStatus()
    }

    AppButton {
        objectName: "saveButton"
        text: qsTr("Сохранить пароль")
        onClicked: form.submit()
    }
}
