import QtQml

// VpnManager as the interface sees it (its properties, change signals and operations)
// with no daemon behind it: the test sets the state, and reads from `calls` every
// operation the interface called, in order.
QtObject {
    property int state: 0
    property var currentPeer: ({})
    property string error: ""
    readonly property bool connected: state === 2
    readonly property bool busy: state === 1 || state === 3
    // {"method": name}, with "peer" for connectPeer.
    property var calls: []

    function connectPeer(peer) {
        calls = calls.concat([{
                    "method": "connectPeer",
                    "peer": peer
                }]);
    }
    function disconnectVpn() {
        calls = calls.concat([{
                    "method": "disconnectVpn"
                }]);
    }
    function syncStatus() {
        calls = calls.concat([{
                    "method": "syncStatus"
                }]);
    }
    function clearError() {
        error = "";
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
