import QtQuick
import QtTest
import App.Api
import App.Stores
import ".."

// AuthStore against the real tarvex-vendor-api: what reaches the server, what the
// session and the settings hold after each account operation, and replies that come
// back after their session has ended; and what both stores refuse without asking the
// server. Tables keep one row per line.
ClientTestCase {
    name: "AuthStore"

    SignalSpy { id: loginSpy; target: AuthStore; signalName: "loginSucceeded" }

    function initCase() {
        loginSpy.clear();
    }

    function test_localChecksSendNothing_data() {
        return [
            { tag: "login, e-mail of spaces", operation: "login", args: ["   ", "secret", true], error: "Введите email и пароль" },
            { tag: "register, agreement first", operation: "register", args: ["", "", "", "", false], error: "Необходимо принять оферту и соглашение" },
            { tag: "reset, token of spaces", operation: "resetPassword", args: ["a@example.com", " ", "p", "p"], error: "Введите email и токен сброса" },
            { tag: "profile, e-mail of spaces", operation: "updateProfile", args: ["Анна", " "], error: "Введите имя и email", answers: [false] },
            { tag: "delete, no password", operation: "deleteProfile", args: [""], error: "Введите текущий пароль", answers: [false] },
            { tag: "profile without a token", operation: "fetchProfile", args: [], error: "old error", answers: [false], keepsTexts: true },
            { tag: "peer, no country", store: PeerStore, operation: "createPeer", args: [null, "Дом"], error: "Выберите страну", answers: [false] },
            { tag: "peer, country of spaces", store: PeerStore, operation: "createPeer", args: [" ", "Дом"], error: "Выберите страну", answers: [false] },
            { tag: "peer, id 0, name of spaces", store: PeerStore, operation: "updatePeer", args: [0, "  "], error: "Введите название соединения", answers: [false] },
            { tag: "peer, no id", store: PeerStore, operation: "deletePeer", args: [undefined], error: "Не указан идентификатор соединения", answers: [false] },
            { tag: "peers signed out", store: PeerStore, operation: "fetchPeers", args: [], error: "Необходимо войти заново", answers: [false] }
        ];
    }

    // Either store's, refused before anything is sent: AuthStore's also clear its message.
    function test_localChecksSendNothing(data) {
        const store = data.store || AuthStore;
        store.error = "old error";
        AuthStore.message = "old message";
        const answers = [];
        store[data.operation].apply(store, data.args.concat([ok => answers.push(ok)]));
        compare([store.error, AuthStore.message, answers, ApiClient.activeRequests, PeerStore.loading], [data.error, data.keepsTexts || data.store ? "old message" : "", data.answers || [], 0, false]);
    }

    // Anything but false remembers, 0 too; the password reaches no setting either way.
    function test_signInRemember_data() {
        return [
            { tag: "not remembered", remember: false, stored: false },
            { tag: "flag 0", remember: 0, stored: true }
        ];
    }

    function test_signInRemember(data) {
        const account = newAccount();
        AuthStore.login(" " + account.email + " ", password, data.remember);
        tryVerify(() => loginSpy.count === 1, 10000);
        compare([JSON.parse(requestLog(1)[0].body).email, AuthStore.message], [account.email, "Авторизация успешна"]);
        const expected = data.stored ? [AuthStore.token, "Bearer", JSON.stringify(AuthStore.user), true] : ["", "Bearer", "{}", false];
        compare(storedSession(), expected);
        AuthStore.fetchProfile();
        tryVerify(() => !AuthStore.loading);
        compare(storedSession(), expected, "a profile refresh stores as the sign-in did");
        const file = TestSupport.settingsFileText();
        compare([file.indexOf(password), file.indexOf(AuthStore.token) >= 0], [-1, data.stored]);
    }

    function test_bootstrapFromTheSettings_data() {
        return [
            { tag: "remembered session", token: "valid", requests: ["GET /api/v1/profile"], signedIn: true, name: "Анна" },
            { tag: "revoked token", token: "revoked", requests: ["GET /api/v1/profile", "POST /api/v1/auth/logout"], signedIn: false },
            { tag: "corrupt user record, no token", user: "{oops", requests: [], signedIn: false }
        ];
    }

    function test_bootstrapFromTheSettings(data) {
        if (data.token) {
            const account = newAccount();
            if (data.token === "revoked")
                verify(request("POST", "/auth/logout", {}, account.token).ok);
            storedAuth.setValue("token", account.token);
            storedAuth.setValue("tokenType", "");
        }
        storedAuth.setValue("userJson", data.user || '{"name":"Старое имя"}');
        clearRequestLog();
        AuthStore.bootstrap();
        compare([AuthStore.tokenType, AuthStore.user.name], ["Bearer", data.token ? "Старое имя" : undefined]);
        tryVerify(() => ApiClient.activeRequests === 0 && received().length === data.requests.length, 10000);
        compare([received(), AuthStore.isAuthenticated, AuthStore.user.name], [data.requests, data.signedIn, data.name]);
        if (data.token === "revoked")
            compare([logouts.count, storedSession()], [1, ["", "Bearer", "{}", undefined]]);
    }

    // The sign-out is over for the interface at once, and the session is cleared even
    // when the server cannot be told. (The window's suite signs out with the server up.)
    function test_logoutWithTheServerDown() {
        signIn(newAccount(), true);
        TestSupport.stopVendorApi();
        AuthStore.logout();
        compare([logouts.count, AuthStore.isAuthenticated], [1, true]);
        tryVerify(() => !AuthStore.isAuthenticated, 10000);
        compare([AuthStore.message, storedSession()], ["Вы вышли из аккаунта", ["", "Bearer", "{}", true]]);
    }

    // A reply that outlives its session changes nothing: the profile of a signed-out
    // account is not written back, a 401 of the old token does not sign out the new.
    function test_repliesOfAnEndedSession_data() {
        return [
            { tag: "profile after logout", status: 200, body: { "data": { "name": "Поздний" } }, signInAgain: false },
            { tag: "401 after signing in again", status: 401, body: {}, signInAgain: true }
        ];
    }

    function test_repliesOfAnEndedSession(data) {
        const account = newAccount();
        signIn(account, true);
        ApiClient.baseUrl = slowServer(data.status, data.body);
        const answers = [];
        AuthStore.fetchProfile(ok => answers.push(ok));
        ApiClient.baseUrl = root + "/api/v1";
        AuthStore.logout();
        tryVerify(() => !AuthStore.isAuthenticated, 5000);
        if (data.signInAgain)
            signIn(account, true);
        const session = storedSession();
        tryVerify(() => answers.length === 1, 5000);
        compare([answers, storedSession(), AuthStore.isAuthenticated, AuthStore.user.name], [[false], session, data.signInAgain, data.signInAgain ? "Анна" : undefined]);
        compare(received().filter(line => line.endsWith("/auth/logout")).length, data.signInAgain ? 0 : 1);
    }

    // The last sign-in pressed wins, whatever order the replies come in.
    function test_overtakenSignInIsDropped() {
        const account = newAccount();
        ApiClient.baseUrl = slowServer(200, { "data": { "token": "overtaken", "user": { "name": "Поздний" } } });
        AuthStore.login(account.email, password, true);
        ApiClient.baseUrl = root + "/api/v1";
        AuthStore.login(account.email, password, false);
        tryVerify(() => ApiClient.activeRequests === 0, 5000);
        compare([loginSpy.count, AuthStore.user.name, storedSession()], [1, "Анна", ["", "Bearer", "{}", false]]);
    }
}
