import QtQuick
import QtTest
import App.Api
import App.Stores

// AuthStore against the real tarvex-vendor-api: what reaches the server, what the
// session and the settings hold after each account operation, and replies that come
// back after their session has ended. Tables keep one row per line.
StoreTestCase {
    name: "AuthStore"

    SignalSpy { id: loginSpy; target: AuthStore; signalName: "loginSucceeded" }
    SignalSpy { id: logoutSpy; target: AuthStore; signalName: "logoutFinished" }
    SignalSpy { id: verifiedSpy; target: AuthStore; signalName: "emailVerificationFinished" }

    function initStoreTest() {
        loginSpy.clear();
        logoutSpy.clear();
    }

    function test_localChecksSendNothing_data() {
        return [
            { tag: "login, e-mail of spaces", operation: "login", args: ["   ", "secret", true], error: "Введите email и пароль" },
            { tag: "register, agreement first", operation: "register", args: ["", "", "", "", false], error: "Необходимо принять оферту и соглашение" },
            { tag: "reset, token of spaces", operation: "resetPassword", args: ["a@example.com", " ", "p", "p"], error: "Введите email и токен сброса" },
            { tag: "profile, e-mail of spaces", operation: "updateProfile", args: ["Анна", " "], error: "Введите имя и email", answers: [false] },
            { tag: "delete, no password", operation: "deleteProfile", args: [""], error: "Введите текущий пароль", answers: [false] },
            { tag: "profile without a token", operation: "fetchProfile", args: [], error: "old error", answers: [false], keepsTexts: true }
        ];
    }

    function test_localChecksSendNothing(data) {
        AuthStore.error = "old error";
        AuthStore.message = "old message";
        const answers = [];
        AuthStore[data.operation].apply(AuthStore, data.args.concat([ok => answers.push(ok)]));
        compare([AuthStore.error, AuthStore.message, answers], [data.error, data.keepsTexts ? "old message" : "", data.answers || []]);
        wait(50);
        compare(received(), []);
    }

    function test_registerThenVerifyTheEmail() {
        AuthStore.register(" Мария ", " maria@example.com ", password, password, true);
        tryVerify(() => loginSpy.count === 1, 10000);
        compare(JSON.parse(TestSupport.requestLog(1)[0].body), { "name": "Мария", "email": "maria@example.com", "password": password, "password_confirmation": password, "agree_with_personal_agreement": true, "device_name": "vpn-client" });
        verify(AuthStore.needsEmailVerification);
        compare(storedSession()[0], AuthStore.token, "a registration is remembered");
        AuthStore.verifyEmailCode(" " + TestSupport.outbox("maria@example.com")[0].code + " ");
        tryVerify(() => verifiedSpy.count === 1, 10000);
        compare([AuthStore.message, AuthStore.isEmailVerified, AuthStore.needsEmailVerification], ["Email подтвержден", true, false]);
        verify(JSON.parse(storedSession()[2]).email_verified_at, "the verified record is stored");
    }

    // Anything but false remembers; the password reaches no setting either way.
    function test_signInRemember_data() {
        return [
            { tag: "remembered", remember: true, stored: true },
            { tag: "not remembered", remember: false, stored: false },
            { tag: "flag 0", remember: 0, stored: true }
        ];
    }

    function test_signInRemember(data) {
        const account = newAccount();
        AuthStore.login(" " + account.email + " ", password, data.remember);
        tryVerify(() => loginSpy.count === 1, 10000);
        compare([JSON.parse(TestSupport.requestLog(1)[0].body).email, AuthStore.message], [account.email, "Авторизация успешна"]);
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
        TestSupport.clearRequestLog();
        AuthStore.bootstrap();
        compare([AuthStore.tokenType, AuthStore.user.name], ["Bearer", data.token ? "Старое имя" : undefined]);
        tryVerify(() => ApiClient.activeRequests === 0 && received().length === data.requests.length, 10000);
        compare([received(), AuthStore.isAuthenticated, AuthStore.user.name], [data.requests, data.signedIn, data.name]);
        if (data.token === "revoked")
            compare([logoutSpy.count, storedSession()], [1, ["", "Bearer", "{}", undefined]]);
    }

    function test_logoutFinishesAtOnceAndClearsOnReply_data() {
        return [
            { tag: "server up", serverUp: true },
            { tag: "server down", serverUp: false }
        ];
    }

    function test_logoutFinishesAtOnceAndClearsOnReply(data) {
        signIn(newAccount(), true);
        const token = AuthStore.token;
        if (!data.serverUp)
            TestSupport.stopVendorApi();
        AuthStore.logout();
        compare([logoutSpy.count, AuthStore.isAuthenticated], [1, true]);
        tryVerify(() => !AuthStore.isAuthenticated, 10000);
        compare([AuthStore.message, storedSession()], ["Вы вышли из аккаунта", ["", "Bearer", "{}", true]]);
        if (data.serverUp)
            compare(request("GET", "/profile", null, token).status, 401, "the token is revoked");
    }

    // One flag: the first reply clears it while the other request still runs.
    function test_loadingIsOneFlag() {
        signIn(newAccount(), true);
        ApiClient.baseUrl = slowServer(200, {});
        AuthStore.fetchProfile();
        ApiClient.baseUrl = root + "/api/v1";
        AuthStore.requestPasswordReset("nobody@example.com");
        tryVerify(() => !AuthStore.loading, 5000);
        compare(ApiClient.activeRequests, 1);
    }

    function test_deleteProfile_data() {
        return [
            { tag: "wrong password", password: "wrong password!", answer: [false, 422], texts: ["Неверный пароль", ""] },
            { tag: "right password", password: "correct horse battery", answer: [true, 200], texts: ["", "Профиль удален"] }
        ];
    }

    function test_deleteProfile(data) {
        const account = newAccount();
        signIn(account, true);
        const answers = [];
        AuthStore.deleteProfile(data.password, (ok, json, status) => answers.push([ok, status]));
        tryVerify(() => answers.length === 1, 10000);
        const sent = TestSupport.requestLog(1)[0];
        compare([sent.method, sent.path, sent.headers["x-http-method-override"], sent.body], ["POST", "/api/v1/profile", "DELETE", JSON.stringify({ "password": data.password })]);
        compare([answers[0], [AuthStore.error, AuthStore.message], logoutSpy.count, storedSession()[0]], [data.answer, data.texts, data.answer[0] ? 1 : 0, AuthStore.token]);
        compare(request("POST", "/auth/login", { "email": account.email, "password": password }).ok, !data.answer[0], "the account exists");
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
        wait(50);
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
