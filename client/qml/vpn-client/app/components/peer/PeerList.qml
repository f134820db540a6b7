import QtQuick
import QtQuick.Controls.Basic
import App.Stores
import "../../.."

// The account's peers, one row each, the connected one marked. Rows only ask: the page
// decides what connecting, editing, showing and deleting do.
ListView {
    id: root

    property var peers: []
    property var connectedPeer: null
    property bool hasPeers: false
    property bool hasError: false
    property bool loading: false

    signal connectRequested(var peer)
    signal disconnectRequested(var peer)
    signal editRequested(var peer)
    signal viewRequested(var peer)
    signal deleteRequested(var peer)

    visible: hasPeers && !hasError
    enabled: !loading
    clip: true
    spacing: 10
    boundsBehavior: Flickable.StopAtBounds
    model: peers

    ScrollBar.vertical: ScrollBar {}

    delegate: PeerRow {
        required property var modelData

        readonly property PeerList list: ListView.view as PeerList

        width: list.width
        peer: modelData
        // The same rule that keeps the connected peer out of the store's extra entry.
        connected: PeerStore.samePeer(modelData, list.connectedPeer)
        onConnectRequested: list.connectRequested(modelData)
        onDisconnectRequested: list.disconnectRequested(modelData)
        onEditRequested: list.editRequested(modelData)
        onViewRequested: list.viewRequested(modelData)
        onDeleteRequested: list.deleteRequested(modelData)
    }
}
