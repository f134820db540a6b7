import QtQml

// VpnManager as the interface sees it (its properties, change signals and operations)
// with no daemon behind it: the test sets the state, and reads from `calls` every
// operation the interface called, in order ({"method": name}, with "peer" for connectPeer).
QtObject {
    property int state: 0
    property var currentPeer: ({})
    property string error: ""
    readonly property bool connected: state === 2
    readonly property bool busy: state === 1 || state === 3
    property var calls: []

    function record(call) {
        calls = calls.concat([call]);
    }
    function connectPeer(peer) {
        record({ "method": "connectPeer", "peer": peer });
    }
    function disconnectVpn() {
        record({ "method": "disconnectVpn" });
    }
    function syncStatus() {
        record({ "method": "syncStatus" });
    }

    // The state and peer as the manager would report them.
    function setState(value, peer) {
        currentPeer = peer || {};
        state = value;
    }
    function reset() {
        setState(0);
        calls = [];
    }
}
