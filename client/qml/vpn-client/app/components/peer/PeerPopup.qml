import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// What is known about one peer: its name, protocol, id and configuration, which can be
// copied to the clipboard.
AppPopup {
    id: root

    property var peer: null

    readonly property var record: peer !== null && typeof peer === "object" ? peer : ({})
    readonly property string configText: textOfConfig(record.config)

    maximumWidth: 520
    onClosed: peer = null

    function openForPeer(value) {
        peer = value;
        open();
    }

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value);
    }

    // Text as it is; an object as indented JSON.
    function textOfConfig(config) {
        if (config === undefined || config === null)
            return "";
        if (typeof config === "string")
            return config;
        try {
            const text = JSON.stringify(config, null, 2);
            return text === undefined ? "" : text;
        } catch (unserialisable) {
            return "";
        }
    }

    function copyConfig() {
        configArea.selectAll();
        configArea.copy();
        configArea.deselect();
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: qsTr("Информация о соединении")
            color: Themes.textPrimary
            font.pixelSize: 18
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }

        GridLayout {
            Layout.fillWidth: true
            columns: 2
            columnSpacing: 14
            rowSpacing: 8

            Text {
                text: qsTr("Название")
                color: Themes.textMuted
                font.pixelSize: 13
            }
            Text {
                objectName: "name"
                Layout.fillWidth: true
                text: root.textOf(root.record.name) || qsTr("Не указано")
                color: Themes.textPrimary
                font.pixelSize: 14
                wrapMode: Text.WrapAnywhere
            }

            Text {
                text: qsTr("Протокол")
                color: Themes.textMuted
                font.pixelSize: 13
            }
            Text {
                objectName: "protocol"
                Layout.fillWidth: true
                text: root.textOf(root.record.protocol) || qsTr("Не указано")
                color: Themes.textPrimary
                font.pixelSize: 14
                wrapMode: Text.WrapAnywhere
            }

            Text {
                visible: idValue.visible
                text: qsTr("ID")
                color: Themes.textMuted
                font.pixelSize: 13
            }
            Text {
                id: idValue

                objectName: "id"
                Layout.fillWidth: true
                visible: text !== ""
                text: root.textOf(root.record.id)
                color: Themes.textPrimary
                font.pixelSize: 14
                wrapMode: Text.WrapAnywhere
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Text {
                Layout.fillWidth: true
                text: "config"
                color: Themes.textSecondary
                font.pixelSize: 13
                font.weight: Font.Medium
            }

            AppButton {
                objectName: "copyButton"
                Layout.fillWidth: false
                Layout.preferredWidth: 132
                text: qsTr("Скопировать")
                variant: "secondary"
                enabled: root.configText !== ""
                onClicked: root.copyConfig()
            }
        }

        ScrollView {
            Layout.fillWidth: true
            Layout.preferredHeight: 180

            background: Rectangle {
                radius: Themes.radius
                color: Themes.surfaceRaised
                border.width: 1
                border.color: Themes.border
            }

            TextArea {
                id: configArea

                objectName: "config"
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.WrapAnywhere
                text: root.configText
                placeholderText: qsTr("config не указан")
                placeholderTextColor: Themes.textMuted
                color: Themes.textPrimary
                selectionColor: Themes.accent
                selectedTextColor: Themes.accentText
                font.pixelSize: 13
                padding: 10
                background: null
            }
        }

        AppButton {
            objectName: "closeButton"
            text: qsTr("Закрыть")
            variant: "secondary"
            onClicked: root.close()
        }
    }
}
