import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The account deletion popup over the profile page, after a wrong password.
Rectangle {
    color: Themes.canvas

    Component.onCompleted: AuthStore.user = {
        "name": "Анна Смирнова",
        "email": "anna@example.com",
        "email_verified_at": "2026-03-01T10:00:00Z"
    }

    ProfilePage {
        anchors.fill: parent
        // where the signed-in frame puts its page: under the header, above the navigation
        anchors.margins: Themes.pagePadding
        anchors.topMargin: 102
        anchors.bottomMargin: 94
    }

    UserDeletePopup {
        id: popup
    }

    // A popup opens only once the scene is in its window.
    Timer {
        running: true
        interval: 0
        onTriggered: {
            popup.openForDeletion();
            popup.password = "not my password";
            popup.errorText = "Неверный пароль";
        }
    }
}
