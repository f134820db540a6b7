import QtQuick
import QtTest
import Qt.labs.settings
import App.Api
import App.Stores

// What the store suites share: each test starts with the vendor API running, an empty
// request log, nothing stored and the stores signed out; accounts are made on the
// server directly; the settings are read back as the next start would find them.
TestCase {
    property string root: ""
    property int accounts: 0
    readonly property string password: "correct horse battery"
    readonly property Settings storedAuth: Settings {
        category: "Auth"
    }
    readonly property Settings storedPeers: Settings {
        category: "Peers"
    }

    function init() {
        tryVerify(() => ApiClient.activeRequests === 0, 20000, "the previous test's requests ended");
        root = TestSupport.startVendorApi();
        verify(root !== "", "tarvex-vendor-api started");
        ApiClient.baseUrl = root + "/api/v1";
        TestSupport.clearSettings(["Auth", "Peers", "Vpn"]);
        AuthStore.bootstrap();
        AuthStore.clearStatus();
        PeerStore.clearState();
        if (VpnManager.reset)
            VpnManager.reset();
        TestSupport.clearRequestLog();
        initStoreTest();
    }

    // Each suite's own start of a test, after the shared one.
    function initStoreTest() {
    }

    // One request straight to the API, waited for: the result record.
    function request(method, path, payload, token) {
        const results = [];
        ApiClient.request(method, path, payload, { "token": token || "" }, result => results.push(result));
        tryVerify(() => results.length > 0, 10000);
        return results[0];
    }

    function newAccount() {
        accounts += 1;
        const account = { "name": "Анна", "email": "user" + accounts + "@example.com", "password": password };
        const reply = request("POST", "/auth/register", { "name": account.name, "email": account.email, "password": password, "password_confirmation": password, "agree_with_personal_agreement": true, "device_name": "test" });
        verify(reply.ok, reply.error);
        account.token = reply.data.token;
        return account;
    }

    function signIn(account, remember) {
        AuthStore.login(account.email, account.password, remember);
        tryVerify(() => !AuthStore.loading && AuthStore.isAuthenticated, 10000, "signed in");
        TestSupport.clearRequestLog();
    }

    // What the next start would read: [token, tokenType, userJson, remember].
    function storedSession() {
        return [storedAuth.value("token"), storedAuth.value("tokenType"), storedAuth.value("userJson"), storedAuth.value("remember")];
    }

    // The requests the server received since the log was last cleared, as "METHOD path".
    function received() {
        return TestSupport.requestLog().map(entry => entry.method + " " + entry.path);
    }

    // Answers every request, after a while, with this status and body.
    function slowServer(status, body) {
        return TestSupport.startStallingServer(700, status, JSON.stringify(body)) + "/api/v1";
    }
}
