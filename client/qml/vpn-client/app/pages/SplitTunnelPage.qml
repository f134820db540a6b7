import QtQuick
import QtQuick.Layouts
import App.Stores
import "../.."

// The split-tunnelling settings. The daemon reads them when a tunnel comes up, so they
// are locked while one is up or on its way up or down: a change then would silently
// not apply. With split tunnelling off, the rest stays visible but cannot be changed.
Item {
    id: page

    readonly property bool editingAllowed: !VpnManager.connected && !VpnManager.busy
    readonly property bool controlsEnabled: editingAllowed && SplitTunnelStore.tunnelingEnabled
    readonly property bool applicationSplitAvailable: Platform.os === "android"
    readonly property bool applicationsType: SplitTunnelStore.splitType === SplitTunnelStore.typeApplications
    readonly property bool allExcept: SplitTunnelStore.routeMode === SplitTunnelStore.modeAllExceptSelected
    // { name, packageName } of every launchable application, where the platform has a
    // list of them.
    property var installedApplications: []

    Component.onCompleted: {
        if (applicationSplitAvailable)
            installedApplications = readInstalledApplications();
        else if (applicationsType)
            SplitTunnelStore.setSplitType(SplitTunnelStore.typeSites);
    }

    // Android lists its launchable applications through a platform object that this
    // program does not contain, so there is nothing to read yet: the card says that
    // none were found.
    function readInstalledApplications() {
        return [];
    }

    function addEntry() {
        // A refused entry stays in the field, for the user to correct.
        if (SplitTunnelStore.addEntry(entryField.text))
            entryField.text = "";
    }

    function modeDescription() {
        if (allExcept)
            return applicationsType ? qsTr("VPN будет использоваться для всех приложений, кроме выбранных.") : qsTr("VPN будет использоваться для всех сайтов, кроме адресов из списка.");
        return applicationsType ? qsTr("VPN будет использоваться только для выбранных приложений.") : qsTr("VPN будет использоваться только для адресов из списка.");
    }

    ScrollingColumn {
        objectName: "pageColumn"
        anchors.fill: parent

        FormMessage {
            objectName: "lockedMessage"
            text: page.editingAllowed ? "" : qsTr("Сначала отключите VPN для редактирования раздельного туннелирования.")
        }

        FormMessage {
            objectName: "sitesWarning"
            text: page.applicationsType ? "" : qsTr("Раздельное туннелирование по сайтам и IP может работать нестабильно: сайты и приложения могут обращаться к нескольким доменам и IP-адресам, которые могут меняться в процессе работы.")
        }

        FormMessage {
            objectName: "error"
            type: "error"
            text: SplitTunnelStore.error
        }

        SectionCard {
            AppCheckBox {
                id: enabledBox

                objectName: "enabledBox"
                enabled: page.editingAllowed
                checked: SplitTunnelStore.tunnelingEnabled
                text: qsTr("Включить раздельное туннелирование")
                onToggled: value => {
                    SplitTunnelStore.setTunnelingEnabled(value);
                    // the click broke the binding; the store stays the one truth
                    checked = Qt.binding(() => SplitTunnelStore.tunnelingEnabled);
                }
            }
        }

        SectionCard {
            objectName: "typeCard"
            heading: qsTr("Тип разделения")
            enabled: page.controlsEnabled
            opacity: enabled ? 1 : 0.58

            RadioRow {
                objectName: "typeSites"
                text: qsTr("По сайтам и IP")
                chosen: !page.applicationsType
                onClicked: SplitTunnelStore.setSplitType(SplitTunnelStore.typeSites)
            }

            RadioRow {
                objectName: "typeApplications"
                visible: page.applicationSplitAvailable
                text: qsTr("По приложениям")
                chosen: page.applicationsType
                onClicked: SplitTunnelStore.setSplitType(SplitTunnelStore.typeApplications)
            }
        }

        SectionCard {
            objectName: "modeCard"
            heading: qsTr("Режим")
            subtitle: page.modeDescription()
            enabled: page.controlsEnabled
            opacity: enabled ? 1 : 0.58

            RadioRow {
                objectName: "modeOnlySelected"
                text: page.applicationsType ? qsTr("VPN только для выбранных приложений") : qsTr("VPN только для выбранных сайтов")
                chosen: !page.allExcept
                onClicked: SplitTunnelStore.setRouteMode(SplitTunnelStore.modeOnlySelected)
            }

            RadioRow {
                objectName: "modeAllExcept"
                text: page.applicationsType ? qsTr("Все приложения через VPN, кроме выбранных") : qsTr("Все сайты через VPN, кроме выбранных")
                chosen: page.allExcept
                onClicked: SplitTunnelStore.setRouteMode(SplitTunnelStore.modeAllExceptSelected)
            }
        }

        SectionCard {
            objectName: "sitesCard"
            visible: !page.applicationsType
            heading: qsTr("Сайты и IP")
            enabled: page.controlsEnabled
            opacity: enabled ? 1 : 0.58

            // The button goes under the field where beside it the example would not fit.
            GridLayout {
                id: entryRow

                // 28: the input's margins inside the field
                readonly property bool fitsBeside: width - addButton.width - columnSpacing - 28 >= placeholderMetrics.advanceWidth

                Layout.fillWidth: true
                columns: fitsBeside ? 2 : 1
                columnSpacing: 10
                rowSpacing: 10

                TextMetrics {
                    id: placeholderMetrics

                    font.pixelSize: 15
                    text: entryField.placeholderText
                }

                AppTextField {
                    id: entryField

                    objectName: "entryField"
                    placeholderText: qsTr("example.com или 1.2.3.0/24")
                    inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoAutoUppercase
                    onAccepted: page.addEntry()
                    onEdited: SplitTunnelStore.error = ""
                }

                AppButton {
                    id: addButton

                    objectName: "addButton"
                    Layout.fillWidth: false
                    Layout.alignment: Qt.AlignRight
                    // never narrower than its word, whatever the font
                    Layout.preferredWidth: Math.max(104, implicitWidth)
                    text: qsTr("Добавить")
                    onClicked: page.addEntry()
                }
            }

            Text {
                objectName: "emptyEntries"
                Layout.fillWidth: true
                visible: SplitTunnelStore.entries.length === 0
                text: qsTr("Список пуст")
                color: Themes.textMuted
                font.pixelSize: 13
            }

            Repeater {
                objectName: "entries"
                model: SplitTunnelStore.entries

                delegate: Rectangle {
                    id: entryItem

                    required property var modelData

                    Layout.fillWidth: true
                    implicitHeight: 58
                    radius: Themes.radiusSmall
                    color: Themes.surfaceRaised
                    border.width: 1
                    border.color: Themes.border

                    ColumnLayout {
                        anchors.left: parent.left
                        anchors.leftMargin: 14
                        anchors.right: removeButton.left
                        anchors.rightMargin: 10
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 3

                        Text {
                            objectName: "entryValue"
                            Layout.fillWidth: true
                            text: entryItem.modelData.value
                            color: Themes.textPrimary
                            font.pixelSize: 14
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }

                        Text {
                            objectName: "entryIp"
                            Layout.fillWidth: true
                            text: entryItem.modelData.ip !== "" ? entryItem.modelData.ip : qsTr("IP будет обновлен при подключении")
                            color: Themes.textMuted
                            font.pixelSize: 12
                            wrapMode: Text.Wrap
                            maximumLineCount: 2
                            elide: Text.ElideRight
                        }
                    }

                    IconButton {
                        id: removeButton

                        objectName: "removeButton"
                        anchors.right: parent.right
                        anchors.rightMargin: 9
                        anchors.verticalCenter: parent.verticalCenter
                        iconName: "delete"
                        Accessible.name: qsTr("Удалить")
                        onClicked: SplitTunnelStore.removeEntry(entryItem.modelData.value)
                    }
                }
            }
        }

        SectionCard {
            objectName: "applicationsCard"
            visible: page.applicationsType && page.applicationSplitAvailable
            heading: qsTr("Приложения")
            enabled: page.controlsEnabled
            opacity: enabled ? 1 : 0.58

            Text {
                Layout.fillWidth: true
                visible: page.installedApplications.length === 0
                text: qsTr("Запускаемые приложения не найдены")
                color: Themes.textMuted
                font.pixelSize: 13
                wrapMode: Text.Wrap
            }

            Repeater {
                model: page.installedApplications

                delegate: Rectangle {
                    id: applicationRow

                    required property var modelData
                    // the list is named here so that the binding follows its changes
                    readonly property bool selected: SplitTunnelStore.applications.length >= 0 && SplitTunnelStore.isApplicationSelected(modelData.packageName)

                    Layout.fillWidth: true
                    implicitHeight: 62
                    radius: Themes.radiusSmall
                    color: Themes.surfaceRaised
                    border.width: 1
                    border.color: selected ? Themes.accent : Themes.border

                    AppCheckBox {
                        objectName: "applicationBox"
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.margins: 14
                        anchors.verticalCenter: parent.verticalCenter
                        checked: applicationRow.selected
                        text: applicationRow.modelData.name + "\n" + applicationRow.modelData.packageName
                        onToggled: value => {
                            SplitTunnelStore.setApplicationSelected(applicationRow.modelData.name, applicationRow.modelData.packageName, value);
                            checked = Qt.binding(() => applicationRow.selected);
                        }
                    }
                }
            }
        }
    }
}
