import QtQuick
import QtTest
import App.Stores
import "qrc:/vpn-client"

// The split-tunnelling page driven by clicks and keys, with the scripted VpnManager:
// what a user can change in each VPN state, what happens to a stored type the platform
// cannot offer, and what the entry field keeps. Tables keep one row per line.
Item {
    id: host

    // tall enough for the whole page, so that every control can be clicked
    width: 430
    height: 1400

    Component {
        id: pageComponent

        SplitTunnelPage { anchors.fill: parent }
    }

    TestCase {
        name: "SplitTunnelPage"
        when: windowShown

        function init() {
            TestSupport.clearSettings(["SplitTunneling"]);
            SplitTunnelStore.load();
            VpnManager.reset();
            Platform.os = "osx";
        }

        function cleanupTestCase() {
            Platform.os = Qt.platform.os;
        }

        function typeText(text) {
            for (const character of text)
                keyClick(character);
        }

        function entryValues() {
            return SplitTunnelStore.entries.map(entry => entry.value);
        }

        // The state is set once the page is open: the lock follows the manager.
        // What a click on each control changes: mode row, delete button, entry field, checkbox.
        function test_whatCanBeChanged_data() {
            return [
                { tag: "disconnected, split on", state: 0, split: true, checkbox: true, controls: true },
                { tag: "error, split on", state: 4, split: true, checkbox: true, controls: true },
                { tag: "disconnected, split off", state: 0, split: false, checkbox: true, controls: false },
                { tag: "connecting", state: 1, split: true, checkbox: false, controls: false },
                { tag: "connected", state: 2, split: true, checkbox: false, controls: false },
                { tag: "disconnecting", state: 3, split: false, checkbox: false, controls: false }
            ];
        }

        function test_whatCanBeChanged(data) {
            SplitTunnelStore.setTunnelingEnabled(data.split);
            SplitTunnelStore.addEntry("example.com");
            const page = createTemporaryObject(pageComponent, host);
            VpnManager.setState(data.state);
            const locked = data.state === 1 || data.state === 2 || data.state === 3;
            compare(findChild(page, "lockedMessage").visible, locked);

            mouseClick(findChild(page, "modeAllExcept"));
            mouseClick(findChild(page, "removeButton"));
            mouseClick(findChild(page, "entryField"));
            typeText("example.org");
            keyClick(Qt.Key_Return);
            mouseClick(findChild(page, "enabledBox"), 12, 12);

            const changed = data.controls;
            compare([SplitTunnelStore.routeMode, entryValues(), SplitTunnelStore.tunnelingEnabled], [changed ? SplitTunnelStore.modeAllExceptSelected : SplitTunnelStore.modeOnlySelected, changed ? ["example.org"] : ["example.com"], data.checkbox ? !data.split : data.split]);
            compare(findChild(page, "enabledBox").checked, SplitTunnelStore.tunnelingEnabled);
        }

        // Only Android offers splitting by application; elsewhere a stored applications type
        // becomes the sites type as the page opens.
        function test_storedApplicationsType_data() {
            return [
                { tag: "macOS", os: "osx", type: 0, sitesCard: true },
                { tag: "Android", os: "android", type: 1, sitesCard: false }
            ];
        }

        function test_storedApplicationsType(data) {
            SplitTunnelStore.setSplitType(SplitTunnelStore.typeApplications);
            Platform.os = data.os;
            const page = createTemporaryObject(pageComponent, host);
            compare(SplitTunnelStore.splitType, data.type);
            compare([findChild(page, "sitesCard").visible, findChild(page, "applicationsCard").visible, findChild(page, "typeApplications").visible], [data.sitesCard, !data.sitesCard, !data.sitesCard]);
            compare(findChild(page, "sitesWarning").visible, data.sitesCard);
        }

        // An entry the store refuses stays in the field with the store's reason; editing it
        // clears the reason.
        function test_addingEntries_data() {
            return [
                { tag: "site by Return", input: "HTTPS://Example.COM/path", key: Qt.Key_Return, entries: ["example.com"], ip: "IP будет обновлен при подключении", error: "" },
                { tag: "subnet by the button", input: "10.1.0.0/16", entries: ["10.1.0.0/16"], ip: "10.1.0.0/16", error: "" },
                { tag: "invalid by Return", input: "localhost", key: Qt.Key_Return, entries: [], error: "Введите корректный сайт, IP или подсеть" },
                { tag: "duplicate by the button", input: "NEWS.example.org", listed: "news.example.org", entries: ["news.example.org"], ip: "IP будет обновлен при подключении", error: "Этот адрес уже добавлен" }
            ];
        }

        function test_addingEntries(data) {
            SplitTunnelStore.setTunnelingEnabled(true);
            if (data.listed)
                SplitTunnelStore.addEntry(data.listed);
            const page = createTemporaryObject(pageComponent, host);
            const field = findChild(page, "entryField");
            mouseClick(field);
            typeText(data.input);
            if (data.key)
                keyClick(data.key);
            else
                mouseClick(findChild(page, "addButton"));

            compare([entryValues(), SplitTunnelStore.error, findChild(page, "error").visible], [data.entries, data.error, data.error !== ""]);
            compare(field.text, data.error === "" ? "" : data.input);
            compare(findChild(page, "emptyEntries").visible, data.entries.length === 0);
            if (data.entries.length > 0)
                compare(findChild(page, "entryIp").text, data.ip);
            mouseClick(field);
            keyClick(Qt.Key_Backspace);
            compare(SplitTunnelStore.error, "");
        }
    }
}
