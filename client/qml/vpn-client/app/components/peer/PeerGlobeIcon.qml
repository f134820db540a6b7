import QtQuick
import "../../.."

// The globe at the head of a peer row, drawn on a 24-unit grid like the kit's line
// icons; struck through diagonally while the peer is not connected.
Canvas {
    id: icon

    property color color: Themes.textMuted
    property bool crossed: false

    implicitWidth: 24
    implicitHeight: 24

    onColorChanged: requestPaint()
    onCrossedChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d");
        ctx.reset();
        const scale = Math.min(width, height) / 24;
        ctx.scale(scale, scale);
        ctx.strokeStyle = color;
        ctx.lineWidth = 1.8 / scale;
        ctx.lineCap = "round";
        ctx.lineJoin = "round";
        ctx.beginPath();
        // the outline, the equator and two parallels
        ctx.moveTo(21, 12);
        ctx.arc(12, 12, 9, 0, 2 * Math.PI, false);
        ctx.moveTo(3, 12);
        ctx.lineTo(21, 12);
        ctx.moveTo(4.6, 7.5);
        ctx.lineTo(19.4, 7.5);
        ctx.moveTo(4.6, 16.5);
        ctx.lineTo(19.4, 16.5);
        // a meridian
        ctx.moveTo(12, 3);
        ctx.bezierCurveTo(7.5, 6, 7.5, 18, 12, 21);
        ctx.bezierCurveTo(16.5, 18, 16.5, 6, 12, 3);
        if (crossed) {
            ctx.moveTo(3.5, 3.5);
            ctx.lineTo(20.5, 20.5);
        }
        ctx.stroke();
    }
}
