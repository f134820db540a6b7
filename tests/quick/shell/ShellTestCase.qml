import QtQuick
import QtTest
import Qt.labs.settings
import App.Api
import App.Stores
import "qrc:/vpn-client"

// What the shell and form suites share: each test opens the real window, Main, from
// empty settings, against the running local vendor API and the scripted VpnManager, and
// acts on it as a person would: clicks on what is shown, keys into the focused field.
TestCase {
    id: testCase

    property var window: null
    property int accounts: 0
    readonly property string password: "correct horse battery"
    readonly property Settings storedAuth: Settings {
        category: "Auth"
    }

    when: windowShown

    Component {
        id: mainComponent

        Main {}
    }

    function init() {
        tryVerify(() => ApiClient.activeRequests === 0, 20000, "the previous test's requests ended");
        const root = TestSupport.startVendorApi();
        verify(root !== "", "tarvex-vendor-api started");
        ApiClient.baseUrl = root + "/api/v1";
        TestSupport.clearSettings(["Auth", "Peers", "Vpn"]);
        TestSupport.clearOpenedUrls();
        VpnManager.reset();
        Platform.os = "linux";
        PeerStore.clearState();
        AuthStore.loading = false;
        window = createTemporaryObject(mainComponent, testCase);
        tryVerify(() => window.active, 5000, "the window is active");
        TestSupport.clearRequestLog();
    }

    // The visible page, or the frame of the signed-in pages.
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
        tryVerify(() => findChild(field, "input").activeFocus, 1000, `${name} has the focus`);
        keyClick(Qt.Key_End);
        for (const character of text)
            keyClick(character);
    }

    // Until the page's own requests have ended and the busy overlay is gone.
    function settle() {
        tryVerify(() => !window.globalLoading && ApiClient.activeRequests === 0, 10000, "the page has loaded");
    }

    // Until the page is shown and has loaded: while a page loads, the busy overlay takes
    // every click.
    function waitForPage(name) {
        tryVerify(() => !AuthStore.loading && shownPage() === name, 10000, `${name} opens, ${shownPage()} is shown`);
        settle();
    }

    function signIn(email, secret) {
        type("emailField", email);
        type("passwordField", secret || password);
        click("submitButton");
        tryVerify(() => AuthStore.isAuthenticated && !AuthStore.loading, 10000, "signed in");
    }

    // One request straight to the API, waited for: the result record.
    function request(method, path, payload, token) {
        const results = [];
        ApiClient.request(method, path, payload, { "token": token || "" }, result => results.push(result));
        tryVerify(() => results.length > 0, 10000);
        verify(results[0].ok, results[0].error);
        return results[0];
    }

    // An account made on the server, its e-mail confirmed unless asked otherwise.
    function newAccount(unverified) {
        accounts += 1;
        const account = { "name": "Anna", "email": `user${accounts}@example.com` };
        const reply = request("POST", "/auth/register", { "name": account.name, "email": account.email, "password": password, "password_confirmation": password, "agree_with_personal_agreement": true, "device_name": "test" });
        account.token = reply.data.token;
        if (!unverified)
            request("POST", "/auth/email/verify", { "code": TestSupport.outbox(account.email)[0].code }, account.token);
        TestSupport.clearRequestLog();
        return account;
    }

    // The requests the server received since the log was last cleared, as "METHOD path".
    function received() {
        return TestSupport.requestLog().map(entry => entry.method + " " + entry.path);
    }
}
