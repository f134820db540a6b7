import QtQuick
import QtTest
import App.Stores
import "qrc:/vpn-client"

// Main, the window: which page it shows for each account state, the navigation, signing
// out from every page, the busy overlay and the header's account line.
ShellTestCase {
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
            { tag: "signed out", page: "loginPage" },
            { tag: "signed out, registering", guestPage: "register", page: "registerPage" },
            { tag: "signed out, unknown form", guestPage: "elsewhere", page: "loginPage" },
            { tag: "e-mail unverified, whatever the app page", user: { "email": "a@example.com", "email_verified_at": null }, appPage: "balance", page: "verifyEmailPage" },
            { tag: "e-mail verified", user: verified, appPage: "profile", page: "profilePage", title: "Профиль" },
            { tag: "no user record yet", user: {}, appPage: "splitTunnel", page: "splitTunnelPage", title: "Раздельное туннелирование" },
            { tag: "unknown app page", user: verified, appPage: "elsewhere", page: "peersPage", title: "Соединения" }
        ];
    }

    function test_pageForAccountState(data) {
        window.guestPage = data.guestPage || "login";
        if (data.user)
            enter(data.user, data.appPage);
        compare(shownPage(), data.page);
        compare(findChild(window.contentItem, "authLayout").visible, data.title !== undefined, "the navigation shows");
        if (data.title)
            compare(item("title").text, data.title);
    }

    function test_navigationOpensEachPageAnew() {
        enter(verified);
        const seen = {};
        for (const key of navigation.concat(["peers"])) {
            click("nav_" + key);
            settle();
            compare([window.appPage, shownPage()], [key, key + "Page"]);
            const page = findChild(window.contentItem, "appContent").item;
            verify(seen[key] !== page, `${key} is made anew`);
            seen[key] = page;
            for (const other of navigation) {
                const background = findChild(item("nav_" + other), "background");
                verify(Qt.colorEqual(background.color, other === key ? Themes.accentMuted : "transparent"), `${other} fill ${background.color}`);
                compare(background.border.width, other === key ? 1 : 0);
            }
        }
    }

    function test_toolTipAfterTheRest() {
        enter(verified);
        const button = item("nav_balance");
        const toolTip = findChild(button, "toolTip");
        mouseMove(button, button.width / 2, button.height / 2);
        wait(300);
        verify(!toolTip.visible, "not at once");
        tryVerify(() => toolTip.visible, 1000);
        compare(toolTip.text, "Баланс");
        mouseMove(item("title"));
        tryVerify(() => !toolTip.visible, 1000);
    }

    function test_splitTunnelItemByPlatform_data() {
        return [
            { tag: "linux", os: "linux", items: 5 },
            { tag: "android", os: "android", items: 5 },
            { tag: "windows", os: "windows", items: 4 }
        ];
    }

    function test_splitTunnelItemByPlatform(data) {
        Platform.os = data.os;
        enter(verified);
        const shownItems = navigation.map(key => item("nav_" + key)).filter(button => button.visible);
        compare(shownItems.length, data.items);
        for (const button of shownItems)
            fuzzyCompare(button.width, shownItems[0].width, 1, "equal shares");
    }

    // Signing out lands on the sign-in form whatever page was open; signing in again
    // lands on the peer list.
    function test_signOutFromEveryPage_data() {
        return navigation.map(key => ({ "tag": key, "page": key }));
    }

    function test_signOutFromEveryPage(data) {
        const account = newAccount();
        signIn(account.email);
        settle();
        click("nav_" + data.page);
        settle();
        click("logoutButton");
        waitForPage("loginPage");
        compare([AuthStore.token, item("message").text], ["", "Вы вышли из аккаунта"]);
        verify(received().includes("POST /api/v1/auth/logout"));
        signIn(account.email);
        waitForPage("peersPage");
        compare(item("title").text, "Соединения");
    }

    function test_formSwitchClearsTheTexts_data() {
        return [
            { tag: "to registration", clicks: ["registerButton"], page: "registerPage" },
            { tag: "to forgotten password", clicks: ["forgotButton"], page: "forgotPasswordPage" },
            { tag: "to reset", clicks: ["forgotButton", "resetButton"], page: "resetPasswordPage" },
            { tag: "registration back to sign-in", clicks: ["registerButton", "loginButton"], page: "loginPage" },
            { tag: "forgotten back to sign-in", clicks: ["forgotButton", "loginButton"], page: "loginPage" },
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
        const connecting = "Идет подключение, подождите...";
        return [
            { tag: "idle", vpn: 0, shown: false },
            { tag: "connecting", vpn: 1, shown: true, text: connecting },
            { tag: "connecting while the list loads", vpn: 1, peers: true, shown: true, text: connecting },
            { tag: "connected", vpn: 2, shown: false },
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
        compare(overlay.visible, data.shown);
        if (data.shown) {
            compare(findChild(overlay, "message").visible, data.text !== "");
            compare(overlay.text, data.text);
        }
        click("nav_balance");
        compare(window.appPage, data.shown ? "peers" : "balance", "a click underneath");
    }

    function test_accountLine_data() {
        return [
            { tag: "name and balance", user: { "name": "Анна", "balance": 1234.5 }, text: "Анна · 1\u00a0234,50 ₽" },
            { tag: "millions", user: { "name": "Анна", "balance": 1000000 }, text: "Анна · 1\u00a0000\u00a0000,00 ₽" },
            { tag: "balance as text", user: { "name": "Анна", "balance": "0.5" }, text: "Анна · 0,50 ₽" },
            { tag: "no balance", user: { "name": "Анна" }, text: "Анна · 0 ₽" },
            { tag: "null balance", user: { "name": "Анна", "balance": null }, text: "Анна · 0 ₽" },
            { tag: "balance not a number", user: { "name": "Анна", "balance": "много" }, text: "Анна · 0 ₽" },
            { tag: "e-mail without a name", user: { "name": "", "email": "a@example.com", "balance": 0 }, text: "a@example.com · 0,00 ₽" },
            { tag: "no name, no e-mail", user: { "balance": 12 }, text: "Аккаунт · 12,00 ₽" },
            { tag: "no user record", user: {}, text: "Аккаунт · 0 ₽" }
        ];
    }

    function test_accountLine(data) {
        // a record with no key at all needs no verification
        enter(Object.keys(data.user).length ? Object.assign({ "email_verified_at": "2024-05-01" }, data.user) : {});
        compare(item("account").text, data.text);
    }
}
