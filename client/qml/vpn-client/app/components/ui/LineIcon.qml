import QtQuick
import "../../.."

// A line icon drawn on a 24-unit grid with round caps and joins, scaled to the
// item's size; the line width is given in pixels, whatever the scale. The buttons'
// icons ("settings", "edit", anything else a waste bin) and the navigation's
// ("peers", "addPeer", "splitTunnel", "balance", "profile").
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
        const dots = [];
        ctx.beginPath();
        switch (name) {
        case "settings":
            drawGear(ctx);
            break;
        case "edit":
            drawPencil(ctx);
            break;
        case "peers":
            drawList(ctx, dots);
            break;
        case "addPeer":
            drawPlusInCircle(ctx);
            break;
        case "splitTunnel":
            drawFork(ctx);
            break;
        case "balance":
            drawWallet(ctx, dots);
            break;
        case "profile":
            drawPerson(ctx);
            break;
        default:
            drawBin(ctx);
        }
        ctx.stroke();
        // Dots are filled, as wide as a line: a stroked tiny circle draws a ring.
        if (dots.length > 0) {
            ctx.fillStyle = color;
            ctx.beginPath();
            for (const dot of dots)
                circle(ctx, dot.x, dot.y, ctx.lineWidth * 0.55);
            ctx.fill();
        }
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

    // A closed circle as its own sub-path, so that nothing joins it to the last point.
    function circle(ctx, x, y, r) {
        ctx.moveTo(x + r, y);
        ctx.arc(x, y, r, 0, 2 * Math.PI, false);
    }

    // three lines, each with a dot before it
    function drawList(ctx, dots) {
        for (const y of [6, 12, 18]) {
            dots.push(Qt.point(4.5, y));
            ctx.moveTo(9, y);
            ctx.lineTo(20, y);
        }
    }

    function drawPlusInCircle(ctx) {
        circle(ctx, 12, 12, 9);
        ctx.moveTo(12, 8);
        ctx.lineTo(12, 16);
        ctx.moveTo(8, 12);
        ctx.lineTo(16, 12);
    }

    // one stem splitting into two arrows
    function drawFork(ctx) {
        ctx.moveTo(12, 21);
        ctx.lineTo(12, 12);
        ctx.lineTo(5, 5);
        ctx.moveTo(12, 12);
        ctx.lineTo(19, 5);
        ctx.moveTo(5, 10);
        ctx.lineTo(5, 5);
        ctx.lineTo(10, 5);
        ctx.moveTo(14, 5);
        ctx.lineTo(19, 5);
        ctx.lineTo(19, 10);
    }

    // a body with a flap over the top and a clasp on the right
    function drawWallet(ctx, dots) {
        ctx.roundedRect(3, 7, 18, 13, 2.5, 2.5);
        ctx.moveTo(5, 7);
        ctx.lineTo(15, 3.5);
        ctx.lineTo(16.5, 7);
        ctx.roundedRect(14.5, 11, 6.5, 5, 1.5, 1.5);
        dots.push(Qt.point(17.5, 13.5));
    }

    // a head over the curve of the shoulders
    function drawPerson(ctx) {
        circle(ctx, 12, 8, 4);
        ctx.moveTo(4, 21);
        ctx.bezierCurveTo(4, 16.5, 7.5, 14, 12, 14);
        ctx.bezierCurveTo(16.5, 14, 20, 16.5, 20, 21);
    }
}
