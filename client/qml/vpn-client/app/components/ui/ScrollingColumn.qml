import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The body of a page taller than its window: a column (14 apart) that scrolls
// vertically and never sideways.
Flickable {
    id: root

    default property alias content: column.data

    contentWidth: width
    contentHeight: column.implicitHeight
    clip: true
    boundsBehavior: Flickable.StopAtBounds

    ScrollBar.vertical: ScrollBar {}

    ColumnLayout {
        id: column

        width: root.width
        spacing: 14
    }
}
