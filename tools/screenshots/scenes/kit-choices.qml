import QtQuick
import QtQuick.Layouts
import "qrc:/vpn-client"

// Check boxes (one with links), the three FormMessage types and the IconButtons.
Rectangle {
    color: Themes.canvas

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        spacing: 14

        AppCheckBox {
            text: "Запомнить меня"
            checked: true
        }
        AppCheckBox {
            textFormat: Text.StyledText
            text: 'Я принимаю условия <a href="' + Themes.offerUrl + '">публичной оферты</a> и даю согласие '
                  + 'на обработку персональных данных в соответствии с '
                  + '<a href="' + Themes.privacyPolicyUrl + '">политикой конфиденциальности</a>'
        }
        AppCheckBox {
            text: "Недоступный флажок"
            enabled: false
        }

        FormMessage {
            text: "Код подтверждения отправлен на вашу почту"
        }
        FormMessage {
            type: "error"
            text: "Неверная электронная почта или пароль"
        }
        FormMessage {
            type: "success"
            text: "Пароль изменён. Теперь войдите с новым паролем."
        }

        RowLayout {
            spacing: 10
            IconButton { iconName: "settings" }
            IconButton { iconName: "edit" }
            IconButton { iconName: "delete" }
            IconButton { iconName: "edit"; iconColor: Themes.accent }
        }

        Item { Layout.fillHeight: true }
    }
}
