import QtQuick
import App.Stores
import "../../.."

// The frame of the account forms: the account store's last success and error texts at
// the top of the form, the page's controls below them.
GuestLayout {
    id: authForm

    // the registration form shows no success text
    property bool showsMessage: true

    FormMessage {
        objectName: "message"
        type: "success"
        text: authForm.showsMessage ? AuthStore.message : ""
    }

    FormMessage {
        objectName: "error"
        type: "error"
        text: AuthStore.error
    }
}
