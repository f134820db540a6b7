import QtQuick
import "qrc:/vpn-client"

// PagePlaceholder with heading, subtitle and body.
Rectangle {
    color: Themes.canvas

    PagePlaceholder {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        heading: "Баланс"
        subtitle: "Раздел в разработке"
        body: "Здесь появятся пополнение счёта и история платежей. А пока баланс можно посмотреть в заголовке приложения."
    }
}
