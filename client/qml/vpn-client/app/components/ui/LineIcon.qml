import QtQuick
import "../../.."

// A line icon drawn on a 24-unit grid with round caps and joins, scaled to the
// item's size; the line width is given in pixels, whatever the scale.
Canvas {
    id: icon

    property string name: ""
    property color color: Themes.textSecondary
    property real lineWidth: 2

    implicitWidth: 22
    implicitHeight: 22

    onNameChanged: requestPaint()
    onColorChanged: requestPaint()
    onLineWidthChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d");
        ctx.reset();
        const scale = Math.min(width, height) / 24;
        ctx.scale(scale, scale);
        ctx.strokeStyle = color;
        ctx.lineWidth = lineWidth / scale;
        ctx.lineCap = "round";
        ctx.lineJoin = "round";
        ctx.beginPath();
        switch (name) {
        case "settings":
            drawGear(ctx);
            break;
        case "edit":
            drawPencil(ctx);
            break;
        default:
            drawBin(ctx);
        }
        ctx.stroke();
    }

    function drawGear(ctx) {
        // eight teeth around a ring, a hole in the middle
        for (let i = 0; i < 8; ++i) {
            const a = i * Math.PI / 4;
            ctx.moveTo(12 + 7 * Math.cos(a), 12 + 7 * Math.sin(a));
            ctx.lineTo(12 + 10 * Math.cos(a), 12 + 10 * Math.sin(a));
        }
        ctx.moveTo(19, 12);
        ctx.arc(12, 12, 7, 0, 2 * Math.PI, false);
        ctx.moveTo(15, 12);
        ctx.arc(12, 12, 3, 0, 2 * Math.PI, false);
    }

    function drawPencil(ctx) {
        ctx.moveTo(4, 20);
        ctx.lineTo(4.8, 15.6);
        ctx.lineTo(15.6, 4.8);
        ctx.lineTo(19.2, 8.4);
        ctx.lineTo(8.4, 19.2);
        ctx.closePath();
        ctx.moveTo(13, 7.4);
        ctx.lineTo(16.6, 11);
        ctx.moveTo(4, 20);
        ctx.lineTo(20, 20);
    }

    function drawBin(ctx) {
        ctx.moveTo(4, 7);
        ctx.lineTo(20, 7);
        ctx.moveTo(9, 7);
        ctx.lineTo(9, 4);
        ctx.lineTo(15, 4);
        ctx.lineTo(15, 7);
        ctx.moveTo(6, 7);
        ctx.lineTo(7, 20);
        ctx.lineTo(17, 20);
        ctx.lineTo(18, 7);
        ctx.moveTo(10, 11);
        ctx.lineTo(10, 16);
        ctx.moveTo(14, 11);
        ctx.lineTo(14, 16);
    }
}
