import QtQuick
import QtTest
import "qrc:/vpn-client"

Item {
    id: host

    width: 430
    height: 780

    Component { id: buttonComponent; AppButton { width: 200; text: "Войти" } }
    SignalSpy { id: clickSpy; signalName: "clicked" }

    TestCase {
        name: "AppButton"
        when: windowShown

        // The pointer starts away from where the buttons are made.
        function init() {
            mouseMove(host, host.width - 1, host.height - 1);
        }

        function test_fillAndClicksByVariantAndState_data() {
            return [
                { tag: "primary", variant: "primary", fill: Themes.accent, label: "#09090b", clicks: 1 },
                { tag: "primary hovered", variant: "primary", pointer: "hover", fill: Themes.accentHover, clicks: 1 },
                { tag: "primary pressed", variant: "primary", pointer: "press", fill: Themes.accentPressed, clicks: 1 },
                { tag: "primary disabled", variant: "primary", enabled: false, fill: Themes.surfaceSoft, label: Themes.textPrimary, clicks: 0 },
                { tag: "primary loading", variant: "primary", loading: true, fill: Themes.surfaceSoft, spinner: Themes.accent, clicks: 0 },
                { tag: "primary loading disabled", variant: "primary", enabled: false, loading: true, fill: Themes.surfaceSoft, spinner: Themes.textPrimary, clicks: 0 },
                { tag: "danger", variant: "danger", fill: Themes.danger, label: Themes.textPrimary, clicks: 1 },
                { tag: "danger hovered", variant: "danger", pointer: "hover", fill: "#fb7185", clicks: 1 },
                { tag: "danger pressed", variant: "danger", pointer: "press", fill: "#dc2626", clicks: 1 },
                { tag: "danger loading", variant: "danger", loading: true, fill: Themes.surfaceSoft, spinner: Themes.textPrimary, clicks: 0 },
                { tag: "secondary", variant: "secondary", fill: Themes.surfaceRaised, border: 1, clicks: 1 },
                { tag: "secondary hovered", variant: "secondary", pointer: "hover", fill: "#25252d", border: 1, clicks: 1 },
                { tag: "secondary pressed", variant: "secondary", pointer: "press", fill: "#23232a", border: 1, clicks: 1 },
                { tag: "secondary disabled", variant: "secondary", enabled: false, fill: Themes.surfaceSoft, border: 1, clicks: 0 },
                { tag: "unknown variant is secondary", variant: "ghost", fill: Themes.surfaceRaised, border: 1, clicks: 1 },
                { tag: "text", variant: "text", fill: "transparent", label: Themes.accent, clicks: 1 },
                { tag: "text disabled", variant: "text", enabled: false, fill: "transparent", label: Themes.accent, clicks: 0 },
            ];
        }

        function test_fillAndClicksByVariantAndState(data) {
            const button = createTemporaryObject(buttonComponent, host, {
                variant: data.variant, enabled: data.enabled !== false, loading: data.loading === true,
            });
            const background = findChild(button, "background");
            const label = findChild(button, "label");
            const spinner = findChild(button, "spinner");

            if (data.pointer === "hover")
                mouseMove(button, button.width / 2, button.height / 2);
            if (data.pointer === "press")
                mousePress(button, button.width / 2, button.height / 2);
            verify(Qt.colorEqual(background.color, data.fill), `fill ${background.color}`);
            if (data.pointer === "press")
                mouseRelease(button, button.width / 2, button.height / 2);
            compare(background.border.width, data.border || 0);
            if (data.label)
                verify(Qt.colorEqual(label.color, data.label), `label ${label.color}`);
            compare(label.visible, !data.loading);
            compare(spinner.visible, data.loading === true);
            if (data.spinner)
                verify(Qt.colorEqual(spinner.color, data.spinner), `spinner ${spinner.color}`);
            compare(button.opacity, data.clicks ? 1 : 0.55);

            clickSpy.target = button;
            clickSpy.clear();
            mouseClick(button);
            compare(clickSpy.count, data.clicks);
        }
    }
}
