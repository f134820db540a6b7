import QtQuick
import QtQuick.Templates as T
import QtQuick.Layouts
import Qt.labs.settings
import App.Stores
import "../.."

// The signed-in home: the account's peers, connected and disconnected from their rows,
// renamed, shown and deleted through popups, and the links to the vendor's help pages.
FocusScope {
    id: root

    // The peer a connect waits with until the disclosure is accepted.
    property var pendingPeer: null
    // The peer the delete confirmation is about; forgotten when it closes.
    property var deletingPeer: null

    readonly property string statusText: {
        if (PeerStore.error !== "")
            return PeerStore.error;
        if (VpnManager.error !== "")
            return VpnManager.error;
        if (PeerStore.loading)
            return qsTr("Загружаем соединения...");
        if (!PeerStore.hasVisiblePeers)
            return qsTr("Соединений пока нет");
        return "";
    }

    Component.onCompleted: PeerStore.fetchPeers()

    // Read and written with value()/setValue(): what the disclosure says must be stored
    // the moment it is accepted, and read as stored, not as loaded with the page.
    Settings {
        id: disclosure

        category: "VpnDisclosure"
    }

    function disclosureAccepted() {
        const accepted = disclosure.value("accepted", false);
        // A stored bool comes back from the settings file as text.
        return accepted === true || accepted === "true";
    }

    function requestConnect(peer) {
        if (Platform.needsVpnDisclosure && !disclosureAccepted()) {
            pendingPeer = peer;
            disclosurePopup.open();
            return;
        }
        PeerStore.onConnect(peer);
    }

    function acceptDisclosure() {
        const peer = pendingPeer;
        pendingPeer = null;
        disclosure.setValue("accepted", true);
        disclosurePopup.close();
        if (peer !== null)
            PeerStore.onConnect(peer);
    }

    function save(peer, name) {
        PeerStore.updatePeer(peer ? peer.id : null, name, ok => finishAction(editPopup, editPopup.peer === peer, ok));
    }

    // After a rename or delete: the list reloaded and the popup closed, or the store's
    // error in the popup. A reply about a peer the popup no longer shows leaves it alone.
    function finishAction(popup, stillShown, ok) {
        if (ok) {
            if (stillShown)
                popup.close();
            PeerStore.fetchPeers();
        } else if (stillShown) {
            popup.errorText = PeerStore.error;
        }
    }

    function requestDelete(peer) {
        deletingPeer = peer;
        const name = peer && peer.name !== undefined && peer.name !== null ? String(peer.name) : "";
        deletePopup.openForAction(qsTr("Удалить соединение"), qsTr("Удалить \"%1\"?").arg(name !== "" ? name : qsTr("соединение")), qsTr("Удалить"));
    }

    function confirmDelete() {
        const peer = deletingPeer;
        if (peer === null)
            return;
        PeerStore.deletePeer(peer.id, ok => finishAction(deletePopup, deletingPeer === peer, ok));
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        Text {
            objectName: "status"
            Layout.fillWidth: true
            visible: text !== ""
            text: root.statusText
            color: Themes.textSecondary
            font.pixelSize: 14
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            PeerList {
                id: list

                objectName: "peerList"
                anchors.fill: parent
                peers: PeerStore.visiblePeers()
                connectedPeer: PeerStore.connectedPeer
                hasPeers: PeerStore.hasVisiblePeers
                hasError: PeerStore.error !== ""
                loading: PeerStore.loading
                onConnectRequested: peer => root.requestConnect(peer)
                onDisconnectRequested: PeerStore.offConnect()
                onEditRequested: peer => editPopup.openForPeer(peer)
                onViewRequested: peer => infoPopup.openForPeer(peer)
                onDeleteRequested: peer => root.requestDelete(peer)
            }
        }

        Column {
            Layout.fillWidth: true
            spacing: 8

            Repeater {
                model: [
                    { "name": "tipsLink", "text": qsTr("Полезные советы и инструкция"), "page": "/tips-and-instructions" },
                    { "name": "newsLink", "text": qsTr("Новости и поддержка"), "page": "/news-and-support" }
                ]

                Text {
                    required property var modelData

                    objectName: modelData.name
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: modelData.text
                    color: Themes.accent
                    font.pixelSize: 14
                    font.underline: true

                    TapHandler {
                        onTapped: Qt.openUrlExternally(Themes.websiteUrl + parent.modelData.page)
                    }
                    HoverHandler {
                        cursorShape: Qt.PointingHandCursor
                    }
                }
            }
        }
    }

    PeerPopup {
        id: infoPopup

        objectName: "infoPopup"
        parent: T.Overlay.overlay
        hostWidth: parent ? parent.width : 400
        hostHeight: parent ? parent.height : 400
    }

    PeerEditPopup {
        id: editPopup

        objectName: "editPopup"
        parent: T.Overlay.overlay
        hostWidth: parent ? parent.width : 400
        hostHeight: parent ? parent.height : 400
        loading: PeerStore.loading
        onSaveRequested: (peer, name) => root.save(peer, name)
    }

    ConfirmActionPopup {
        id: deletePopup

        objectName: "deletePopup"
        parent: T.Overlay.overlay
        hostWidth: parent ? parent.width : 400
        hostHeight: parent ? parent.height : 400
        destructive: true
        loading: PeerStore.loading
        onConfirmed: root.confirmDelete()
        onClosed: root.deletingPeer = null
    }

    VpnDisclosurePopup {
        id: disclosurePopup

        objectName: "disclosurePopup"
        parent: T.Overlay.overlay
        hostWidth: parent ? parent.width : 400
        hostHeight: parent ? parent.height : 400
        onAccepted: root.acceptDisclosure()
        onClosed: root.pendingPeer = null
    }
}
