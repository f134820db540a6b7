import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// Asks before an action runs. The owner runs the action on `confirmed`, drives
// `loading` while it runs, and closes the popup or puts the failure in `errorText`.
AppPopup {
    id: root

    property string title: ""
    property string message: ""
    property string confirmText: qsTr("Подтвердить")
    property string cancelText: qsTr("Отмена")
    property string errorText: ""
    property bool loading: false
    property bool destructive: false

    signal confirmed

    function openForAction(actionTitle, actionMessage, actionConfirmText) {
        title = actionTitle;
        message = actionMessage;
        confirmText = actionConfirmText ? actionConfirmText : qsTr("Подтвердить");
        errorText = "";
        open();
    }

    // A running action keeps the popup open: a failure reported into a popup closed
    // meanwhile would never be seen.
    closePolicy: loading ? Popup.NoAutoClose : Popup.CloseOnEscape | Popup.CloseOnPressOutside
    onClosed: errorText = ""

    contentItem: ColumnLayout {
        spacing: 12

        Text {
            objectName: "title"
            Layout.fillWidth: true
            visible: text !== ""
            text: root.title
            color: Themes.textPrimary
            font.pixelSize: 18
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }

        Text {
            objectName: "message"
            Layout.fillWidth: true
            visible: text !== ""
            text: root.message
            color: Themes.textSecondary
            font.pixelSize: 14
            lineHeight: 1.35
            wrapMode: Text.Wrap
        }

        FormMessage {
            objectName: "error"
            type: "error"
            text: root.errorText
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 10

            AppButton {
                objectName: "cancelButton"
                Layout.preferredWidth: 1
                text: root.cancelText
                variant: "secondary"
                enabled: !root.loading
                onClicked: root.close()
            }

            AppButton {
                objectName: "confirmButton"
                Layout.preferredWidth: 1
                text: root.confirmText
                variant: root.destructive ? "danger" : "primary"
                loading: root.loading
                onClicked: root.confirmed()
            }
        }
    }
}
