import QtQuick
import App.Stores
import "../../.."

// Asks for a password-reset letter; whoever has the token already goes on to the reset.
AuthForm {
    id: page

    signal loginRequested
    signal resetRequested

    function submit() {
        AuthStore.requestPasswordReset(emailField.text);
    }

    heading: qsTr("Восстановление пароля")
    subtitle: qsTr("Отправим ссылку на email")

    AuthTextField {
        id: emailField

        objectName: "emailField"
        label: qsTr("Email")
        placeholderText: "name@example.com"
        inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
        onAccepted: page.submit()
    }

    AppButton {
        objectName: "submitButton"
        text: qsTr("Отправить ссылку")
        loading: AuthStore.loading
        onClicked: page.submit()
    }

    AppButton {
        objectName: "resetButton"
        text: qsTr("У меня есть токен сброса")
        variant: "secondary"
        onClicked: page.resetRequested()
    }

    AppButton {
        objectName: "loginButton"
        implicitHeight: 34
        text: qsTr("Назад ко входу")
        variant: "text"
        onClicked: page.loginRequested()
    }
}
