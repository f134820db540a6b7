import QtQuick
import QtTest
import Qt.labs.settings
import App.Stores

// SplitTunnelStore: what it keeps of what the user types, what it reads back from
// settings, and what the daemon makes of its connection map. Tables keep one row per
// line (qmlformat would spread each over several).
TestCase {
    Settings {
        id: stored
        category: "SplitTunneling"
    }

    // An invalid value reads back as undefined, as a missing key does.
    function init() {
        for (const key of ["tunnelingEnabled", "splitType", "routeMode", "entriesJson", "applicationsJson"])
            stored.setValue(key, undefined);
        SplitTunnelStore.load();
    }

    // ip: the stored "ip", or null when the entry is refused.
    function test_typedEntries_data() {
        return [
            { tag: "URL with scheme, user, upper case, port, path, query", input: " HTTPS://ann:pw@Example.COM:8443/a/b?x=1#top ", value: "example.com", ip: "" },
            { tag: "IPv4 with port", input: "1.2.3.4:8080", value: "1.2.3.4", ip: "1.2.3.4" },
            { tag: "IPv4 with a page path", input: "http://10.0.0.1/index.html", value: "10.0.0.1", ip: "10.0.0.1" },
            { tag: "subnet /0", input: "0.0.0.0/0", value: "0.0.0.0/0", ip: "0.0.0.0/0" },
            { tag: "subnet /32 in a URL", input: "http://192.0.2.7/32?x#y", value: "192.0.2.7/32", ip: "192.0.2.7/32" },
            { tag: "subnet /33", input: "10.0.0.0/33", value: "10.0.0.0/33", ip: null },
            { tag: "group above 255", input: "10.0.0.256", value: "10.0.0.256", ip: null },
            { tag: "three groups", input: "1.2.3", value: "1.2.3", ip: null },
            { tag: "leading zero", input: "010.0.0.1", value: "010.0.0.1", ip: null },
            { tag: "bracketed IPv6 with port", input: "[2001:DB8::1]:443", value: "2001:db8::1", ip: null },
            { tag: "bare IPv6", input: "2001:db8::1", value: "2001:db8::1", ip: null },
            { tag: "single word", input: "localhost", value: "localhost", ip: null },
            { tag: "leading dot", input: ".example", value: ".example", ip: null }
        ];
    }

    function test_typedEntries(data) {
        compare(SplitTunnelStore.normalizeEntry(data.input), data.value);
        const accepted = data.ip !== null;
        compare(SplitTunnelStore.addEntry(data.input), accepted);
        compare(SplitTunnelStore.error, accepted ? "" : "Введите корректный сайт, IP или подсеть");
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

    // Twins in the stored list all go with one removal; a duplicate differing in case is refused.
    function test_editingIsWrittenAtOnce() {
        stored.setValue("entriesJson", JSON.stringify(["b.example", "a.example", "b.example"]));
        SplitTunnelStore.load();
        SplitTunnelStore.setTunnelingEnabled(1);
        SplitTunnelStore.removeEntry("b.example");
        SplitTunnelStore.addEntry("10.0.0.0/8");
        verify(!SplitTunnelStore.addEntry("https://A.Example/other"));
        compare(SplitTunnelStore.error, "Этот адрес уже добавлен");
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

    // The real backend's reading of the map after its trip over the wire; a URL's host
    // is what gets looked up.
    function test_daemonReadsTheConnectionConfig_data() {
        const inputs = ["10.1.2.0/24", "HTTPS://User@Split-Site.Example:8443/a", "203.0.113.5"];
        return [
            { tag: "only selected", enabled: true, mode: 1, inputs: inputs, daemon: [true, 1], routes: ["10.1.2.0/24", "198.51.100.7", "2001:db8::7", "203.0.113.5"] },
            { tag: "all except selected, IPv4 only", enabled: true, mode: 2, inputs: inputs, daemon: [true, 2], routes: ["10.1.2.0/24", "198.51.100.7", "203.0.113.5"] },
            { tag: "all sites is off", enabled: true, mode: 0, inputs: ["10.1.2.0/24"], daemon: [false, 0] },
            { tag: "switched off", enabled: false, mode: 2, inputs: ["10.1.2.0/24"], daemon: [false, 2] }
        ];
    }

    function test_daemonReadsTheConnectionConfig(data) {
        SplitTunnelStore.setTunnelingEnabled(data.enabled);
        SplitTunnelStore.setRouteMode(data.mode);
        data.inputs.forEach(input => SplitTunnelStore.addEntry(input));
        const hosts = { "split-site.example": ["198.51.100.7", "2001:db8::7"] };
        const read = TestSupport.splitTunnelAsDaemonReads({ "splitTunnel": SplitTunnelStore.connectionConfig() }, hosts);
        compare([read.enabled, read.mode], data.daemon);
        compare(read.entries, SplitTunnelStore.entries);
        if (data.routes)
            compare(read.routes, data.routes);
    }
}
