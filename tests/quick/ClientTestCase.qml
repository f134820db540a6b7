import QtQuick
import QtTest
import Qt.labs.settings
import App.Api
import App.Stores
import "qrc:/vpn-client"

// What every suite against the local vendor API shares. Each test starts with the API
// running, nothing stored, the stores signed out and the scripted VpnManager idle; with
// `withWindow`, the real window, Main, is opened too and worked as a person would:
// clicks on what is shown, keys into the focused field.
TestCase {
    id: testCase

    property bool withWindow: false
    property var window: null
    property string root: ""
    property int accounts: 0
    readonly property string password: "correct horse battery"
    readonly property Settings storedAuth: Settings { category: "Auth" }
    readonly property Settings storedPeers: Settings { category: "Peers" }
    // The sessions ended since the test began.
    readonly property SignalSpy logouts: SignalSpy { target: AuthStore; signalName: "logoutFinished" }

    when: windowShown

    Component { id: mainComponent; Main {} }

    function init() {
        until(() => ApiClient.activeRequests === 0, 20000, "the previous test's requests ended");
        root = TestSupport.startVendorApi();
        verify(root !== "", "tarvex-vendor-api started");
        ApiClient.baseUrl = root + "/api/v1";
        TestSupport.clearSettings(["Auth", "Peers", "Vpn", "VpnDisclosure", "SplitTunneling"]);
        TestSupport.clearOpenedUrls();
        AuthStore.bootstrap();
        AuthStore.clearStatus();
        AuthStore.loading = false;
        PeerStore.clearState();
        SplitTunnelStore.load();
        VpnManager.reset();
        Platform.os = "osx";
        if (withWindow)
            openWindow();
        clearRequestLog();
        logouts.clear();
        initCase();
    }

    function openWindow() {
        window = createTemporaryObject(mainComponent, testCase);
        until(() => window.active, 5000, "the window is active");
    }

    // Each suite's own start of a test, after the shared one.
    function initCase() {
    }

    // tryVerify looks every 50 ms; the local API answers within a few, and the helpers
    // below wait for it many times in every test.
    function until(condition, timeout, message) {
        const end = Date.now() + (timeout || 10000);
        while (!condition() && Date.now() < end)
            wait(5);
        verify(condition(), message);
    }

    // One request straight to the API, waited for: the result record.
    function request(method, path, payload, token) {
        const results = [];
        ApiClient.request(method, path, payload, { "token": token || "" }, result => results.push(result));
        until(() => results.length > 0);
        return results[0];
    }

    // An account made on the server, its e-mail confirmed unless asked otherwise.
    function newAccount(unverified) {
        accounts += 1;
        const account = { "name": "Анна", "email": `user${accounts}@example.com`, "password": password };
        const reply = request("POST", "/auth/register", { "name": account.name, "email": account.email, "password": password, "password_confirmation": password, "agree_with_personal_agreement": true, "device_name": "test" });
        verify(reply.ok, reply.error);
        account.token = reply.data.token;
        if (!unverified)
            verify(request("POST", "/auth/email/verify", { "code": outbox(account.email)[0].code }, account.token).ok);
        clearRequestLog();
        return account;
    }

    // Signed in through the store, as the sign-in form would.
    function signIn(account, remember) {
        AuthStore.login(account.email, account.password, remember !== false);
        until(() => !AuthStore.loading && AuthStore.isAuthenticated, 10000, "signed in");
        clearRequestLog();
    }

    // One of the vendor API's development endpoints, read straight rather than through
    // the ApiClient under test: the reply's data. (qmllint 6.4 does not know the
    // XMLHttpRequest constructor outside a module.)
    function dev(method, path) {
        const xhr = new XMLHttpRequest(); // qmllint disable unqualified
        xhr.open(method, root + path);
        xhr.send();
        until(() => xhr.readyState === XMLHttpRequest.DONE, 10000, `${method} ${path} answered`);
        return xhr.status === 200 ? JSON.parse(xhr.responseText).data : [];
    }

    // The last `limit` (or all) requests the server received under /api/v1 since the log
    // was cleared, oldest first: method, path, query, headers (names in lower case), body.
    function requestLog(limit) {
        return dev("GET", "/dev/requests" + (limit ? `?limit=${limit}` : ""));
    }

    function clearRequestLog() {
        dev("DELETE", "/dev/requests");
    }

    // What the server "mailed" to one address, oldest first ("kind", "code" or "token").
    function outbox(email) {
        return dev("GET", "/dev/outbox?email=" + encodeURIComponent(email));
    }

    // The requests the server received since the log was last cleared, as "METHOD path".
    function received() {
        return requestLog().map(entry => entry.method + " " + entry.path);
    }

    // What the next start would read: [token, tokenType, userJson, remember].
    function storedSession() {
        return [storedAuth.value("token"), storedAuth.value("tokenType"), storedAuth.value("userJson"), storedAuth.value("remember")];
    }

    // Every request answered at once with this status and body, from the server's /dev/reply.
    function replyWith(status, body) {
        ApiClient.baseUrl = `${root}/dev/reply?status=${status}&body=${encodeURIComponent(JSON.stringify(body))}&path=`;
    }

    // Answers every request, after a while, with this status and body.
    function slowServer(status, body) {
        return TestSupport.startStallingServer(300, status, JSON.stringify(body)) + "/api/v1";
    }

    // The window's visible page, or the frame of the signed-in pages.
    function shown() {
        return window.showsAppPages ? findChild(window.contentItem, "authLayout") : findChild(window.contentItem, "content").item;
    }

    function shownPage() {
        return window.showsAppPages ? findChild(window.contentItem, "appContent").item.objectName : shown().objectName;
    }

    function item(name) {
        const found = findChild(shown(), name);
        verify(found, `${name} is shown`);
        return found;
    }

    function click(name) {
        mouseClick(item(name));
    }

    // A click on the box itself, not on the text beside it, which may hold links.
    function tick(name) {
        mouseClick(findChild(item(name), "box"));
    }

    // Typed at the end of what the field holds.
    function type(name, text) {
        const field = item(name);
        mouseClick(findChild(field, "box"));
        until(() => findChild(field, "input").activeFocus, 1000, `${name} has the focus`);
        keyClick(Qt.Key_End);
        keys(text);
    }

    // Each character as a key press, into whatever has the focus.
    function keys(text) {
        for (const character of text)
            keyClick(character);
    }

    // Until the page's requests have ended: while a page loads, the busy overlay takes
    // every click.
    function settle() {
        until(() => !window.globalLoading && ApiClient.activeRequests === 0, 10000, "the page has loaded");
    }

    function waitForPage(name) {
        until(() => shownPage() === name, 10000, `${name} opens, ${shownPage()} is shown`);
        settle();
    }

    // Signed in through the form, as a person does.
    function signInByHand(email, secret) {
        type("emailField", email);
        type("passwordField", secret || password);
        click("submitButton");
        until(() => AuthStore.isAuthenticated && !AuthStore.loading, 10000, "signed in");
    }
}
