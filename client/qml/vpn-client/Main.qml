import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: window

    width: 430
    height: 780
    minimumWidth: 360
    minimumHeight: 640
    visible: true
    title: Themes.appName
    color: Themes.canvas

    PagePlaceholder {
        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        heading: Themes.appName
        subtitle: qsTr("Вход в аккаунт")
        body: qsTr("Страница входа появится здесь.")
    }
}
