import QtQuick
import QtTest
import "qrc:/vpn-client"

// The kit's controls under the mouse and keys: button fills and clicks by variant and
// state, the text field's border and placeholder, check box links, form notes.
Item {
    id: host

    width: 430
    height: 780

    Component { id: buttonComponent; AppButton { width: 200; text: "Войти" } }
    Component { id: fieldComponent; AppTextField { width: 300; label: "Электронная почта"; placeholderText: "you@example.com" } }
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

    TestCase {
        name: "Controls"
        when: windowShown

        function listen(target, signalName) {
            spy.target = null;
            spy.signalName = signalName;
            spy.target = target;
            spy.clear();
        }

        function test_buttonFillAndClicks_data() {
            return [
                { tag: "primary pressed", variant: "primary", pointer: "press", fill: Themes.accentPressed, label: "#09090b", clicks: 1 },
                { tag: "primary disabled", variant: "primary", enabled: false, fill: Themes.surfaceSoft, label: Themes.textPrimary, clicks: 0 },
                { tag: "primary loading", variant: "primary", loading: true, fill: Themes.surfaceSoft, spinner: Themes.accent, clicks: 0 },
                { tag: "danger loading", variant: "danger", loading: true, fill: Themes.surfaceSoft, spinner: Themes.textPrimary, clicks: 0 },
                { tag: "unknown variant is secondary", variant: "ghost", pointer: "hover", fill: "#25252d", border: 1, clicks: 1 },
                { tag: "text disabled", variant: "text", enabled: false, fill: "transparent", label: Themes.accent, clicks: 0 }
            ];
        }

        function test_buttonFillAndClicks(data) {
            mouseMove(host, host.width - 1, host.height - 1);
            const button = createTemporaryObject(buttonComponent, host, { variant: data.variant, enabled: data.enabled !== false, loading: data.loading === true });
            const [background, label, spinner] = ["background", "label", "spinner"].map(name => findChild(button, name));
            if (data.pointer)
                mouseMove(button, 10, 10);
            if (data.pointer === "press")
                mousePress(button, 10, 10);
            verify(Qt.colorEqual(background.color, data.fill), `fill ${background.color}`);
            if (data.pointer === "press")
                mouseRelease(button, 10, 10);
            compare([background.border.width, label.visible, spinner.visible, button.opacity], [data.border || 0, !data.loading, data.loading === true, data.clicks ? 1 : 0.55]);
            if (data.label)
                verify(Qt.colorEqual(label.color, data.label), `label ${label.color}`);
            if (data.spinner)
                verify(Qt.colorEqual(spinner.color, data.spinner), `spinner ${spinner.color}`);
            listen(button, "clicked");
            mouseClick(button);
            compare(spy.count, data.clicks);
        }

        function test_fieldBorderAndPlaceholder_data() {
            return [
                { tag: "focused", focused: true, error: "", border: Themes.accent, placeholder: false },
                { tag: "error wins over focus", focused: true, error: "Неверный адрес", border: Themes.danger, placeholder: false },
                { tag: "filled", error: "", text: "a@b.c", border: Themes.border, placeholder: false }
            ];
        }

        function test_fieldBorderAndPlaceholder(data) {
            const field = createTemporaryObject(fieldComponent, host, { errorText: data.error, text: data.text || "" });
            const box = findChild(field, "box");
            if (data.focused)
                mouseClick(box, 3, 3); // on the box's margin, outside the input
            verify(Qt.colorEqual(box.border.color, data.border), `border ${box.border.color}`);
            compare([findChild(field, "placeholder").visible, findChild(field, "error").visible], [data.placeholder, data.error !== ""]);
        }

        function test_fieldTypingEditsAndReturnAccepts() {
            const field = createTemporaryObject(fieldComponent, host, { text: "set by code" });
            listen(field, "edited");
            mouseClick(findChild(field, "box"));
            keyClick(Qt.Key_End);
            keySequence("!");
            compare([field.text, spy.count], ["set by code!", 1]);
            listen(field, "accepted");
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter);
            compare(spy.count, 2);
        }

        // x of the click, from the left of the box; the link is the text's first word
        function test_checkBoxOpensLinkOrToggles_data() {
            return [
                { tag: "on the link", x: 36 + 10, opened: ["https://tarvex.example/offer"], toggles: 0 },
                { tag: "between box and text", x: 30, opened: [], toggles: 1 },
                { tag: "on plain text", x: 36 + 250, opened: [], toggles: 1 },
                { tag: "disabled", x: 12, disabled: true, opened: [], toggles: 0 }
            ];
        }

        function test_checkBoxOpensLinkOrToggles(data) {
            TestSupport.clearOpenedUrls();
            const box = createTemporaryObject(checkBoxComponent, host, { enabled: !data.disabled });
            listen(box, "toggled");
            mouseClick(box, data.x, findChild(box, "label").y + 8);
            compare([TestSupport.openedUrls, box.checked, spy.count], [data.opened, data.toggles === 1, data.toggles]);
            verify(Qt.colorEqual(findChild(box, "box").color, box.checked ? Themes.accent : "transparent"));
        }

        function test_formMessageScrolledIntoViewAsItAppears() {
            const page = createTemporaryObject(scrolledPageComponent, host);
            findChild(page, "message").text = "Неверный текущий пароль";
            tryCompare(page, "contentY", 0);
        }
    }
}
