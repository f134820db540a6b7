import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// What a VPN connection does with the device's traffic, asked before the first connection
// where the system wants the user told. Only its buttons close it.
AppPopup {
    id: root

    signal accepted

    closePolicy: Popup.NoAutoClose
    // A short window scrolls the text rather than push the buttons off screen.
    height: Math.min(implicitHeight, hostHeight - 40)

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: qsTr("Использование VPN-подключения")
            color: Themes.textPrimary
            font.pixelSize: 18
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }

        Flickable {
            id: body

            objectName: "body"
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredHeight: contentHeight
            contentHeight: bodyColumn.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            clip: true

            // Shown for good when the text does not fit, so that its end is not missed.
            ScrollBar.vertical: ScrollBar {
                policy: body.contentHeight > body.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            }

            Column {
                id: bodyColumn

                // clear of the scroll bar when there is one
                width: body.width - (body.contentHeight > body.height ? 12 : 0)
                spacing: 12

                Text {
                    width: parent.width
                    text: qsTr("Tarvex использует системный интерфейс VpnService, чтобы создать зашифрованный туннель между вашим устройством и выбранным сервером.\n\nПока туннель включен, сетевой трафик устройства идет через этот сервер. Если включено раздельное туннелирование, через туннель идут только выбранные вами приложения или адреса.\n\nПриложение не читает и не сохраняет содержимое вашего трафика, историю посещений и DNS-запросы. Список установленных приложений используется только на устройстве и никуда не передается.\n\nНа сервере хранятся только данные аккаунта: имя, адрес электронной почты и названия ваших подключений.")
                    color: Themes.textSecondary
                    font.pixelSize: 14
                    lineHeight: 1.35
                    wrapMode: Text.Wrap
                }

                Text {
                    objectName: "policyLink"
                    width: parent.width
                    text: qsTr("<a href=\"%1\">Политика обработки персональных данных</a>").arg(Themes.privacyPolicyUrl)
                    textFormat: Text.StyledText
                    color: Themes.textSecondary
                    linkColor: Themes.accent
                    font.pixelSize: 14
                    wrapMode: Text.Wrap
                    onLinkActivated: link => Qt.openUrlExternally(link)

                    HoverHandler {
                        cursorShape: parent.hoveredLink !== "" ? Qt.PointingHandCursor : Qt.ArrowCursor
                    }
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 10

            AppButton {
                objectName: "cancelButton"
                Layout.preferredWidth: 1
                text: qsTr("Отмена")
                variant: "secondary"
                onClicked: root.close()
            }

            AppButton {
                objectName: "acceptButton"
                Layout.preferredWidth: 1
                text: qsTr("Принять")
                onClicked: root.accepted()
            }
        }
    }
}
