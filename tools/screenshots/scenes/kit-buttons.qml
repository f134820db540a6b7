import QtQuick
import QtQuick.Layouts
import "qrc:/vpn-client"

// Every AppButton variant, enabled, disabled and loading.
Rectangle {
    color: Themes.canvas

    component Caption: Text {
        Layout.fillWidth: true
        Layout.topMargin: 6
        color: Themes.textMuted
        font.pixelSize: 12
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        spacing: 10

        Caption { text: "primary: enabled, disabled, loading" }
        RowLayout {
            spacing: 8
            AppButton { text: "Войти" }
            AppButton { text: "Войти"; enabled: false }
            AppButton { text: "Войти"; loading: true }
        }

        Caption { text: "secondary" }
        RowLayout {
            spacing: 8
            AppButton { text: "Отмена"; variant: "secondary" }
            AppButton { text: "Отмена"; variant: "secondary"; enabled: false }
            AppButton { text: "Отмена"; variant: "secondary"; loading: true }
        }

        Caption { text: "danger" }
        RowLayout {
            spacing: 8
            AppButton { text: "Удалить"; variant: "danger" }
            AppButton { text: "Удалить"; variant: "danger"; enabled: false }
            AppButton { text: "Удалить"; variant: "danger"; loading: true }
        }

        Caption { text: "text" }
        RowLayout {
            spacing: 8
            AppButton { text: "Забыли пароль?"; variant: "text" }
            AppButton { text: "Назад"; variant: "text"; enabled: false }
        }

        Caption { text: "a long label is elided" }
        AppButton { text: "Зарегистрироваться и принять условия публичной оферты целиком" }
        AppButton {
            Layout.fillWidth: false
            Layout.alignment: Qt.AlignHCenter
            text: "По ширине текста"
            variant: "secondary"
        }

        Item { Layout.fillHeight: true }
    }
}
