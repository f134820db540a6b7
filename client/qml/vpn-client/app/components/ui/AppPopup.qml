import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import "../../.."

// The frame of every modal popup: centred across the host, never narrower than 280
// or wider than maximumWidth, kept 20 from the top when the host is short.
Popup {
    id: root

    property real hostWidth: 400
    property real hostHeight: 400
    property real maximumWidth: 360

    modal: true
    // Escape reaches a popup only while it has the focus.
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: Math.max(280, Math.min(hostWidth - 40, maximumWidth))
    x: (hostWidth - width) / 2
    y: Math.max(20, (hostHeight - height) / 2)
    padding: 16

    // The style's own dimming is a light grey that would brighten this dark theme.
    T.Overlay.modal: Rectangle {
        color: "#9909090b"
    }

    background: Rectangle {
        radius: Themes.radiusLarge
        color: Themes.surface
        border.width: 1
        border.color: Themes.border
    }
}
