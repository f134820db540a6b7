import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import App.Api
import App.Stores
import "../.."

// A new peer in a country of the vendor's choice, named by the user or after the
// country, with what the account will then cost below the form.
FocusScope {
    id: root

    property var countries: []
    property bool countriesLoading: false
    property bool countriesLoaded: false
    property string countriesError: ""
    property string countryError: ""

    signal peerCreated

    // The country request in flight; marked abandoned when the page goes or asks again,
    // since its reply may come after this page's scope is gone.
    property var countryRequest: null

    Component.onCompleted: loadCountries()
    Component.onDestruction: {
        if (countryRequest)
            countryRequest.abandoned = true;
    }

    function loadCountries() {
        if (countryRequest)
            countryRequest.abandoned = true;
        const request = {
            "abandoned": false
        };
        countryRequest = request;
        countriesLoading = true;
        countriesLoaded = false;
        countriesError = "";
        const sentToken = AuthStore.token;
        ApiClient.request("GET", "/countries", null, {
                "token": sentToken,
                "tokenType": AuthStore.tokenType
            }, result => {
                // An expired sign-in ends its session wherever the user has gone since,
                // but never a later one.
                if (result.status === 401) {
                    if (AuthStore.token === sentToken)
                        AuthStore.logout();
                    return;
                }
                if (request.abandoned)
                    return;
                countriesLoading = false;
                countriesLoaded = true;
                if (!result.ok) {
                    countries = [];
                    countriesError = result.error;
                    return;
                }
                countries = countryList(result.data);
                countryBox.currentIndex = countries.length > 0 ? 0 : -1;
            });
    }

    // A list as it is, else the list under "countries", else none.
    function countryList(data) {
        if (Array.isArray(data))
            return data;
        if (data !== null && typeof data === "object" && Array.isArray(data.countries))
            return data.countries;
        return [];
    }

    function textOf(value) {
        return value === undefined || value === null ? "" : String(value);
    }

    function displayName(country) {
        if (country === null || typeof country !== "object")
            return textOf(country);
        return textOf(country.name) || textOf(country.title) || textOf(country.id);
    }

    function submit() {
        countryError = "";
        const index = countryBox.currentIndex;
        if (index < 0 || index >= countries.length) {
            countryError = qsTr("Выберите страну");
            return;
        }
        const country = countries[index];
        let name = nameField.text.trim();
        if (name === "") {
            name = displayName(country);
            nameField.text = name;
        }
        PeerStore.createPeer(country !== null && typeof country === "object" ? country.id : null, name, ok => {
                if (ok)
                    root.peerCreated();
            });
    }

    Flickable {
        id: flickable

        anchors.fill: parent
        contentHeight: card.height
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        // Shown for good when the form does not fit, so that the costs below are found.
        ScrollBar.vertical: ScrollBar {
            policy: flickable.contentHeight > flickable.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        Rectangle {
            id: card

            objectName: "card"
            // clear of the scroll bar when there is one
            width: flickable.width - (flickable.contentHeight > flickable.height ? 12 : 0)
            height: column.implicitHeight + 40
            radius: Themes.radiusLarge
            color: Themes.surface
            border.width: 1
            border.color: Themes.border

            ColumnLayout {
                id: column

                anchors.horizontalCenter: parent.horizontalCenter
                y: 20
                width: Math.min(460, card.width - 40)
                spacing: 14

                RowLayout {
                    objectName: "countriesLoading"
                    Layout.alignment: Qt.AlignHCenter
                    visible: root.countriesLoading
                    spacing: 10

                    Spinner {
                        Layout.preferredWidth: 22
                        Layout.preferredHeight: 22
                        running: root.countriesLoading
                    }
                    Text {
                        text: qsTr("Загружаем страны...")
                        color: Themes.textSecondary
                        font.pixelSize: 14
                    }
                }

                Text {
                    objectName: "countriesError"
                    Layout.fillWidth: true
                    visible: text !== ""
                    text: root.countriesError
                    color: Themes.danger
                    font.pixelSize: 14
                    wrapMode: Text.Wrap
                }

                Text {
                    objectName: "noCountries"
                    Layout.fillWidth: true
                    visible: root.countriesLoaded && root.countriesError === "" && root.countries.length === 0
                    text: qsTr("Доступных стран нет")
                    color: Themes.textSecondary
                    font.pixelSize: 14
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                }

                Text {
                    objectName: "peerError"
                    Layout.fillWidth: true
                    visible: text !== ""
                    text: PeerStore.error
                    color: Themes.danger
                    font.pixelSize: 14
                    wrapMode: Text.Wrap
                }

                ColumnLayout {
                    id: form

                    objectName: "form"
                    Layout.fillWidth: true
                    visible: root.countriesLoaded && root.countriesError === ""
                    spacing: 14

                    AppTextField {
                        id: nameField

                        objectName: "nameField"
                        label: qsTr("Название соединения")
                        placeholderText: qsTr("Например: IPhone (США)")
                        onAccepted: root.submit()
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 7

                        Text {
                            text: qsTr("Страна")
                            color: Themes.textSecondary
                            font.pixelSize: 13
                            font.weight: Font.Medium
                        }

                        CountryComboBox {
                            id: countryBox

                            objectName: "countryBox"
                            Layout.fillWidth: true
                            model: root.countries.map(country => root.displayName(country))
                            hasError: root.countryError !== ""
                            onActivated: root.countryError = ""
                        }

                        Text {
                            objectName: "countryError"
                            Layout.fillWidth: true
                            visible: text !== ""
                            text: root.countryError
                            color: Themes.danger
                            font.pixelSize: 12
                            wrapMode: Text.Wrap
                        }
                    }

                    AppButton {
                        objectName: "submitButton"
                        text: qsTr("Отправить")
                        loading: PeerStore.loading
                        onClicked: root.submit()
                    }

                    // Made with the form, so that its profile reload follows a country
                    // list that loaded, rather than racing it into a second sign-out.
                    Loader {
                        Layout.fillWidth: true
                        active: form.visible
                        sourceComponent: UserBalanceInfo {}
                    }
                }
            }
        }
    }
}
