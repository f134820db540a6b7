import QtQuick
import "qrc:/vpn-client"

// The busy overlay without text (a store is loading) over a page.
Rectangle {
    color: Themes.canvas

    PagePlaceholder {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        heading: "Соединения"
        subtitle: "Список загружается"
        body: "Страница под оверлеем."
    }

    LoadingOverlay {
        visible: true
    }
}
