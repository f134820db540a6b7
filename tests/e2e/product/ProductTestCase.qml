import QtQuick
import QtTest
import App.Api
import "../../quick"

// One run of the client on the whole product: the real window with the client's own
// VpnManager, against the vendor API and the daemon that a script started in the
// sandbox (TARVEX_API_URL, TARVEX_SERVICE_SOCKET). The window opens as the program's
// does, from the settings the last run left; nothing is reset.
ClientTestCase {
    function init() {
        root = String(ApiClient.baseUrl).replace(/\/api\/v1$/, "");
        openWindow();
        waitForRendering(window.contentItem);
    }

    // An account made on the vendor API, signed in through the form. (Its registration
    // form and the code from the letter are the shell suite's.)
    function signUp() {
        signInByHand(newAccount().email);
        waitForPage("peersPage");
    }

    // A peer in the first country the page offers.
    function addPeer(name) {
        click("nav_addPeer");
        waitForPage("addPeerPage");
        // The account's costs load once the countries have.
        until(() => item("form").visible && !window.globalLoading, 10000, "the countries and the account are loaded");
        type("nameField", name);
        click("submitButton");
    }

    // The button of the one peer's row, once the list shows it.
    function connectButton() {
        waitForPage("peersPage");
        let button = null;
        until(() => (button = findChild(item("peerList"), "connectButton")) !== null, 10000, "the peer's row is shown");
        return button;
    }

    // The row changes as soon as a disconnect starts; the daemon is done when VpnManager
    // is no longer busy.
    function clickAndWaitFor(button, text) {
        mouseClick(button);
        until(() => button.text === text && !VpnManager.busy, 30000, `the row shows "${text}" and the daemon is done`);
    }
}
