import QtQuick
import QtTest
import "qrc:/vpn-client"

// What the kit's covers let through: the busy overlay and a confirmation popup whose
// action runs take no input and hand the focus back; a form note appearing out of view
// is scrolled to. (The fields, buttons and check boxes are worked through the forms.)
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

    Component { id: popupComponent; ConfirmActionPopup { hostWidth: 430; hostHeight: 780 } }
    SignalSpy { id: confirmSpy; signalName: "confirmed" }

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

    TestCase {
        name: "Overlays"
        when: windowShown

        function init() {
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

        // Opened for an action, it forgets the last one's error and names the button
        // "Подтвердить" when the action gives no text; while the action runs, nothing
        // closes it or confirms again (the loading button takes no click).
        function test_runningActionKeepsThePopupOpen() {
            const popup = createTemporaryObject(popupComponent, host, { errorText: "Старая ошибка" });
            popup.openForAction("Удалить соединение?", "Соединение будет удалено.", "Удалить");
            tryCompare(popup, "opened", true);
            const confirm = findChild(popup.contentItem, "confirmButton");
            compare([confirm.text, popup.errorText], ["Удалить", ""]);
            popup.openForAction("Удалить?", "", "");
            compare(confirm.text, "Подтвердить");
            confirmSpy.target = popup;
            mouseClick(confirm);
            popup.loading = true;
            keyClick(Qt.Key_Escape);
            mouseClick(host, 5, 5);
            mouseClick(findChild(popup.contentItem, "cancelButton"));
            mouseClick(confirm);
            compare([popup.opened, confirmSpy.count], [true, 1]);
        }

        function test_formMessageScrolledIntoViewAsItAppears() {
            const scrolled = createTemporaryObject(scrolledPageComponent, host);
            findChild(scrolled, "message").text = "Неверный текущий пароль";
            tryCompare(scrolled, "contentY", 0);
        }
    }
}
