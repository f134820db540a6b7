import QtQuick
import QtTest
import App.Stores
import "qrc:/vpn-client"
import ".."

// The account forms in the window, against the real local vendor API: what Return and
// editing do in every field, and the journey a person takes through
// registration and verification. (Signing out, a password reset and signing in again:
// the window's suite.)
ClientTestCase {
    withWindow: true
    name: "AuthPages"

    // Opens a form as a person would, by its buttons; "verify" signs in an unverified
    // account first. The sign-in form is already on the screen, and waiting for a frame
    // that nothing changes would only wait out the time-out.
    function open(data) {
        if (data.page === "login")
            return;
        for (const name of data.clicks || [])
            click(name);
        if (data.page === "verify")
            signInByHand(newAccount(true).email);
        // what a person sees: the form laid out, as on the screen
        waitForRendering(window.contentItem);
    }

    // Every row is refused by the server, so the form shows an error afterwards: an
    // unknown address like a wrong password, a password one character too short.
    function test_returnSubmitsAndEditingClearsTheError_data() {
        const rows = [];
        const forms = [
            { page: "login", request: "auth/login", fill: { emailField: "nobody@example.com", passwordField: "wrong password" }, error: "Неверный email или пароль" },
            { page: "register", clicks: ["registerButton"], request: "auth/register", fill: { nameField: "Anna", emailField: "new@example.com", passwordField: "eleven char", confirmationField: "eleven char" }, agree: true, error: "Пароль должен содержать не менее 12 символов" },
            { page: "forgot", clicks: ["forgotButton"], request: "auth/forgot-password", fill: { emailField: "not an address" }, error: "Введите корректный email" },
            { page: "reset", clicks: ["forgotButton", "resetButton"], request: "auth/reset-password", fill: { emailField: "nobody@example.com", tokenField: "bad", passwordField: password, confirmationField: password }, error: "Ссылка для сброса пароля недействительна или устарела" },
            { page: "verify", request: "auth/email/verify", fill: { codeField: "000000" }, error: "Неверный код подтверждения" }
        ];
        for (const form of forms)
            for (const field of Object.keys(form.fill))
                rows.push(Object.assign({ "tag": `${form.page}, ${field}`, "field": field }, form));
        return rows;
    }

    function test_returnSubmitsAndEditingClearsTheError(data) {
        open(data);
        for (const field of Object.keys(data.fill))
            type(field, data.fill[field]);
        if (data.agree)
            tick("agreementBox");
        type(data.field, "");
        clearRequestLog();
        keyClick(Qt.Key_Return);
        until(() => !AuthStore.loading && item("error").visible, 10000, "the refusal is shown");
        compare(received(), ["POST /api/v1/" + data.request]);
        compare(item("error").text, data.error);

        // the focus is back in the field: typing goes on where it stopped
        const typed = findChild(item(data.field), "input").text;
        keyClick(Qt.Key_End);
        keyClick("x");
        compare(findChild(item(data.field), "input").text, typed + "x");
        compare([item("error").visible, AuthStore.error], [false, ""]);
    }

    // The name and the address are sent without the spaces around them.
    function test_registerAndVerify() {
        const email = "journey@example.com";
        click("registerButton");
        type("nameField", " Anna ");
        type("emailField", ` ${email} `);
        type("passwordField", password);
        type("confirmationField", password);
        tick("agreementBox");
        click("submitButton");
        waitForPage("verifyEmailPage");
        compare(item("message").text, "Аккаунт создан. Код подтверждения отправлен на email");

        click("resendButton");
        until(() => outbox(email).length === 2, 10000, "a second code");
        type("codeField", outbox(email)[1].code);
        keyClick(Qt.Key_Return);
        waitForPage("peersPage");
        compare(item("account").text, "Anna · 0,00 ₽");
    }
}
