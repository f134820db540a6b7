import QtQuick
import QtQuick.Layouts
import App.Stores
import "../.."
import "../components/user"

// The account: its name and e-mail, its password, its deletion, and the documents it
// was opened under. The record is fetched anew at every visit.
Item {
    id: page

    Component.onCompleted: AuthStore.fetchProfile()

    ScrollingColumn {
        anchors.fill: parent

        FormMessage {
            objectName: "message"
            type: "success"
            text: AuthStore.message
        }

        FormMessage {
            objectName: "error"
            type: "error"
            text: AuthStore.error
        }

        UserInfoForm {
            objectName: "infoForm"
        }

        UserPasswordForm {
            objectName: "passwordForm"
        }

        UserDeleteForm {
            objectName: "deleteForm"
        }

        WebsiteLink {
            objectName: "offerLink"
            Layout.topMargin: 4
            text: qsTr("Публичная оферта")
            url: Themes.offerUrl
        }

        WebsiteLink {
            objectName: "privacyLink"
            text: qsTr("Политика обработки персональных данных")
            url: Themes.privacyPolicyUrl
        }
    }
}
