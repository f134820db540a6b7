import QtQuick
import QtTest
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "../stores"

// The profile page against the real tarvex-vendor-api, through clicks and keys: what
// its forms send and show, what they keep after a failure, and the deletion popup that
// cannot be dismissed while its request runs. Tables keep one row per line.
Item {
    id: host

    // tall enough for the whole page, so that every control can be clicked
    width: 430
    height: 1500

    Component {
        id: pageComponent

        ProfilePage { anchors.fill: parent }
    }

    StoreTestCase {
        name: "ProfilePage"
        when: windowShown

        function confirmEmail(account) {
            const code = TestSupport.outbox(account.email)[0].code;
            verify(request("POST", "/auth/email/verify", { "code": code }, account.token).ok);
        }

        // Signed in, the page open and its profile request answered.
        function openPage(account) {
            signIn(account, true);
            const page = createTemporaryObject(pageComponent, host);
            tryVerify(() => !AuthStore.loading, 10000);
            return page;
        }

        // Replaces a field's text as a user would: click, select all, type.
        function typeInto(field, text) {
            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            for (const character of text)
                keyClick(character);
        }

        function fieldTexts(page, names) {
            return names.map(name => findChild(page, name).text);
        }

        // The page shows the record as the server has it, renamed elsewhere after the
        // sign-in. taken: the e-mail of another account. submit: the save button, or Return
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
            confirmEmail(account);
            signIn(account, true);
            verify(request("PATCH", "/profile", { "name": "Renamed elsewhere", "email": account.email }, account.token).ok);
            const page = createTemporaryObject(pageComponent, host);
            tryVerify(() => !AuthStore.loading, 10000);
            compare(fieldTexts(page, ["nameField", "emailField"]), ["Renamed elsewhere", account.email]);
            const email = data.taken ? other.email : data.email || account.email;
            typeInto(findChild(page, "nameField"), data.name);
            typeInto(findChild(page, "emailField"), email);
            if (data.submit)
                keyClick(data.submit);
            else
                mouseClick(findChild(findChild(page, "infoForm"), "saveButton"));
            tryVerify(() => !AuthStore.loading, 10000);

            compare([findChild(page, "message").text, findChild(page, "error").text], [data.message, data.error]);
            compare(fieldTexts(page, ["nameField", "emailField"]), [data.name, email], "the fields keep what was typed, or show what was saved");
            compare(findChild(page, "verification").visible, !data.verified);
            const saved = data.message !== "";
            const onServer = request("GET", "/profile", null, account.token).data;
            compare([onServer.name, onServer.email], saved ? [data.name, email] : ["Renamed elsewhere", account.email]);
        }

        // The fields are emptied only when the server took the new password.
        function test_changePassword_data() {
            return [
                { tag: "right current password", current: "correct horse battery", message: "Пароль обновлен", error: "" },
                { tag: "wrong current password", current: "wrong horse battery", message: "", error: "Неверный текущий пароль" }
            ];
        }

        function test_changePassword(data) {
            const account = newAccount();
            confirmEmail(account);
            const page = openPage(account);
            const typed = [data.current, "a brand new secret", "a brand new secret"];
            const names = ["currentField", "passwordField", "confirmationField"];
            names.forEach((name, index) => typeInto(findChild(page, name), typed[index]));
            keyClick(Qt.Key_Return);
            tryVerify(() => !AuthStore.loading, 10000);

            const changed = data.message !== "";
            compare([findChild(page, "message").text, findChild(page, "error").text], [data.message, data.error]);
            compare(fieldTexts(page, names), changed ? ["", "", ""] : typed);
            compare(request("POST", "/auth/login", { "email": account.email, "password": "a brand new secret" }).ok, changed);
        }

        // The code part shows only while the address is unconfirmed, and goes once the
        // code from the letter confirms it.
        function test_verificationCode() {
            const account = newAccount();
            const page = openPage(account);
            const verification = findChild(page, "verification");
            verify(verification.visible);
            typeInto(findChild(page, "codeField"), TestSupport.outbox(account.email)[0].code);
            keyClick(Qt.Key_Return);
            tryVerify(() => !verification.visible, 10000);
            compare([findChild(page, "message").text, AuthStore.isEmailVerified], ["Email подтвержден", true]);
        }

        // The popup opens with the password field focused, so typing goes there.
        function openDeletePopup(page) {
            mouseClick(findChild(findChild(page, "deleteForm"), "deleteButton"));
            const popup = findChild(page, "deleteForm").popup;
            tryVerify(() => popup.opened);
            return popup;
        }

        // slow: a server that refuses after a while, so that the popup can be tried while
        // the deletion runs: neither Escape nor a press outside closes it then. A refused
        // deletion keeps the password until the popup closes, which forgets it and the error.
        function test_deleteProfile_data() {
            return [
                { tag: "wrong password", password: "wrong horse battery", error: "Неверный пароль", deleted: false },
                { tag: "right password", password: "correct horse battery", error: "", deleted: true },
                { tag: "refused while it runs", slow: true, password: "some password", error: "Неверный пароль", deleted: false }
            ];
        }

        function test_deleteProfile(data) {
            const account = newAccount();
            confirmEmail(account);
            const page = openPage(account);
            const popup = openDeletePopup(page);
            if (data.slow)
                ApiClient.baseUrl = slowServer(422, { "message": "Неверный пароль" });
            for (const character of data.password)
                keyClick(character);
            keyClick(Qt.Key_Return);
            if (data.slow) {
                verify(AuthStore.loading);
                keyClick(Qt.Key_Escape);
                mouseClick(host, 5, 5);
                verify(popup.opened);
            }
            tryVerify(() => !AuthStore.loading, 10000);
            ApiClient.baseUrl = root + "/api/v1";

            compare([popup.opened, popup.errorText, AuthStore.isAuthenticated], [!data.deleted, data.error, !data.deleted]);
            compare(request("POST", "/auth/login", { "email": account.email, "password": password }).ok, !data.deleted, "the account exists");
            if (!data.deleted) {
                compare(popup.password, data.password);
                keyClick(Qt.Key_Escape);
                tryVerify(() => !popup.opened);
                compare([popup.password, popup.errorText], ["", ""]);
            }
        }
    }
}
