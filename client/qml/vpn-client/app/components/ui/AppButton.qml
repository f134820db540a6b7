import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../.."

// The button of every form. The control inside is disabled while loading, so a
// loading button takes no click, no key and no hover, whatever `enabled` says.
Item {
    id: root

    property string text: ""
    // "primary", "secondary", "danger" or "text"
    property string variant: "primary"
    property bool loading: false

    readonly property bool interactive: enabled && !loading
    readonly property bool hovered: control.hovered
    readonly property bool pressed: control.down

    signal clicked

    implicitWidth: label.implicitWidth + 28
    implicitHeight: Themes.buttonHeight
    Layout.fillWidth: true
    opacity: interactive ? 1 : 0.55

    function fillColor() {
        if (variant === "text")
            return "transparent";
        if (!interactive)
            return Themes.surfaceSoft;
        if (variant === "primary")
            return pressed ? Themes.accentPressed : hovered ? Themes.accentHover : Themes.accent;
        if (variant === "danger")
            return pressed ? "#dc2626" : hovered ? "#fb7185" : Themes.danger;
        return pressed ? "#23232a" : hovered ? "#25252d" : Themes.surfaceRaised;
    }

    function labelColor() {
        if (variant === "text")
            return Themes.accent;
        if (variant === "primary" && interactive)
            return Themes.accentText;
        return Themes.textPrimary;
    }

    Button {
        id: control

        objectName: "control"
        anchors.fill: parent
        enabled: !root.loading
        hoverEnabled: true
        text: root.text
        Accessible.name: root.text
        onClicked: root.clicked()

        background: Rectangle {
            objectName: "background"
            radius: Themes.radius
            color: root.fillColor()
            border.width: root.variant === "primary" || root.variant === "danger"
                          || root.variant === "text" ? 0 : 1
            border.color: Themes.border
        }

        // The label and spinner are drawn above the control rather than as its
        // content item: the style creates that late, and the width follows the label.
        contentItem: Item {}

        HoverHandler {
            cursorShape: Qt.PointingHandCursor
        }
    }

    // A button squeezed below its width gives up its side margins before its label
    // is cut short; a label that cannot fit anyway keeps them.
    Text {
        id: label

        readonly property real sideMargin: root.width < implicitWidth ? 14 : Math.min(14, (root.width - implicitWidth) / 2)

        objectName: "label"
        anchors.fill: parent
        anchors.leftMargin: sideMargin
        anchors.rightMargin: sideMargin
        visible: !root.loading
        text: root.text
        color: root.labelColor()
        font.pixelSize: 14
        font.weight: Font.DemiBold
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    Spinner {
        objectName: "spinner"
        anchors.centerIn: parent
        width: 20
        height: 20
        visible: root.loading
        lineWidth: 2
        color: root.variant === "primary" && root.enabled ? Themes.accent : Themes.textPrimary
    }
}
