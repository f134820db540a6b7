import QtQuick
import App.Stores
import "qrc:/vpn-client"

// The profile page of an account whose new e-mail address awaits its code. The window
// shows the verification page to such an account, so the page stands alone here, where
// the signed-in frame would put it. (Confirmed, it is shell-profile.)
Rectangle {
    color: Themes.canvas

    Component.onCompleted: {
        AuthStore.user = {
            "name": "Анна Смирнова",
            "email": "anna.new@example.com",
            "email_verified_at": null
        };
        AuthStore.message = "Профиль обновлен";
        loader.active = true;
    }

    Loader {
        id: loader

        anchors.fill: parent
        anchors.margins: Themes.pagePadding
        anchors.topMargin: 102
        anchors.bottomMargin: 94
        active: false
        sourceComponent: ProfilePage {}
    }
}
