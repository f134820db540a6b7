import QtQuick
import App.Stores
import "../../.."

// A new account: name, e-mail, a password twice and the agreement. The store checks
// the agreement first and sends nothing without it.
AuthForm {
    id: page

    signal loginRequested

    function submit() {
        AuthStore.register(nameField.text, emailField.text, passwordField.text, confirmationField.text, agreementBox.checked);
    }

    heading: qsTr("Регистрация")
    subtitle: qsTr("Создайте аккаунт")
    showsMessage: false

    AuthTextField {
        id: nameField

        objectName: "nameField"
        label: qsTr("Имя")
        placeholderText: qsTr("Ваше имя")
        onAccepted: page.submit()
    }

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
        placeholderText: qsTr("Минимум 12 символов")
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

    AppCheckBox {
        id: agreementBox

        objectName: "agreementBox"
        textFormat: Text.StyledText
        text: qsTr("Я принимаю <a href=\"%1\">публичную оферту</a> и <a href=\"%2\">соглашение по обработке данных</a>").arg(Themes.offerUrl).arg(Themes.privacyPolicyUrl)
        onToggled: AuthStore.clearStatus()
    }

    AppButton {
        objectName: "submitButton"
        text: qsTr("Зарегистрироваться")
        loading: AuthStore.loading
        onClicked: page.submit()
    }

    AppButton {
        objectName: "loginButton"
        implicitHeight: 34
        text: qsTr("Уже есть аккаунт? Войти")
        variant: "text"
        onClicked: page.loginRequested()
    }
}
