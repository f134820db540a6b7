import QtQuick
import App.Stores
import "../../.."

// A field of the account forms: locked while a request of the account store runs, and
// any edit clears the store's last error and message.
AppTextField {
    enabled: !AuthStore.loading
    onEdited: AuthStore.clearStatus()
}
