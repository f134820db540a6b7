import QtQuick
import QtTest
import Qt.labs.settings
import App.Stores
import "qrc:/vpn-client"
import ".."

// SplitTunnelStore and its page: what the store keeps of what the user types, what it
// reads back from the settings and the connection map it hands on, and what the daemon's
// backend makes of that map; on the page, driven by clicks and keys with the scripted
// VpnManager, what a user can change in each VPN state and what the entry field keeps.
// Tables keep one row per line (qmlformat would spread each over several).
Item {
    id: host

    // tall enough for the whole page, so that every control can be clicked
    width: 430
    height: 1400

    Component { id: pageComponent; SplitTunnelPage { anchors.fill: parent } }
    Settings { id: stored; category: "SplitTunneling" }

    ClientTestCase {
        name: "SplitTunnel"

        // ip: the stored "ip", or null when the entry is refused.
        function test_typedEntries_data() {
            return [
                { tag: "URL with scheme, user, upper case, port, path, query", input: " HTTPS://ann:pw@Example.COM:8443/a/b?x=1#top ", value: "example.com", ip: "" },
                { tag: "IPv4 with port", input: "1.2.3.4:8080", value: "1.2.3.4", ip: "1.2.3.4" },
                { tag: "subnet /0", input: "0.0.0.0/0", value: "0.0.0.0/0", ip: "0.0.0.0/0" },
                { tag: "subnet /32 in a URL", input: "http://192.0.2.7/32?x#y", value: "192.0.2.7/32", ip: "192.0.2.7/32" },
                { tag: "subnet /33", input: "10.0.0.0/33", value: "10.0.0.0/33", ip: null },
                { tag: "group above 255", input: "10.0.0.256", value: "10.0.0.256", ip: null },
                { tag: "three groups", input: "1.2.3", value: "1.2.3", ip: null },
                { tag: "leading zero", input: "010.0.0.1", value: "010.0.0.1", ip: null },
                { tag: "bracketed IPv6 with port", input: "[2001:DB8::1]:443", value: "2001:db8::1", ip: null },
                { tag: "single word", input: "localhost", value: "localhost", ip: null },
                { tag: "leading dot", input: ".example", value: ".example", ip: null }
            ];
        }

        function test_typedEntries(data) {
            const accepted = data.ip !== null;
            compare([SplitTunnelStore.normalizeEntry(data.input), SplitTunnelStore.addEntry(data.input), SplitTunnelStore.error], [data.value, accepted, accepted ? "" : "Введите корректный сайт, IP или подсеть"]);
            compare(SplitTunnelStore.entries, accepted ? [{ "value": data.value, "ip": data.ip }] : []);
            const written = stored.value("entriesJson");
            compare(accepted ? JSON.parse(written) : written, accepted ? SplitTunnelStore.entries : undefined);
        }

        // Text values are what an INI file (Linux) gives back for every type.
        function test_loading_data() {
            return [
                { tag: "as an INI file returns them", stored: { tunnelingEnabled: "true", splitType: "1", routeMode: "2" }, expected: { tunnelingEnabled: true, splitType: 1, routeMode: 2 } },
                { tag: "false as text", stored: { tunnelingEnabled: "false", routeMode: "0" }, expected: { tunnelingEnabled: false, routeMode: 0 } },
                { tag: "mistyped type and mode", stored: { splitType: "one", routeMode: true }, expected: { splitType: 0, routeMode: 1 } },
                { tag: "out of range", stored: { splitType: 2, routeMode: 1.5 }, expected: { splitType: 0, routeMode: 1 } },
                { tag: "corrupt lists", stored: { entriesJson: "[{", applicationsJson: "{\"packageName\":\"a\"}" }, expected: { entries: [], applications: [] } },
                { tag: "entries as records and texts", stored: { entriesJson: JSON.stringify(["Example.COM", { value: "10.0.0.0/8", ip: "x" }, { value: "site.example", ip: " 203.0.113.5 " }, { value: "localhost" }, null, 42, "example.com"]) }, expected: { entries: [{ value: "example.com", ip: "" }, { value: "10.0.0.0/8", ip: "10.0.0.0/8" }, { value: "site.example", ip: "203.0.113.5" }, { value: "example.com", ip: "" }] } },
                { tag: "applications", stored: { applicationsJson: JSON.stringify([{ name: "", packageName: " com.a " }, { name: "B", packageName: "com.b" }, { name: "Again", packageName: "com.a" }, { packageName: "" }, "com.c"]) }, expected: { applications: [{ name: "com.a", packageName: "com.a" }, { name: "B", packageName: "com.b" }] } }
            ];
        }

        function test_loading(data) {
            for (const key in data.stored)
                stored.setValue(key, data.stored[key]);
            SplitTunnelStore.addEntry("");
            SplitTunnelStore.load();
            for (const key in data.expected)
                compare(SplitTunnelStore[key], data.expected[key], key);
            compare(SplitTunnelStore.error, "");
        }

        // Twins in the stored list all go with one removal; a duplicate differing in case is
        // refused.
        function test_editingIsWrittenAtOnce() {
            stored.setValue("entriesJson", JSON.stringify(["b.example", "a.example", "b.example"]));
            SplitTunnelStore.load();
            SplitTunnelStore.setTunnelingEnabled(1);
            SplitTunnelStore.removeEntry("b.example");
            SplitTunnelStore.addEntry("10.0.0.0/8");
            SplitTunnelStore.addEntry("https://A.Example/other");
            SplitTunnelStore.setApplicationSelected("", " com.a ", true);
            SplitTunnelStore.setApplicationSelected("B", "com.b", true);
            SplitTunnelStore.setApplicationSelected("B", "com.b ", false);
            SplitTunnelStore.setApplicationSelected("Blank", "  ", true);
            const entries = [{ "value": "a.example", "ip": "" }, { "value": "10.0.0.0/8", "ip": "10.0.0.0/8" }];
            const config = { "enabled": true, "type": 0, "mode": 1, "entries": entries, "applications": [{ "name": "com.a", "packageName": "com.a" }] };
            compare(SplitTunnelStore.connectionConfig(), config);
            verify(SplitTunnelStore.isApplicationSelected("com.a "));
            SplitTunnelStore.load();
            compare(SplitTunnelStore.connectionConfig(), config);
        }

        // The real backend's reading of the map after its trip over the wire: a subnet keeps
        // its prefix, a URL's host is what gets looked up, exclusions are IPv4 only.
        function test_daemonReadsTheConnectionConfig_data() {
            return [
                { tag: "only selected", mode: 1, routes: ["10.1.2.0/24", "198.51.100.7", "2001:db8::7", "203.0.113.5"] },
                { tag: "all except selected", mode: 2, routes: ["10.1.2.0/24", "198.51.100.7", "203.0.113.5"] }
            ];
        }

        function test_daemonReadsTheConnectionConfig(data) {
            SplitTunnelStore.setTunnelingEnabled(true);
            SplitTunnelStore.setRouteMode(data.mode);
            ["10.1.2.0/24", "HTTPS://User@Split-Site.Example:8443/a", "203.0.113.5"].forEach(input => SplitTunnelStore.addEntry(input));
            const hosts = { "split-site.example": ["198.51.100.7", "2001:db8::7"] };
            const read = TestSupport.splitTunnelAsDaemonReads({ "splitTunnel": SplitTunnelStore.connectionConfig() }, hosts);
            compare([read.enabled, read.mode, read.entries, read.routes], [true, data.mode, SplitTunnelStore.entries, data.routes]);
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

            mouseClick(findChild(page, "modeAllExcept"));
            mouseClick(findChild(page, "removeButton"));
            mouseClick(findChild(page, "entryField"));
            keys("example.org");
            keyClick(Qt.Key_Return);
            mouseClick(findChild(page, "enabledBox"), 12, 12);

            const changed = data.controls;
            compare([SplitTunnelStore.routeMode, SplitTunnelStore.entries.map(entry => entry.value), SplitTunnelStore.tunnelingEnabled], [changed ? SplitTunnelStore.modeAllExceptSelected : SplitTunnelStore.modeOnlySelected, changed ? ["example.org"] : ["example.com"], data.checkbox ? !data.split : data.split]);
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
            SplitTunnelStore.addEntry("refused at an earlier visit");
            const page = createTemporaryObject(pageComponent, host);
            verify(!findChild(page, "error").visible, "no refusal of an earlier visit");
            const field = findChild(page, "entryField");
            mouseClick(field);
            keys(data.input);
            if (data.key)
                keyClick(data.key);
            else
                mouseClick(findChild(page, "addButton"));

            compare([SplitTunnelStore.entries.map(entry => entry.value), SplitTunnelStore.error, findChild(page, "error").visible, field.text, findChild(page, "emptyEntries").visible], [data.entries, data.error, data.error !== "", data.error === "" ? "" : data.input, data.entries.length === 0]);
            if (data.entries.length > 0)
                compare(findChild(page, "entryIp").text, data.ip);
            mouseClick(field);
            keyClick(Qt.Key_Backspace);
            compare(SplitTunnelStore.error, "");
        }
    }
}
