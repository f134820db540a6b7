import QtQuick
import "../../.."

// An open arc that turns while it runs. The arc is painted once; turning it is a
// rotation of the item, so a running spinner costs no repaint per step.
Item {
    id: spinner

    property color color: Themes.accent
    property real lineWidth: 2
    property bool running: visible
    // Current turn in radians, advanced 0.18 every 16 ms and kept within [0, 2π).
    property real angle: 0

    rotation: angle * 180 / Math.PI

    Timer {
        interval: 16
        repeat: true
        running: spinner.running && spinner.visible
        onTriggered: spinner.angle = (spinner.angle + 0.18) % (2 * Math.PI)
    }

    Canvas {
        id: canvas

        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            ctx.strokeStyle = spinner.color;
            ctx.lineWidth = spinner.lineWidth;
            ctx.lineCap = "round";
            const radius = (Math.min(width, height) - spinner.lineWidth) / 2;
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, radius, 0, 1.45 * Math.PI, false);
            ctx.stroke();
        }
    }

    onColorChanged: canvas.requestPaint()
    onLineWidthChanged: canvas.requestPaint()
}
