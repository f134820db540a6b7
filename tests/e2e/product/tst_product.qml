import QtQuick
import QtTest

// The person's side of e2e_product.sh: each function is one run of the client, and the
// script checks the simulated Mac between them.
ProductTestCase {
    name: "Product"

    function test_signUpAddPeerAndConnect() {
        signUp();
        addPeer("Laptop");
        const button = connectButton();
        compare(button.text, "Подключиться");
        clickAndWaitFor(button, "Отключиться");
        compare([VpnManager.connected, VpnManager.error], [true, ""]);
    }

    // Started again while the tunnel is up: the daemon's status marks the row.
    function test_restartFindsTheTunnel() {
        const button = connectButton();
        compare([button.text, VpnManager.connected], ["Отключиться", true]);
        clickAndWaitFor(button, "Подключиться");
        compare([VpnManager.connected, VpnManager.error], [false, ""]);
    }

    function test_connectThenDisconnect() {
        const button = connectButton();
        clickAndWaitFor(button, "Отключиться");
        clickAndWaitFor(button, "Подключиться");
        compare(VpnManager.error, "");
    }
}
