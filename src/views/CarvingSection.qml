import QtQuick
import QtQuick.Layouts
import Quorvel

// One section of the set-up panel: a caption (with an optional control on its
// right) over its content, in a glass panel.
GlassBackground {
    id: root
    property string caption
    // Sits at the right end of the caption row.
    property alias trailing: trailingHolder.data
    default property alias body: bodyColumn.data

    cornerRadius: 12
    borderColor: Theme.neonBlue
    padding: 16
    implicitHeight: column.implicitHeight + 2 * padding

    ColumnLayout {
        id: column
        width: parent.width
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            Text {
                text: root.caption
                color: Theme.textMuted
                font.family: Theme.monospacedFamily
                font.pixelSize: 9
                font.bold: true
                font.letterSpacing: 2
            }
            Item { Layout.fillWidth: true }
            Item {
                id: trailingHolder
                implicitWidth: childrenRect.width
                implicitHeight: childrenRect.height
            }
        }

        ColumnLayout {
            id: bodyColumn
            Layout.fillWidth: true
            spacing: 6
        }
    }
}
