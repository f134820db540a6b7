import QtQuick
import QtTest
import "qrc:/vpn-client"

// The kit's controls under the mouse: which buttons take a click, and form notes that
// appear out of view. (The fields and check boxes are worked through the account forms.)
Item {
    id: host

    width: 430
    height: 780

    Component { id: buttonComponent; AppButton { width: 200; text: "Войти" } }
    // a page scrolled away from the note at its top
    Component {
        id: scrolledPageComponent

        Flickable {
            width: 300
            height: 200
            contentHeight: 800
            contentY: 600

            Column {
                width: 300

                FormMessage { objectName: "message"; width: 300 }
                Item { width: 300; height: 700 }
            }
        }
    }
    SignalSpy { id: spy; signalName: "clicked" }

    TestCase {
        name: "Controls"
        when: windowShown

        // A loading button keeps its size with a spinner in place of the label, and takes
        // no click, as a disabled one does.
        function test_buttonClicks_data() {
            return [
                { tag: "enabled", clicks: 1 },
                { tag: "disabled", enabled: false, clicks: 0 },
                { tag: "loading", loading: true, clicks: 0 },
                { tag: "danger loading", variant: "danger", loading: true, clicks: 0 },
                { tag: "text link disabled", variant: "text", enabled: false, clicks: 0 }
            ];
        }

        function test_buttonClicks(data) {
            const button = createTemporaryObject(buttonComponent, host, { variant: data.variant || "primary", enabled: data.enabled !== false, loading: data.loading === true });
            compare([findChild(button, "label").visible, findChild(button, "spinner").visible], [!data.loading, data.loading === true]);
            spy.target = button;
            spy.clear();
            mouseClick(button);
            compare(spy.count, data.clicks);
        }

        function test_formMessageScrolledIntoViewAsItAppears() {
            const page = createTemporaryObject(scrolledPageComponent, host);
            findChild(page, "message").text = "Неверный текущий пароль";
            tryCompare(page, "contentY", 0);
        }
    }
}
