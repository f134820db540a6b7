import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The profile page of an account whose e-mail is confirmed, after a saved change.
Rectangle {
    color: Themes.canvas

    Component.onCompleted: {
        AuthStore.user = {
            "name": "Анна Смирнова",
            "email": "anna@example.com",
            "email_verified_at": "2026-03-01T10:00:00Z"
        };
        AuthStore.message = "Профиль обновлен";
        loader.active = true;
    }

    Loader {
        id: loader

        anchors.fill: parent
        // where the signed-in frame puts its page: under the header, above the navigation
        anchors.margins: Themes.pagePadding
        anchors.topMargin: 102
        anchors.bottomMargin: 94
        active: false
        sourceComponent: ProfilePage {}
    }
}
