import QtQuick
import QtTest
import "qrc:/vpn-client"

Item {
    id: host

    width: 430
    height: 780

    Component {
        id: fieldComponent

        AppTextField { width: 300; label: "Электронная почта"; placeholderText: "you@example.com" }
    }
    Component {
        id: checkBoxComponent

        AppCheckBox {
            width: 360
            textFormat: Text.StyledText
            text: '<a href="https://tarvex.example/offer">Оферта</a> принимается целиком, без изъятий'
        }
    }
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
    SignalSpy { id: spy }

    function listen(target, signalName) {
        spy.target = null;
        spy.signalName = signalName;
        spy.target = target;
        spy.clear();
    }

    TestCase {
        name: "AppTextField"
        when: windowShown

        function test_borderAndPlaceholder_data() {
            return [
                { tag: "idle", error: "", border: Themes.border, placeholder: true },
                { tag: "focused", focused: true, error: "", border: Themes.accent, placeholder: false },
                { tag: "error", error: "Неверный адрес", border: Themes.danger, placeholder: true },
                { tag: "error wins over focus", focused: true, error: "Неверный адрес", border: Themes.danger, placeholder: false },
                { tag: "filled", error: "", text: "a@b.c", border: Themes.border, placeholder: false },
            ];
        }

        function test_borderAndPlaceholder(data) {
            const field = createTemporaryObject(fieldComponent, host, { errorText: data.error, text: data.text || "" });
            const box = findChild(field, "box");
            if (data.focused)
                mouseClick(box, 3, 3); // on the box's margin, outside the input
            verify(Qt.colorEqual(box.border.color, data.border), `border ${box.border.color}`);
            compare(findChild(field, "placeholder").visible, data.placeholder);
            compare(findChild(field, "error").visible, data.error !== "");
        }

        function test_typingEditsAndReturnAccepts() {
            const field = createTemporaryObject(fieldComponent, host, { text: "set by code" });
            host.listen(field, "edited");
            mouseClick(findChild(field, "box"));
            keyClick(Qt.Key_End);
            keySequence("!");
            compare(field.text, "set by code!");
            compare(spy.count, 1);

            host.listen(field, "accepted");
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter);
            compare(spy.count, 2);
        }
    }

    TestCase {
        name: "AppCheckBox"
        when: windowShown

        // x of the click, from the left of the box; the link is the text's first word
        function test_clickOpensLinkOrToggles_data() {
            return [
                { tag: "on the link", x: 36 + 10, opened: ["https://tarvex.example/offer"], toggles: 0 },
                { tag: "on the box", x: 12, opened: [], toggles: 1 },
                { tag: "between box and text", x: 30, opened: [], toggles: 1 },
                { tag: "on plain text", x: 36 + 250, opened: [], toggles: 1 },
                { tag: "disabled", x: 12, disabled: true, opened: [], toggles: 0 },
            ];
        }

        function test_clickOpensLinkOrToggles(data) {
            TestSupport.clearOpenedUrls();
            const box = createTemporaryObject(checkBoxComponent, host, { enabled: !data.disabled });
            host.listen(box, "toggled");
            mouseClick(box, data.x, findChild(box, "label").y + 8);

            compare(TestSupport.openedUrls, data.opened);
            compare(box.checked, data.toggles === 1);
            compare(spy.count, data.toggles);
            verify(Qt.colorEqual(findChild(box, "box").color, box.checked ? Themes.accent : "transparent"));
        }
    }

    TestCase {
        name: "FormMessage"
        when: windowShown

        function test_scrolledIntoViewAsItAppears() {
            const page = createTemporaryObject(scrolledPageComponent, host);
            findChild(page, "message").text = "Неверный текущий пароль";
            tryCompare(page, "contentY", 0);
        }
    }
}
