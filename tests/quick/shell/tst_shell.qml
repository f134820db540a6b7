import QtQuick
import QtTest
import App.Stores
import "qrc:/vpn-client"
import ".."

// Main, the window: which page it shows for each account state, the navigation, signing
// out and resetting the password, and the busy overlay.
ClientTestCase {
    withWindow: true
    name: "Shell"

    readonly property var verified: ({ "name": "Анна", "email": "anna@example.com", "email_verified_at": "2024-05-01T10:00:00Z" })
    readonly property var navigation: ["peers", "addPeer", "splitTunnel", "balance", "profile"]

    // Signed in with the token of a new account, whose record is replaced by this one;
    // once the page has loaded.
    function enter(user, appPage) {
        window.appPage = appPage || "peers";
        AuthStore.user = user;
        AuthStore.token = newAccount().token;
        settle();
    }

    function test_pageForAccountState_data() {
        return [
            { tag: "signed out, unknown form", guestPage: "elsewhere", page: "loginPage" },
            { tag: "e-mail unverified, whatever the app page", user: { "email": "a@example.com", "email_verified_at": null }, appPage: "balance", page: "verifyEmailPage" },
            { tag: "e-mail verified", user: verified, appPage: "profile", page: "profilePage", title: "Профиль" },
            { tag: "no user record yet", user: {}, appPage: "splitTunnel", page: "splitTunnelPage", title: "Раздельное туннелирование" },
            { tag: "unknown app page", user: verified, appPage: "elsewhere", page: "peersPage", title: "Соединения" },
            { tag: "Windows, no split tab", os: "windows", user: verified, page: "peersPage", title: "Соединения", tabs: 4 }
        ];
    }

    // The navigation shows on the signed-in pages, with the split tab unless on Windows.
    function test_pageForAccountState(data) {
        Platform.os = data.os || "osx";
        window.guestPage = data.guestPage || "login";
        if (data.user)
            enter(data.user, data.appPage);
        compare([shownPage(), findChild(window.contentItem, "authLayout").visible], [data.page, data.title !== undefined]);
        if (data.title)
            compare([item("title").text, item("title").truncated, navigation.filter(key => item("nav_" + key).visible).length], [data.title, false, data.tabs || 5]);
    }

    // Signed in by hand, remembered as the box says by default. The navigation opens each
    // page and marks its tab; signing out from the last lands on the sign-in form. Then a
    // new password by the letter's token, and signing in with the box unticked: the peer
    // list, and nothing remembered.
    function test_navigationSignOutAndReset() {
        const account = newAccount();
        signInByHand(account.email);
        settle();
        compare(storedAuth.value("token"), AuthStore.token, "remembered");
        for (const page of navigation) {
            click("nav_" + page);
            settle();
            compare([shownPage(), navigation.filter(key => item("nav_" + key).active)], [page + "Page", [page]]);
        }
        click("logoutButton");
        waitForPage("loginPage");
        compare([AuthStore.token, item("message").text], ["", "Вы вышли из аккаунта"]);
        verify(received().includes("POST /api/v1/auth/logout"));

        const newPassword = "a brand new passphrase";
        click("forgotButton");
        type("emailField", account.email);
        click("submitButton");
        until(() => !AuthStore.loading && item("message").visible, 10000);
        compare(item("message").text, "Ссылка для сброса пароля отправлена");

        click("resetButton");
        type("emailField", account.email);
        type("tokenField", outbox(account.email).filter(mail => mail.kind === "password-reset")[0].token);
        type("passwordField", newPassword);
        type("confirmationField", newPassword);
        click("submitButton");
        waitForPage("loginPage");
        compare(item("message").text, "Пароль обновлен");
        tick("rememberBox");
        signInByHand(account.email, newPassword);
        waitForPage("peersPage");
        compare(storedAuth.value("token"), "", "not remembered, as the box said");
    }

    function test_formSwitchClearsTheTexts_data() {
        return [
            { tag: "to registration", clicks: ["registerButton"], page: "registerPage" },
            { tag: "to reset", clicks: ["forgotButton", "resetButton"], page: "resetPasswordPage" },
            { tag: "reset back to sign-in", clicks: ["forgotButton", "resetButton", "loginButton"], page: "loginPage" }
        ];
    }

    function test_formSwitchClearsTheTexts(data) {
        for (const name of data.clicks) {
            AuthStore.error = "ошибка";
            AuthStore.message = "сообщение";
            click(name);
        }
        compare([shownPage(), AuthStore.error, AuthStore.message], [data.page, "", ""]);
    }

    function test_busyOverlay_data() {
        return [
            { tag: "idle", vpn: 0, shown: false },
            { tag: "connecting", vpn: 1, shown: true, text: "Идет подключение, подождите..." },
            { tag: "disconnecting", vpn: 3, shown: false },
            { tag: "peer list loading", vpn: 2, peers: true, shown: true, text: "" },
            { tag: "account loading", vpn: 4, account: true, shown: true, text: "" }
        ];
    }

    function test_busyOverlay(data) {
        enter(verified);
        VpnManager.setState(data.vpn);
        PeerStore.loading = data.peers === true;
        AuthStore.loading = data.account === true;
        const overlay = findChild(window.contentItem, "busyOverlay");
        compare([overlay.visible, overlay.text], [data.shown, data.text || ""]);
        click("nav_balance");
        compare(window.appPage, data.shown ? "peers" : "balance", "a click underneath");
    }

    // The header reads a balance the way the balance page does, Russian text included.
    function test_accountLine_data() {
        return [
            { tag: "balance as Russian text", balance: "1 234,5", text: "Анна · 1\u00a0234,50 ₽" },
            { tag: "balance not a number", balance: "много", text: "Анна · 0 ₽" }
        ];
    }

    function test_accountLine(data) {
        enter({ "name": "Анна", "balance": data.balance, "email_verified_at": "2024-05-01" });
        compare(item("account").text, data.text);
    }
}
