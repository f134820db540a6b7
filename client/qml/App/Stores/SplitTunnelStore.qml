pragma Singleton
import QtQml
import Qt.labs.settings

// The user's split-tunnelling choices, global rather than per peer: kept in the settings
// category "SplitTunneling" and written at every change. connectionConfig() is the
// "splitTunnel" map that PeerStore attaches to a peer when it connects; the daemon reads
// it then, so a change never touches a tunnel that is already up.
QtObject {
    id: store

    readonly property int modeAllSites: 0
    readonly property int modeOnlySelected: 1
    readonly property int modeAllExceptSelected: 2
    readonly property int typeSites: 0
    readonly property int typeApplications: 1

    property bool tunnelingEnabled: false
    property int splitType: typeSites
    property int routeMode: modeOnlySelected
    // { value, ip }: ip is the value itself when it is an IPv4 address or subnet, else "".
    property var entries: []
    // { name, packageName }, packageName unique.
    property var applications: []
    property string error: ""

    readonly property Settings settings: Settings {
        category: "SplitTunneling"
    }

    Component.onCompleted: load()

    function load() {
        tunnelingEnabled = storedBool(settings.value("tunnelingEnabled", false));
        const type = storedInt(settings.value("splitType", typeSites));
        splitType = type === typeSites || type === typeApplications ? type : typeSites;
        const mode = storedInt(settings.value("routeMode", modeOnlySelected));
        routeMode = isRouteMode(mode) ? mode : modeOnlySelected;
        entries = loadedEntries(storedList(settings.value("entriesJson", "[]")));
        applications = loadedApplications(storedList(settings.value("applicationsJson", "[]")));
        error = "";
    }

    function setTunnelingEnabled(value) {
        tunnelingEnabled = !!value;
        settings.setValue("tunnelingEnabled", tunnelingEnabled);
        error = "";
    }

    function setSplitType(value) {
        if (value !== typeSites && value !== typeApplications)
            return;
        splitType = value;
        settings.setValue("splitType", value);
        error = "";
    }

    function setRouteMode(value) {
        if (!isRouteMode(value))
            return;
        routeMode = value;
        settings.setValue("routeMode", value);
        error = "";
    }

    function addEntry(input) {
        error = "";
        const value = normalizeEntry(input);
        if (!validateEntry(value)) {
            error = qsTr("Введите корректный сайт, IP или подсеть");
            return false;
        }
        // Values are stored in lower case, so this also catches a change of case.
        if (entries.some(entry => entry.value === value)) {
            error = qsTr("Этот адрес уже добавлен");
            return false;
        }
        entries = entries.concat([{
                    "value": value,
                    "ip": isIpOrCidr(value) ? value : ""
                }]);
        settings.setValue("entriesJson", JSON.stringify(entries));
        return true;
    }

    // Twins left by an older list all go: the row the user deletes must not come back.
    function removeEntry(value) {
        error = "";
        entries = entries.filter(entry => entry.value !== value);
        settings.setValue("entriesJson", JSON.stringify(entries));
    }

    function setApplicationSelected(name, packageName, selected) {
        error = "";
        const identifier = text(packageName).trim();
        if (identifier === "")
            return;
        const listed = isApplicationSelected(identifier);
        if (selected && !listed) {
            applications = applications.concat([{
                        "name": text(name).trim() || identifier,
                        "packageName": identifier
                    }]);
        } else if (!selected && listed) {
            applications = applications.filter(application => application.packageName !== identifier);
        } else {
            return;
        }
        settings.setValue("applicationsJson", JSON.stringify(applications));
    }

    function isApplicationSelected(packageName) {
        const identifier = text(packageName).trim();
        return applications.some(application => application.packageName === identifier);
    }

    function connectionConfig() {
        return {
            "enabled": tunnelingEnabled,
            "type": splitType,
            "mode": routeMode,
            "entries": entries.map(entry => ({
                            "value": text(entry.value),
                            "ip": text(entry.ip)
                        })),
            "applications": applications.filter(application => text(application.packageName) !== "").map(application => ({
                            "name": text(application.name) || text(application.packageName),
                            "packageName": text(application.packageName)
                        }))
        };
    }

    function modeTitle(value) {
        const applicationsType = splitType === typeApplications;
        if (value === modeAllExceptSelected)
            return applicationsType ? qsTr("Все приложения через VPN, кроме выбранных") : qsTr("Все сайты через VPN, кроме списка");
        return applicationsType ? qsTr("Только выбранные приложения через VPN") : qsTr("Только выбранные сайты через VPN");
    }

    // What the user typed, possibly a whole URL, reduced to a host, address or IPv4 subnet
    // in lower case.
    function normalizeEntry(input) {
        let value = text(input).trim();
        value = value.replace(/^[A-Za-z][A-Za-z0-9+.-]*:\/\//, "");
        value = value.replace(/^\/+/, "");
        value = value.slice(value.lastIndexOf("@") + 1);
        // An IPv4 subnet keeps its prefix; any other path after the host goes.
        const subnet = /^\d{1,3}(\.\d{1,3}){3}\/\d{1,2}(?=$|[/?#])/.exec(value);
        value = subnet ? subnet[0] : value.split(/[/?#]/)[0];
        const closing = value.indexOf("]");
        if (value.startsWith("[") && closing > 0)
            value = value.slice(1, closing);
        else if (/^[^:]+:\d*$/.test(value))
            value = value.slice(0, value.indexOf(":"));
        return value.trim().toLowerCase();
    }

    function validateEntry(value) {
        const candidate = text(value);
        if (candidate === "" || /\s/.test(candidate))
            return false;
        if (isIpOrCidr(candidate))
            return true;
        // Digits, dots and slashes never name a host: this is a mistyped address, which
        // the daemon would look up in vain or read in an old shorthand (1.2.3 as 1.2.0.3).
        if (/^[0-9./]+$/.test(candidate))
            return false;
        return candidate.indexOf(".", 1) > 0;
    }

    // A group with a leading zero is refused: the system's parsers read 010 as octal 8.
    function isIpOrCidr(value) {
        const match = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})(?:\/(\d{1,2}))?$/.exec(text(value));
        if (!match)
            return false;
        const groupsValid = match.slice(1, 5).every(group => Number(group) <= 255 && !(group.length > 1 && group.startsWith("0")));
        return groupsValid && (match[5] === undefined || Number(match[5]) <= 32);
    }

    function isRouteMode(value) {
        return value === modeAllSites || value === modeOnlySelected || value === modeAllExceptSelected;
    }

    function text(value) {
        return value === undefined || value === null ? "" : String(value);
    }

    // Settings files without types (INI, as on Linux) give every value back as text, so a
    // stored bool or int may arrive as "false" or "2"; read them as QVariant would.
    function storedBool(value) {
        if (typeof value === "string")
            return !/^\s*(0|false)?\s*$/i.test(value);
        return typeof value === "boolean" || typeof value === "number" ? !!value : false;
    }

    function storedInt(value) {
        if (typeof value === "number")
            return Number.isInteger(value) ? value : NaN;
        if (typeof value === "string" && /^\s*[+-]?\d+\s*$/.test(value))
            return parseInt(value, 10);
        return NaN;
    }

    function storedList(value) {
        if (typeof value !== "string")
            return [];
        try {
            const parsed = JSON.parse(value);
            return Array.isArray(parsed) ? parsed : [];
        } catch (exception) {
            return [];
        }
    }

    // Elements are records or bare texts; invalid values go, duplicates stay.
    function loadedEntries(list) {
        const loaded = [];
        for (const element of list) {
            const record = element !== null && typeof element === "object";
            const value = normalizeEntry(record ? element.value : element);
            if (!validateEntry(value))
                continue;
            const ip = record ? text(element.ip).trim() : "";
            loaded.push({
                    "value": value,
                    "ip": isIpOrCidr(ip) ? ip : isIpOrCidr(value) ? value : ""
                });
        }
        return loaded;
    }

    function loadedApplications(list) {
        const loaded = [];
        for (const element of list) {
            if (element === null || typeof element !== "object")
                continue;
            const identifier = text(element.packageName).trim();
            if (identifier === "" || loaded.some(application => application.packageName === identifier))
                continue;
            loaded.push({
                    "name": text(element.name).trim() || identifier,
                    "packageName": identifier
                });
        }
        return loaded;
    }
}
