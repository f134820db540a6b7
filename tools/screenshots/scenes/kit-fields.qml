import QtQuick
import QtQuick.Layouts
import "qrc:/vpn-client"

// AppTextField with label, placeholder, text, focus, error and password mode.
Rectangle {
    color: Themes.canvas

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        spacing: 14

        AppTextField {
            label: "Электронная почта"
            placeholderText: "you@example.com"
        }
        AppTextField {
            label: "Имя"
            text: "Анна Сергеевна Петрова"
            focus: true
        }
        AppTextField {
            label: "Пароль"
            text: "секретный пароль"
            echoMode: TextInput.Password
            errorText: "Пароль должен содержать не менее 8 символов, одну цифру и одну заглавную букву"
        }
        AppTextField {
            placeholderText: "Поле без подписи"
        }
        AppTextField {
            label: "Недоступное поле"
            text: "только чтение"
            enabled: false
        }

        Item { Layout.fillHeight: true }
    }
}
