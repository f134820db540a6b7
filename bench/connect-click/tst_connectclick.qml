import QtQuick
import QtTest
import "../../tests/e2e/product"

// What bench/connect-click.sh's clicks start from: an account with one peer, signed in
// through the window, so that the next start of the client shows the peer's row.
ProductTestCase {
    name: "ConnectClick"

    function test_signUpAndAddPeer() {
        signUp();
        addPeer("Bench");
        compare(connectButton().text, "Подключиться");
    }
}
