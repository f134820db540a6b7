import QtQuick
import QtTest
import "qrc:/vpn-client"

// The busy overlay and the modal popups: what gets through them, where the focus goes,
// the popups' geometry and how they close.
Item {
    id: host

    width: 430
    height: 780

    // What the overlay must shield: a page counting every press, wheel turn and key.
    Item {
        id: page

        property var counts: ({ presses: 0, wheels: 0, keys: 0 })

        anchors.fill: parent
        Keys.onPressed: ++counts.keys

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.AllButtons
            onPressed: ++page.counts.presses
            onWheel: ++page.counts.wheels
        }

        TextInput { id: field; width: 100; height: 20 }
        Item { id: fallback }
        LoadingOverlay { id: overlay; fallbackFocus: fallback }
    }

    Component { id: popupComponent; ConfirmActionPopup {} }
    Component { id: widePopupComponent; AppPopup { maximumWidth: 520; contentItem: Item { implicitHeight: 200 } } }
    SignalSpy { id: confirmSpy; signalName: "confirmed" }

    TestCase {
        name: "LoadingOverlay"
        when: windowShown

        function init() {
            host.width = 430;
            overlay.text = "";
            overlay.visible = false;
            page.forceActiveFocus();
        }

        function poke() {
            page.counts = { presses: 0, wheels: 0, keys: 0 };
            for (const button of [Qt.LeftButton, Qt.RightButton, Qt.MiddleButton])
                mouseClick(page, 50, 60, button);
            mouseWheel(page, 50, 60, 0, -120);
            for (const key of [Qt.Key_A, Qt.Key_Tab, Qt.Key_Return, Qt.Key_Escape])
                keyClick(key);
            return [page.counts.presses, page.counts.wheels, page.counts.keys];
        }

        function test_visibleOverlaySwallowsInput() {
            compare(poke(), [3, 1, 4], "the page reacts by itself");
            overlay.visible = true;
            compare(poke(), [0, 0, 0]);
            verify(overlay.activeFocus);
        }

        // Hidden again, it gives the focus back, so that the field (a popup's too) still
        // hears Return and Escape; to the fallback when that field has gone meanwhile.
        function test_focusReturnsWhenHidden_data() {
            return [{ tag: "to the field", fieldGone: false }, { tag: "to the fallback", fieldGone: true }];
        }

        function test_focusReturnsWhenHidden(data) {
            field.visible = true;
            field.forceActiveFocus();
            overlay.visible = true;
            verify(overlay.activeFocus);
            field.visible = !data.fieldGone;
            overlay.visible = false;
            verify((data.fieldGone ? fallback : field).activeFocus);
        }

        // A long text wraps inside a card that keeps clear of a narrow window's edges.
        function test_cardHoldsALongTextInANarrowWindow() {
            host.width = 300;
            overlay.text = "Идет подключение к серверу, подождите немного: это может занять до минуты";
            overlay.visible = true;
            const card = findChild(overlay, "card");
            const spinner = findChild(overlay, "spinner");
            const message = findChild(overlay, "message");
            verify(card.x > 0 && card.x + card.width < host.width, `card from ${card.x}, ${card.width} wide`);
            verify(message.y >= spinner.y + spinner.height && message.y + message.height <= card.height && message.x >= 0 && message.x + message.width <= card.width, "the text under the spinner, in the card");
            verify(message.lineCount > 1 && !message.truncated, "wrapped, whole");
        }
    }

    TestCase {
        name: "ConfirmActionPopup"
        when: windowShown

        function openPopup(component, w, h) {
            host.width = w || 430;
            host.height = h || 780;
            const popup = createTemporaryObject(component || popupComponent, host, { hostWidth: host.width, hostHeight: host.height, errorText: "Старая ошибка" });
            if (popup.openForAction)
                popup.openForAction("Удалить соединение?", "Соединение будет удалено.", "Удалить");
            else
                popup.open();
            tryCompare(popup, "opened", true);
            return popup;
        }

        function test_geometry_data() {
            return [
                { tag: "narrowest window", w: 360, h: 640, width: 320 },
                { tag: "small host keeps 280", w: 300, h: 640, width: 280 },
                { tag: "short host keeps 20 on top", w: 430, h: 120, width: 360 },
                { tag: "wide popup, wide window", w: 1200, h: 900, width: 520, component: widePopupComponent }
            ];
        }

        function test_geometry(data) {
            const popup = openPopup(data.component, data.w, data.h);
            compare([popup.width, popup.x, popup.y, popup.padding], [data.width, (data.w - data.width) / 2, Math.max(20, (data.h - popup.height) / 2), 16]);
        }

        // Opened for an action, it forgets the last one's error and names the button
        // "Подтвердить" when the action gives no text; while the action runs, nothing
        // closes it or confirms again.
        function test_runningActionKeepsThePopupOpen() {
            const popup = openPopup();
            const confirm = findChild(popup.contentItem, "confirmButton");
            compare([confirm.text, popup.errorText], ["Удалить", ""]);
            popup.openForAction("Удалить?", "", "");
            popup.destructive = true;
            compare([confirm.text, confirm.variant], ["Подтвердить", "danger"]);
            confirmSpy.target = popup;
            confirmSpy.clear();
            mouseClick(confirm);
            popup.loading = true;
            keyClick(Qt.Key_Escape);
            mouseClick(host, 5, 5);
            mouseClick(findChild(popup.contentItem, "cancelButton"));
            mouseClick(confirm);
            compare([popup.opened, confirmSpy.count], [true, 1]);
        }
    }
}
