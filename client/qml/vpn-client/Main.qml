import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: window

    width: 420
    height: 720
    visible: true
    title: "Tarvex"

    Label {
        anchors.centerIn: parent
        text: "Tarvex"
    }
}
