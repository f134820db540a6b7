import QtQuick
import QtQuick.Layouts
import App.Stores
import "../../.."

// Deleting the account, behind a popup that asks for the current password.
SectionCard {
    id: form

    readonly property alias popup: popup

    heading: qsTr("Удаление профиля")
    subtitle: qsTr("После удаления профиль и связанные с ним данные нельзя будет восстановить.")

    AppButton {
        objectName: "deleteButton"
        text: qsTr("Удалить профиль")
        variant: "danger"
        enabled: !AuthStore.loading
        onClicked: popup.openForDeletion()
    }

    UserDeletePopup {
        id: popup

        objectName: "deletePopup"
    }
}
