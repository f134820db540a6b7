import QtQuick
import QtTest
import Qt.labs.settings
import App.Stores
import "qrc:/vpn-client"
import "../stores"

// The peer list page against the real vendor API: renaming and deleting through the
// row's menu and the popups, the disclosure before a connection, the help links; and
// the information popup on its own.
Item {
    id: host

    width: 430
    height: 780

    Component {
        id: pageComponent

        PeersPage { anchors.fill: parent }
    }

    Component {
        id: infoComponent

        PeerPopup {}
    }

    TextInput { id: pasteTarget }

    Settings { id: storedDisclosure; category: "VpnDisclosure" }

    StoreTestCase {
        name: "PeersPage"
        when: windowShown

        property var account: null
        property var page: null

        function initStoreTest() {
            TestSupport.clearSettings(["VpnDisclosure"]);
            TestSupport.clearOpenedUrls();
            Platform.os = "osx";
        }

        // A signed-in account with these peers on the server, and the page listing them.
        function openPage(names) {
            account = newAccount();
            signIn(account, true);
            const country = request("GET", "/countries", null, account.token).data[0].id;
            const peers = names.map(name => request("POST", "/peers", { country_id: country, name: name }, account.token).data);
            page = createTemporaryObject(pageComponent, host);
            tryVerify(() => !PeerStore.loading && findChild(page, "peerList").count === names.length, 10000);
            TestSupport.clearRequestLog();
            return peers;
        }

        function deleteOnServer(peer) {
            request("DELETE", "/peers/" + peer.id, null, account.token);
            TestSupport.clearRequestLog();
        }

        function row(index) {
            const list = findChild(page, "peerList");
            tryVerify(() => list.itemAtIndex(index) !== null);
            return list.itemAtIndex(index);
        }

        function chooseFromMenu(index, entry) {
            const gear = findChild(row(index), "menuButton");
            mouseClick(gear);
            const menu = findChild(gear, "menu");
            tryCompare(menu, "opened", true);
            mouseClick(findChild(menu, entry));
        }

        function openedPopup(name) {
            const popup = findChild(page, name);
            tryCompare(popup, "opened", true);
            return popup;
        }

        // What was sent besides the list's reloads.
        function changes() {
            return received().filter(line => !line.startsWith("GET"));
        }

        function test_rename_data() {
            return [
                { tag: "renamed", typed: "Office", sent: 1, open: false, error: "", name: "Office" },
                { tag: "blank", typed: "   ", sent: 0, open: true, error: "Введите название соединения", name: "Home" },
                { tag: "gone from the server", typed: "Office", gone: true, sent: 1, open: true, error: "Соединение не найдено", name: "Home" }
            ];
        }

        function test_rename(data) {
            const peer = openPage(["Home"])[0];
            if (data.gone)
                deleteOnServer(peer);
            chooseFromMenu(0, "editEntry");
            const popup = openedPopup("editPopup");
            const field = findChild(popup, "nameField");
            compare(field.text, "Home");
            keyClick(Qt.Key_A, Qt.ControlModifier);
            for (const character of data.typed)
                keyClick(character);
            keyClick(Qt.Key_Return);
            tryVerify(() => !PeerStore.loading && changes().length === data.sent, 10000);
            tryCompare(popup, "opened", data.open);
            compare([popup.errorText, findChild(row(0), "name").text], [data.error, data.name]);
            if (!data.open)
                return;
            // Closing forgets the peer and the failure.
            keyClick(Qt.Key_Escape);
            tryCompare(popup, "opened", false);
            compare([popup.peer, popup.errorText], [null, ""]);
        }

        function test_delete_data() {
            return [
                { tag: "deleted", sent: 1, open: false, error: "", status: "Соединений пока нет" },
                { tag: "gone from the server", gone: true, sent: 1, open: true, error: "Соединение не найдено", status: "Соединение не найдено" },
                { tag: "closed, then confirmed", closeFirst: true, sent: 0, open: false, error: "", status: "" }
            ];
        }

        function test_delete(data) {
            const peer = openPage(["Home"])[0];
            if (data.gone)
                deleteOnServer(peer);
            chooseFromMenu(0, "deleteEntry");
            const popup = openedPopup("deletePopup");
            compare(findChild(popup, "message").text, "Удалить \"Home\"?");
            if (data.closeFirst) {
                keyClick(Qt.Key_Escape);
                tryCompare(popup, "opened", false);
                popup.confirmed();
            } else {
                mouseClick(findChild(popup, "confirmButton"));
            }
            tryVerify(() => !PeerStore.loading && changes().length === data.sent, 10000);
            tryCompare(popup, "opened", data.open);
            compare(popup.errorText, data.error);
            tryCompare(findChild(page, "status"), "text", data.status);
        }

        // Only Android asks, and only until the user has accepted once; only the
        // buttons answer.
        function test_disclosure_data() {
            return [
                { tag: "macOS", os: "osx", asked: false, connects: 1 },
                { tag: "Android, accepted", os: "android", asked: true, answer: "acceptButton", connects: 1 },
                { tag: "Android, cancelled", os: "android", asked: true, answer: "cancelButton", connects: 0 },
                { tag: "Android, accepted before", os: "android", stored: "true", asked: false, connects: 1 }
            ];
        }

        function test_disclosure(data) {
            openPage(["Home"]);
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
            verify(!popup.visible);
            compare([connects().length, page.pendingPeer], [data.connects, null]);
            if (data.connects)
                compare(connects()[0].peer.name, "Home");
            if (data.answer !== "acceptButton")
                return;
            compare(storedDisclosure.value("accepted"), true);
            mouseClick(findChild(row(0), "connectButton"));
            compare([connects().length, popup.visible], [2, false]);
        }

        function test_helpLinks() {
            openPage([]);
            mouseClick(findChild(page, "tipsLink"));
            mouseClick(findChild(page, "newsLink"));
            compare(TestSupport.openedUrls, [Themes.websiteUrl + "/tips-and-instructions", Themes.websiteUrl + "/news-and-support"]);
        }
    }

    TestCase {
        name: "PeerPopup"
        when: windowShown

        function test_information_data() {
            return [
                { tag: "text", peer: { id: 5, name: "Дом", protocol: "amnezia-v1", config: "vpn://abc" }, shown: ["Дом", "amnezia-v1", true, "vpn://abc"] },
                { tag: "object", peer: { id: "", name: "", config: { b: 1, a: [2] } }, shown: ["Не указано", "Не указано", false, "{\n  \"b\": 1,\n  \"a\": [\n    2\n  ]\n}"] },
                { tag: "none, id 0", peer: { id: 0, config: null }, shown: ["Не указано", "Не указано", true, ""] }
            ];
        }

        function test_information(data) {
            const popup = createTemporaryObject(infoComponent, host, { hostWidth: host.width, hostHeight: host.height });
            popup.openForPeer(data.peer);
            tryCompare(popup, "opened", true);
            const config = findChild(popup, "config");
            compare([findChild(popup, "name").text, findChild(popup, "protocol").text, findChild(popup, "id").visible, config.text], data.shown);
            const copy = findChild(popup, "copyButton");
            compare(copy.enabled, data.shown[3] !== "");
            // What the copy puts on the clipboard is what a paste brings back.
            pasteTarget.text = "before";
            pasteTarget.selectAll();
            pasteTarget.copy();
            mouseClick(copy);
            pasteTarget.selectAll();
            pasteTarget.paste();
            compare([pasteTarget.text, config.selectedText], [data.shown[3] || "before", ""]);
            keyClick(Qt.Key_Escape);
            tryCompare(popup, "opened", false);
            compare(popup.peer, null);
        }
    }
}
