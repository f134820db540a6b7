import QtQuick
import QtTest
import App.Api
import "qrc:/vpn-client"
import "../../quick/shell"

// One run of the client on the whole product: the real window with the client's own
// VpnManager, against the vendor API and the daemon that a script started in the
// sandbox (TARVEX_API_URL, TARVEX_SERVICE_SOCKET). The window opens as the program's
// does, from the settings the last run left; nothing is reset.
ShellTestCase {
    id: product

    readonly property string email: "anna@example.com"

    Component {
        id: programWindow

        Main {}
    }

    function init() {
        window = createTemporaryObject(programWindow, product);
        tryVerify(() => window.active, 5000, "the window is active");
        waitForRendering(window.contentItem);
    }

    // The last code the vendor API "mailed" to the account.
    function outboxCode() {
        const root = String(ApiClient.baseUrl).replace(/\/api\/v1$/, "");
        const messages = request("GET", `${root}/dev/outbox?email=${encodeURIComponent(email)}`).data;
        verify(messages.length > 0, "a code was sent");
        return messages[messages.length - 1].code;
    }

    function signUp() {
        click("registerButton");
        type("nameField", "Anna");
        type("emailField", email);
        type("passwordField", password);
        type("confirmationField", password);
        tick("agreementBox");
        click("submitButton");
        waitForPage("verifyEmailPage");
        type("codeField", outboxCode());
        click("submitButton");
        waitForPage("peersPage");
    }

    // A peer in the first country the page offers.
    function addPeer(name) {
        click("nav_addPeer");
        waitForPage("addPeerPage");
        // The account's costs load once the countries have.
        tryVerify(() => item("form").visible && !window.globalLoading, 10000, "the countries and the account are loaded");
        type("nameField", name);
        click("submitButton");
    }

    // The button of the one peer's row, once the list shows it.
    function connectButton() {
        waitForPage("peersPage");
        let button = null;
        tryVerify(() => (button = findChild(item("peerList"), "connectButton")) !== null, 10000, "the peer's row is shown");
        return button;
    }

    // The row changes as soon as a disconnect starts; the daemon is done when VpnManager
    // is no longer busy.
    function clickAndWaitFor(button, text) {
        mouseClick(button);
        tryVerify(() => button.text === text && !VpnManager.busy, 30000, `the row shows "${text}" and the daemon is done`);
    }
}
