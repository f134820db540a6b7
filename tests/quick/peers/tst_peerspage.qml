import QtQuick
import QtTest
import Qt.labs.settings
import App.Api
import App.Stores
import "qrc:/vpn-client"
import ".."

// The peer list page against the real vendor API: renaming and deleting through the
// row's menu and the popups, the disclosure before a connection, the information popup
// and the help links.
Item {
    id: host

    width: 430
    height: 780

    Component { id: pageComponent; PeersPage { anchors.fill: parent } }
    Settings { id: storedDisclosure; category: "VpnDisclosure" }

    ClientTestCase {
        name: "PeersPage"

        property var account: null
        property var page: null

        // A signed-in account with these peers on the server, and the page listing them.
        function openPage(names) {
            account = newAccount();
            signIn(account, true);
            const country = request("GET", "/countries", null, account.token).data[0].id;
            const peers = names.map(name => request("POST", "/peers", { country_id: country, name: name }, account.token).data);
            page = createTemporaryObject(pageComponent, host);
            until(() => !PeerStore.loading && findChild(page, "peerList").count === names.length, 10000);
            clearRequestLog();
            return peers;
        }

        function row(index) {
            const list = findChild(page, "peerList");
            until(() => list.itemAtIndex(index) !== null);
            return list.itemAtIndex(index);
        }

        function chooseFromMenu(entry) {
            const gear = findChild(row(0), "menuButton");
            mouseClick(gear);
            const menu = findChild(gear, "menu");
            tryCompare(menu, "opened", true);
            mouseClick(findChild(menu, entry));
        }

        // A refusal keeps the popup open with the store's reason; closing it forgets the
        // peer and the reason and shows the list as the server has it. A blank name is
        // refused by the popup itself.
        function test_renameAndDelete_data() {
            return [
                { tag: "renamed", entry: "editEntry", typed: "Office", sent: 1, error: "", name: "Office" },
                { tag: "blank name", entry: "editEntry", typed: "   ", sent: 0, error: "Введите название соединения", name: "Home" },
                { tag: "rename of a peer gone from the server", entry: "editEntry", typed: "Office", gone: true, sent: 1, error: "Соединение не найдено" },
                { tag: "deleted", entry: "deleteEntry", sent: 1, error: "" },
                { tag: "delete of a peer gone from the server", entry: "deleteEntry", gone: true, sent: 1, error: "Соединение не найдено" },
                { tag: "delete closed, then confirmed", entry: "deleteEntry", closeFirst: true, sent: 0, error: "", name: "Home" }
            ];
        }

        function test_renameAndDelete(data) {
            const peer = openPage(["Home"])[0];
            if (data.gone)
                request("DELETE", "/peers/" + peer.id, null, account.token);
            clearRequestLog();
            chooseFromMenu(data.entry);
            const popup = findChild(page, data.entry === "editEntry" ? "editPopup" : "deletePopup");
            tryCompare(popup, "opened", true);
            if (data.typed !== undefined) {
                compare(findChild(popup, "nameField").text, "Home");
                keyClick(Qt.Key_A, Qt.ControlModifier);
                keys(data.typed);
                keyClick(Qt.Key_Return);
            } else {
                compare(findChild(popup, "message").text, "Удалить \"Home\"?");
                if (data.closeFirst) {
                    keyClick(Qt.Key_Escape);
                    tryCompare(popup, "opened", false);
                    popup.confirmed();
                } else {
                    mouseClick(findChild(popup, "confirmButton"));
                }
            }
            // what was sent besides the list's reloads
            until(() => !PeerStore.loading && received().filter(line => !line.startsWith("GET")).length === data.sent, 10000);
            const refused = data.error !== "";
            tryCompare(popup, "opened", refused);
            compare(popup.errorText, data.error);
            if (refused) {
                keyClick(Qt.Key_Escape);
                tryCompare(popup, "opened", false);
                compare([popup.errorText, popup.peer || null], ["", null]);
            }
            const name = data.name || "";
            until(() => !PeerStore.loading && ApiClient.activeRequests === 0);
            compare(findChild(page, "status").text, name === "" ? "Соединений пока нет" : "");
            if (name !== "")
                compare(findChild(row(0), "name").text, name);
        }

        // Only Android asks, and only until the user has accepted once; only the
        // buttons answer. The connected row (the rule is PeerStore's, its suite has the
        // table) offers no settings menu, and its button disconnects.
        function test_connectAndDisclosure_data() {
            return [
                { tag: "macOS", os: "osx", asked: false, connects: 1 },
                { tag: "Android, accepted", os: "android", asked: true, answer: "acceptButton", connects: 1 },
                { tag: "Android, cancelled", os: "android", asked: true, answer: "cancelButton", connects: 0 },
                { tag: "Android, accepted before", os: "android", stored: "true", asked: false, connects: 1 }
            ];
        }

        function test_connectAndDisclosure(data) {
            const peer = openPage(["Home"])[0];
            Platform.os = data.os;
            if (data.stored)
                storedDisclosure.setValue("accepted", data.stored);
            const connects = () => VpnManager.calls.filter(call => call.method === "connectPeer");
            const popup = findChild(page, "disclosurePopup");
            mouseClick(findChild(row(0), "connectButton"));
            if (data.asked) {
                tryCompare(popup, "opened", true);
                keyClick(Qt.Key_Escape);
                mouseClick(host, 5, 5);
                verify(popup.visible, "only the buttons close it");
                compare(connects(), []);
                mouseClick(findChild(popup, data.answer));
                tryCompare(popup, "visible", false);
            }
            compare([popup.visible, connects().length, page.pendingPeer], [false, data.connects, null]);
            if (!data.connects)
                return;
            compare(connects()[0].peer.name, "Home");
            VpnManager.setState(2, peer);
            compare([findChild(row(0), "connectButton").text, findChild(row(0), "menuButton").visible], ["Отключиться", false]);
            mouseClick(findChild(row(0), "connectButton"));
            compare(VpnManager.calls[VpnManager.calls.length - 1].method, "disconnectVpn");
            VpnManager.setState(0);
            mouseClick(findChild(row(0), "connectButton"));
            compare([connects().length, popup.visible, String(storedDisclosure.value("accepted")) === "true"], [2, false, data.os === "android"]);
        }

        // The peer as the server has it, its configuration as it is.
        function test_informationAndHelpLinks() {
            const peer = openPage(["Home"])[0];
            chooseFromMenu("viewEntry");
            const popup = findChild(page, "infoPopup");
            tryCompare(popup, "opened", true);
            compare(["name", "protocol", "config"].map(name => findChild(popup, name).text), ["Home", peer.protocol, peer.config]);
            keyClick(Qt.Key_Escape);
            mouseClick(findChild(page, "tipsLink"));
            mouseClick(findChild(page, "newsLink"));
            compare(TestSupport.openedUrls, [Themes.websiteUrl + "/tips-and-instructions", Themes.websiteUrl + "/news-and-support"]);
        }
    }
}
