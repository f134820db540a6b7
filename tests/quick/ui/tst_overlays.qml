import QtQuick
import QtTest
import "qrc:/vpn-client"

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
    Component {
        id: widePopupComponent

        AppPopup { maximumWidth: 520; contentItem: Item { implicitHeight: 200 } }
    }
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
            mouseDoubleClickSequence(page, 80, 90);
            mouseWheel(page, 50, 60, 0, -120);
            for (const key of [Qt.Key_A, Qt.Key_Tab, Qt.Key_Return, Qt.Key_Escape, Qt.Key_Space])
                keyClick(key);
            return [page.counts.presses, page.counts.wheels, page.counts.keys];
        }

        function test_visibleOverlaySwallowsInput() {
            verify(!poke().includes(0), "the page reacts by itself");
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

        function test_cardSize_data() {
            const longText = "Идет подключение к серверу, подождите немного: это может занять до минуты";
            return [
                { tag: "no text", text: "", hostWidth: 430, width: 72, height: 72 },
                { tag: "one letter", text: "…", hostWidth: 430, width: 72 },
                { tag: "connecting", text: "Идет подключение, подождите...", hostWidth: 430, min: 150, max: 300 },
                { tag: "long text", text: longText, hostWidth: 430, width: 300 },
                { tag: "long text, narrow window", text: longText, hostWidth: 300, width: 252 },
                { tag: "long text, tiny window", text: longText, hostWidth: 100, width: 72 },
            ];
        }

        function test_cardSize(data) {
            host.width = data.hostWidth;
            overlay.text = data.text;
            overlay.visible = true;
            const card = findChild(overlay, "card");
            const spinner = findChild(overlay, "spinner");
            const message = findChild(overlay, "message");

            if (data.width)
                compare(card.width, data.width);
            else
                verify(card.width >= data.min && card.width <= data.max, `width ${card.width}`);
            if (data.height)
                compare(card.height, data.height);
            compare(message.visible, data.text !== "");
            if (data.text !== "") {
                verify(message.y >= spinner.y + spinner.height + 14);
                verify(message.y + message.height <= card.height, "the text stays in the card");
            }
        }
    }

    TestCase {
        name: "ConfirmActionPopup"
        when: windowShown

        function init() {
            host.width = 430;
            host.height = 780;
        }

        function openPopup(component, properties, confirmText) {
            const popup = createTemporaryObject(component, host, Object.assign({
                hostWidth: host.width, hostHeight: host.height,
            }, properties));
            if (popup.openForAction)
                popup.openForAction("Удалить соединение?", "Соединение будет удалено.", confirmText);
            else
                popup.open();
            tryCompare(popup, "opened", true);
            return popup;
        }

        function test_geometry_data() {
            return [
                { tag: "narrowest window", w: 360, h: 640, width: 320 },
                { tag: "default window", w: 430, h: 780, width: 360 },
                { tag: "wide window", w: 1200, h: 900, width: 360 },
                { tag: "small host keeps 280", w: 300, h: 640, width: 280 },
                { tag: "short host keeps 20 on top", w: 430, h: 120, width: 360 },
                { tag: "wide popup, wide window", w: 1200, h: 900, width: 520, component: widePopupComponent },
                { tag: "wide popup, narrow window", w: 360, h: 640, width: 320, component: widePopupComponent },
            ];
        }

        function test_geometry(data) {
            host.width = data.w;
            host.height = data.h;
            const popup = openPopup(data.component || popupComponent);
            compare(popup.width, data.width);
            compare(popup.x, (data.w - data.width) / 2);
            compare(popup.y, Math.max(20, (data.h - popup.height) / 2));
            compare(popup.padding, 16);
        }

        function test_openForAction_data() {
            return [
                { tag: "given text", confirmText: "Удалить", shown: "Удалить" },
                { tag: "empty text", confirmText: "", shown: "Подтвердить" },
                { tag: "no text", confirmText: undefined, shown: "Подтвердить" },
            ];
        }

        function test_openForAction(data) {
            const popup = openPopup(popupComponent, { errorText: "Старая ошибка" }, data.confirmText);
            compare(findChild(popup.contentItem, "confirmButton").text, data.shown);
            compare(popup.errorText, "");
        }

        function test_closingClearsTheError_data() {
            return [
                { tag: "escape", close: popup => keyClick(Qt.Key_Escape) },
                { tag: "press outside", close: popup => mouseClick(host, 5, 5) },
                { tag: "cancel button", close: popup => mouseClick(findChild(popup.contentItem, "cancelButton")) },
            ];
        }

        function test_closingClearsTheError(data) {
            const popup = openPopup(popupComponent);
            popup.errorText = "Не удалось удалить соединение";
            verify(findChild(popup.contentItem, "error").visible);
            data.close(popup);
            tryCompare(popup, "visible", false);
            compare(popup.errorText, "");
        }

        function test_runningActionKeepsThePopupOpen() {
            const popup = openPopup(popupComponent, { destructive: true });
            const confirm = findChild(popup.contentItem, "confirmButton");
            compare(confirm.variant, "danger");
            confirmSpy.target = popup;
            confirmSpy.clear();
            mouseClick(confirm);
            compare(confirmSpy.count, 1);

            popup.loading = true;
            keyClick(Qt.Key_Escape);
            mouseClick(host, 5, 5);
            mouseClick(findChild(popup.contentItem, "cancelButton"));
            mouseClick(confirm);
            verify(popup.opened);
            compare(confirmSpy.count, 1);
        }
    }
}
