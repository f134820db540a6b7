import QtQuick
import QtQuick.Layouts
import App.Stores
import "../../.."

// Sign-in with e-mail and password; the session is remembered unless the box is cleared.
AuthForm {
    id: page

    signal registerRequested
    signal forgotPasswordRequested

    function submit() {
        AuthStore.login(emailField.text, passwordField.text, rememberBox.checked);
    }

    heading: qsTr("Вход")
    subtitle: qsTr("Почта и пароль")

    AuthTextField {
        id: emailField

        objectName: "emailField"
        label: qsTr("Email")
        placeholderText: "name@example.com"
        inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
        onAccepted: page.submit()
    }

    AuthTextField {
        id: passwordField

        objectName: "passwordField"
        label: qsTr("Пароль")
        placeholderText: qsTr("Введите пароль")
        echoMode: TextInput.Password
        onAccepted: page.submit()
    }

    AppCheckBox {
        id: rememberBox

        objectName: "rememberBox"
        text: qsTr("Запомнить меня")
        checked: true
    }

    AppButton {
        objectName: "submitButton"
        text: qsTr("Войти")
        loading: AuthStore.loading
        onClicked: page.submit()
    }

    // Shared by their labels' widths, so that on a narrow card both stay whole.
    RowLayout {
        Layout.fillWidth: true
        spacing: 8

        AppButton {
            objectName: "forgotButton"
            Layout.preferredWidth: implicitWidth
            implicitHeight: 34
            text: qsTr("Забыли пароль?")
            variant: "text"
            onClicked: page.forgotPasswordRequested()
        }

        AppButton {
            objectName: "registerButton"
            Layout.preferredWidth: implicitWidth
            implicitHeight: 34
            text: qsTr("Регистрация")
            variant: "text"
            onClicked: page.registerRequested()
        }
    }
}
