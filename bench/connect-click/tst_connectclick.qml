import QtQuick
import QtTest
import "../../tests/e2e/product"

// The client of bench/connect-click.sh: signs up, adds a peer, then clicks "Подключиться"
// and waits for the first frame that shows the row connected, once unmeasured and `runs`
// times measured, disconnecting in between. Each measured run prints
// "connect-click <ms to that frame> <ms to the row's change>".
ProductTestCase {
    name: "ConnectClick"

    readonly property int runs: 20

    function test_connectClicks() {
        signUp();
        addPeer("Bench");
        const button = connectButton();
        for (let run = 0; run <= runs; ++run) {
            let changedAt = 0;
            let shownAt = 0;
            const changed = () => {
                if (changedAt === 0 && button.text === "Отключиться")
                    changedAt = Date.now();
            };
            const swapped = () => {
                if (changedAt !== 0 && shownAt === 0)
                    shownAt = Date.now();
            };
            button.textChanged.connect(changed);
            window.frameSwapped.connect(swapped);
            const clickedAt = Date.now();
            mouseClick(button);
            tryVerify(() => shownAt !== 0, 30000, "the row shows the connection");
            button.textChanged.disconnect(changed);
            window.frameSwapped.disconnect(swapped);
            if (run > 0)
                console.log(`connect-click ${shownAt - clickedAt} ${changedAt - clickedAt}`);
            clickAndWaitFor(button, "Подключиться");
        }
    }
}
