import QtQuick
import QtQuick.Controls.Basic
import "../../.."

// The country drop-down of the add-peer form, drawn like the kit's text fields: a box of
// field height, its list at most 220 high with the highlighted entry in the accent.
ComboBox {
    id: root

    property bool hasError: false

    implicitHeight: Themes.fieldHeight
    font.pixelSize: 15

    background: Rectangle {
        radius: Themes.radius
        color: root.enabled ? Themes.surfaceRaised : Themes.surfaceSoft
        border.width: 1
        border.color: root.hasError ? Themes.danger : root.visualFocus || root.popup.visible ? Themes.accent : Themes.border
    }

    contentItem: Text {
        leftPadding: 14
        rightPadding: root.indicator.width + 8
        text: root.displayText
        color: Themes.textPrimary
        font: root.font
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    indicator: Canvas {
        x: root.width - width - 14
        y: (root.height - height) / 2
        width: 12
        height: 8
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            ctx.strokeStyle = Themes.textSecondary;
            ctx.lineWidth = 2;
            ctx.lineCap = "round";
            ctx.lineJoin = "round";
            ctx.beginPath();
            ctx.moveTo(1, 1);
            ctx.lineTo(6, 6);
            ctx.lineTo(11, 1);
            ctx.stroke();
        }
    }

    delegate: ItemDelegate {
        id: entry

        required property var modelData

        width: ListView.view ? ListView.view.width : implicitWidth
        height: 40
        leftPadding: 14
        highlighted: ListView.isCurrentItem

        contentItem: Text {
            text: entry.modelData
            color: entry.highlighted ? Themes.accent : Themes.textPrimary
            font.pixelSize: 15
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }

        background: Rectangle {
            radius: Themes.radiusSmall
            color: entry.highlighted ? Themes.accentMuted : "transparent"
        }
    }

    popup: Popup {
        y: root.height + 4
        width: root.width
        implicitHeight: Math.min(contentItem.implicitHeight + topPadding + bottomPadding, 220)
        padding: 4

        contentItem: ListView {
            objectName: "countryList"
            clip: true
            implicitHeight: contentHeight
            model: root.popup.visible ? root.delegateModel : null
            currentIndex: root.highlightedIndex
            boundsBehavior: Flickable.StopAtBounds

            ScrollIndicator.vertical: ScrollIndicator {}
        }

        background: Rectangle {
            radius: Themes.radius
            color: Themes.surface
            border.width: 1
            border.color: Themes.border
        }
    }
}
