import QtQuick
import App.Stores
import "../../.."

// The six-digit code from the letter, for a signed-in account whose e-mail is not
// confirmed yet; the only way on is the code, a new one, or signing out.
AuthForm {
    id: page

    function submit() {
        AuthStore.verifyEmailCode(codeField.text);
    }

    heading: qsTr("Подтвердите email")
    subtitle: qsTr("Введите 6-значный код из письма")

    AuthTextField {
        id: codeField

        objectName: "codeField"
        label: qsTr("Код")
        placeholderText: "000000"
        inputMethodHints: Qt.ImhDigitsOnly
        onAccepted: page.submit()
    }

    AppButton {
        objectName: "submitButton"
        text: qsTr("Подтвердить")
        loading: AuthStore.loading
        onClicked: page.submit()
    }

    AppButton {
        objectName: "resendButton"
        text: qsTr("Отправить код снова")
        variant: "secondary"
        loading: AuthStore.loading
        onClicked: AuthStore.resendVerificationCode()
    }

    AppButton {
        objectName: "logoutButton"
        implicitHeight: 34
        text: qsTr("Выйти")
        variant: "text"
        onClicked: AuthStore.logout()
    }
}
