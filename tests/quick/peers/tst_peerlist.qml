import QtQuick
import QtTest
import "qrc:/vpn-client"

// Which row the list marks as connected, which rows offer the settings menu, and what
// the rows' buttons and menu entries ask for.
Item {
    id: host

    width: 430
    height: 780

    PeerList {
        id: list

        anchors.fill: parent
        hasPeers: true
    }

    SignalSpy { id: requests; target: list; signalName: "connectRequested" }
    SignalSpy { id: disconnects; target: list; signalName: "disconnectRequested" }

    TestCase {
        name: "PeerList"
        when: windowShown

        function init() {
            list.connectedPeer = null;
            list.peers = [];
            requests.clear();
            disconnects.clear();
        }

        function row(index) {
            tryVerify(() => list.itemAtIndex(index) !== null);
            return list.itemAtIndex(index);
        }

        // Each row as [connect button's text, settings button shown].
        function rows() {
            const shown = [];
            for (let i = 0; i < list.count; ++i) {
                const item = row(i);
                shown.push([findChild(item, "connectButton").text, findChild(item, "menuButton").visible]);
            }
            return shown;
        }

        // Configurations compare as text, objects as their JSON whatever the key order;
        // protocols must agree when both are given; without a configuration on either
        // side, the ids decide. The settings menu is neither on the connected row nor on
        // the tunnel entry of a peer that has left the account.
        function test_connectedRow_data() {
            const textPeers = [{ id: 1, config: "vpn://a", protocol: "amnezia-v1" }, { id: 2, config: "vpn://b", protocol: "amnezia-v1" }];
            return [
                { tag: "nothing connected", peers: textPeers, connected: null, marked: [false, false] },
                { tag: "same text and protocol, other id", peers: textPeers, connected: { id: 9, config: "vpn://b", protocol: "amnezia-v1" }, marked: [false, true] },
                { tag: "same text, other protocol", peers: textPeers, connected: { id: 1, config: "vpn://a", protocol: "amnezia-v2" }, marked: [false, false] },
                { tag: "same text, no protocol", peers: textPeers, connected: { config: "vpn://a" }, marked: [true, false] },
                { tag: "other text, same id", peers: textPeers, connected: { id: 1, config: "vpn://c" }, marked: [false, false] },
                { tag: "objects, keys reordered", peers: [{ id: 1, config: { a: 1, b: { c: 2, d: [3] } } }, { id: 2, config: { a: 2 } }], connected: { id: 5, config: { b: { d: [3], c: 2 }, a: 1 } }, marked: [true, false] },
                { tag: "object and its text", peers: [{ config: { a: 1 } }], connected: { config: '{"a":1}' }, marked: [true] },
                { tag: "no config, id as number and text", peers: [{ id: 7 }, { id: 8 }], connected: { id: "8", config: null }, marked: [false, true] },
                { tag: "config on one side, same id", peers: [{ id: 7, config: "vpn://a" }], connected: { id: 7 }, marked: [true] },
                { tag: "id 0", peers: [{ id: 0 }, { id: "" }], connected: { id: 0 }, marked: [true, false] },
                { tag: "no config, no id", peers: [{ name: "Дом" }], connected: { name: "Дом" }, marked: [false] },
                { tag: "tunnel of a deleted peer", peers: [textPeers[0], textPeers[1], { id: 3, config: "vpn://c", orphaned: true }], connected: { id: 3, config: "vpn://c" }, marked: [false, false, true] },
                { tag: "orphaned, not connected", peers: [{ id: 3, config: "vpn://c", orphaned: true }], connected: null, marked: [false], noMenu: [true] }
            ];
        }

        function test_connectedRow(data) {
            list.peers = data.peers;
            list.connectedPeer = data.connected;
            compare(rows(), data.marked.map((marked, i) => [marked ? "Отключиться" : "Подключиться", !marked && !(data.noMenu && data.noMenu[i])]));
        }

        // Both buttons hand over the row's own peer.
        function test_connectAndDisconnect() {
            list.peers = [{ id: 1, name: "Дом" }, { id: 2, name: "Офис" }];
            list.connectedPeer = { id: 2 };
            mouseClick(findChild(row(0), "connectButton"));
            mouseClick(findChild(row(1), "connectButton"));
            compare([requests.count, requests.signalArguments[0][0].name], [1, "Дом"]);
            compare([disconnects.count, disconnects.signalArguments[0][0].name], [1, "Офис"]);
        }

        function test_menuEntries_data() {
            return [
                { tag: "edit", entry: "editEntry", signal: "editRequested" },
                { tag: "information", entry: "viewEntry", signal: "viewRequested" },
                { tag: "delete", entry: "deleteEntry", signal: "deleteRequested" }
            ];
        }

        function test_menuEntries(data) {
            list.peers = [{ id: 1, name: "Дом" }, { id: 2, name: "Офис" }];
            const spy = createTemporaryObject(spyComponent, host, { target: list, signalName: data.signal });
            const gear = findChild(row(1), "menuButton");
            mouseClick(gear);
            const menu = findChild(gear, "menu");
            tryCompare(menu, "opened", true);
            mouseClick(findChild(menu, data.entry));
            tryCompare(menu, "visible", false);
            compare([spy.count, spy.signalArguments[0][0].name], [1, "Офис"]);
        }
    }

    Component { id: spyComponent; SignalSpy {} }
}
