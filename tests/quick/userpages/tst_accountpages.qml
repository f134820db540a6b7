import QtQuick
import QtTest
import App.Api
import App.Stores
import "qrc:/vpn-client"
import ".."

// The profile and balance pages against the real tarvex-vendor-api, through clicks and
// keys: what the profile's forms send and show, what they keep after a failure, the
// deletion popup that cannot be dismissed while its request runs, and the payment link.
// Tables keep one row per line.
Item {
    id: host

    // tall enough for the whole profile page, so that every control can be clicked
    width: 430
    height: 1500

    Component { id: profileComponent; ProfilePage { anchors.fill: parent } }
    Component { id: balanceComponent; BalancePage { anchors.fill: parent } }

    ClientTestCase {
        name: "AccountPages"

        // Signed in, the page open and its profile request answered.
        function openPage(account, component) {
            signIn(account, true);
            const page = createTemporaryObject(component || profileComponent, host);
            until(() => !AuthStore.loading, 10000);
            compare(findChild(page, "message") ? findChild(page, "message").text : "", "", "the sign-in's text is not shown");
            return page;
        }

        // Replaces a field's text as a user would: click, select all, type.
        function typeInto(page, name, text) {
            mouseClick(findChild(page, name));
            keyClick(Qt.Key_A, Qt.ControlModifier);
            keys(text);
        }

        function texts(page, names) {
            return names.map(name => findChild(page, name).text);
        }

        // The page shows the record as the server has it, renamed elsewhere after the
        // sign-in. taken: the e-mail of another account, in other letters. submit: the save button, or Return
        // in the e-mail field.
        function test_saveProfile_data() {
            return [
                { tag: "new name by the button", name: "Maria Petrova", message: "Профиль обновлен", error: "", verified: true },
                { tag: "new address by Return", name: "Anna", email: "anna.new@example.com", submit: Qt.Key_Return, message: "Профиль обновлен", error: "", verified: false },
                { tag: "address of another account", name: "Anna", taken: true, message: "", error: "Этот email уже зарегистрирован", verified: true }
            ];
        }

        function test_saveProfile(data) {
            const other = newAccount();
            const account = newAccount();
            signIn(account, true);
            verify(request("PATCH", "/profile", { "name": "Renamed elsewhere", "email": account.email }, account.token).ok);
            const page = openPage(account);
            compare(texts(page, ["nameField", "emailField"]), ["Renamed elsewhere", account.email]);
            const email = data.taken ? other.email.toUpperCase() : data.email || account.email;
            typeInto(page, "nameField", data.name);
            typeInto(page, "emailField", email);
            if (data.submit)
                keyClick(data.submit);
            else
                mouseClick(findChild(findChild(page, "infoForm"), "saveButton"));
            until(() => !AuthStore.loading, 10000);
            compare(texts(page, ["message", "error", "nameField", "emailField"]).concat(findChild(page, "verification").visible), [data.message, data.error, data.name, email, !data.verified]);
            const onServer = request("GET", "/profile", null, account.token).data;
            compare([onServer.name, onServer.email], data.message ? [data.name, email] : ["Renamed elsewhere", account.email]);
        }

        // The fields are emptied only when the server took the new password, of 12
        // characters, the fewest it takes; an unconfirmed address is confirmed with the code
        // from the letter.
        function test_passwordAndCode_data() {
            return [
                { tag: "right current password", current: "correct horse battery", message: "Пароль обновлен", error: "" },
                { tag: "wrong current password", current: "wrong horse battery", message: "", error: "Неверный текущий пароль" },
                { tag: "code of an unconfirmed address", code: true, message: "Email подтвержден", error: "" }
            ];
        }

        function test_passwordAndCode(data) {
            const account = newAccount(data.code);
            const page = openPage(account);
            const names = data.code ? ["codeField"] : ["currentField", "passwordField", "confirmationField"];
            const typed = data.code ? [outbox(account.email)[0].code] : [data.current, "twelve chars", "twelve chars"];
            names.forEach((name, index) => typeInto(page, name, typed[index]));
            keyClick(Qt.Key_Return);
            until(() => !AuthStore.loading && ApiClient.activeRequests === 0, 10000);
            compare(texts(page, ["message", "error"]), [data.message, data.error]);
            if (data.code) {
                compare([findChild(page, "verification").visible, AuthStore.isEmailVerified], [false, true]);
                return;
            }
            const changed = data.message !== "";
            compare(texts(page, names), changed ? ["", "", ""] : typed);
            compare(request("POST", "/auth/login", { "email": account.email, "password": "twelve chars" }).ok, changed);
        }

        // slow: a server that refuses after a while, so that the popup can be tried while
        // the deletion runs: neither Escape nor a press outside closes it then. A refused
        // deletion keeps the password until the popup closes, which forgets it and the error.
        function test_deleteProfile_data() {
            return [
                { tag: "right password", password: "correct horse battery", error: "", deleted: true },
                { tag: "refused while it runs", slow: true, password: "some password", error: "Неверный пароль", deleted: false }
            ];
        }

        function test_deleteProfile(data) {
            const account = newAccount();
            const page = openPage(account);
            mouseClick(findChild(findChild(page, "deleteForm"), "deleteButton"));
            const popup = findChild(page, "deleteForm").popup;
            until(() => popup.opened);
            if (data.slow)
                ApiClient.baseUrl = slowServer(422, { "message": "Неверный пароль" });
            // the popup opens with the password field focused
            keys(data.password);
            keyClick(Qt.Key_Return);
            if (data.slow) {
                verify(AuthStore.loading);
                keyClick(Qt.Key_Escape);
                mouseClick(host, 5, 5);
                verify(popup.opened);
            }
            until(() => !AuthStore.loading, 10000);
            ApiClient.baseUrl = root + "/api/v1";
            compare([popup.opened, popup.errorText, AuthStore.isAuthenticated], [!data.deleted, data.error, !data.deleted]);
            compare(request("POST", "/auth/login", { "email": account.email, "password": password }).ok, !data.deleted, "the account exists");
            if (data.deleted)
                return;
            compare(popup.password, data.password);
            keyClick(Qt.Key_Escape);
            until(() => !popup.opened);
            compare([popup.password, popup.errorText], ["", ""]);
        }

        // reply: a scripted [status, body] instead of the server's own link; revoked: the
        // session's token was revoked elsewhere.
        function test_paymentLink_data() {
            return [
                { tag: "the server's link", opened: true, error: "", signedIn: true },
                { tag: "empty link", reply: [200, { "success": true, "data": { "url": "" } }], error: "Сервер не вернул ссылку на оплату", signedIn: true },
                { tag: "server error", reply: [503, { "message": "Платежи временно недоступны" }], error: "Платежи временно недоступны", signedIn: true },
                { tag: "expired session", revoked: true, error: "", signedIn: false },
                { tag: "page left while the link came", reply: "late", left: true, error: "", signedIn: true }
            ];
        }

        // A link that arrives after its page was left opens nothing and touches nothing of
        // the page.
        function test_paymentLink(data) {
            const page = openPage(newAccount(), balanceComponent);
            if (data.left)
                failOnWarning(/.?/);
            if (data.revoked)
                verify(request("POST", "/auth/logout", {}, AuthStore.token).ok);
            if (data.reply === "late")
                ApiClient.baseUrl = slowServer(200, { "success": true, "data": { "url": "https://pay.example/1" } });
            else if (data.reply)
                replyWith(data.reply[0], data.reply[1]);
            clearRequestLog();
            const button = findChild(page, "paymentButton");
            mouseClick(button);
            verify(button.loading, "loading while the link is fetched");
            if (data.left)
                page.destroy();
            until(() => !AuthStore.loading && ApiClient.activeRequests === 0, 10000);
            if (!data.left)
                compare([button.loading, findChild(page, "paymentError").text, AuthStore.isAuthenticated], [false, data.error, data.signedIn]);
            const opened = TestSupport.openedUrls;
            compare(opened.length, data.opened ? 1 : 0);
            if (data.opened)
                verify(opened[0].startsWith(root + "/topup/"), opened[0]);
        }
    }
}
