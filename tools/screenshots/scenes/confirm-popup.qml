import QtQuick
import "qrc:/vpn-client"

// ConfirmActionPopup for a destructive action whose first try failed.
Rectangle {
    id: scene

    color: Themes.canvas

    PagePlaceholder {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        heading: "Соединения"
        body: "Страница под всплывающим окном."
    }

    ConfirmActionPopup {
        id: popup

        hostWidth: scene.width
        hostHeight: scene.height
        destructive: true
    }

    // A popup opens only once the scene is in its window.
    Timer {
        running: true
        interval: 0
        onTriggered: {
            popup.openForAction("Удалить соединение?",
                                "Соединение «Нидерланды, Амстердам» будет удалено. Это действие нельзя отменить.",
                                "Удалить");
            popup.errorText = "Не удалось удалить соединение: сервер недоступен";
        }
    }
}
