import QtQuick
import App.Stores
import "../../.."

// A new password, given with the e-mail and the token from the reset letter.
AuthForm {
    id: page

    signal loginRequested

    function submit() {
        AuthStore.resetPassword(emailField.text, tokenField.text, passwordField.text, confirmationField.text);
    }

    heading: qsTr("Новый пароль")
    subtitle: qsTr("Введите email, токен из письма и новый пароль")

    AuthTextField {
        id: emailField

        objectName: "emailField"
        label: qsTr("Email")
        placeholderText: "name@example.com"
        inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
        onAccepted: page.submit()
    }

    AuthTextField {
        id: tokenField

        objectName: "tokenField"
        label: qsTr("Токен")
        placeholderText: qsTr("Токен из письма")
        onAccepted: page.submit()
    }

    AuthTextField {
        id: passwordField

        objectName: "passwordField"
        label: qsTr("Новый пароль")
        placeholderText: qsTr("Введите пароль")
        echoMode: TextInput.Password
        onAccepted: page.submit()
    }

    AuthTextField {
        id: confirmationField

        objectName: "confirmationField"
        label: qsTr("Пароль еще раз")
        placeholderText: qsTr("Повторите пароль")
        echoMode: TextInput.Password
        onAccepted: page.submit()
    }

    AppButton {
        objectName: "submitButton"
        text: qsTr("Сохранить пароль")
        loading: AuthStore.loading
        onClicked: page.submit()
    }

    AppButton {
        objectName: "loginButton"
        implicitHeight: 34
        text: qsTr("Назад ко входу")
        variant: "text"
        onClicked: page.loginRequested()
    }
}
