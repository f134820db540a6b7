import QtQuick
import "qrc:/vpn-client"

// The busy overlay with the connecting text over a page.
Rectangle {
    color: Themes.canvas

    PagePlaceholder {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        heading: "Соединения"
        subtitle: "Подключение"
        body: "Страница под оверлеем."
    }

    LoadingOverlay {
        visible: true
        text: "Идет подключение, подождите..."
    }
}
