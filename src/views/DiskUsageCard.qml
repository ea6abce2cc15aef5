import QtQuick
import Quorvel
import QtQuick.Layouts

// How full the disk is: percentage, bar, free and total size. It turns
// neonRed once more than 90 % is used; DiskUsage decides all of it.
GlassBackground {
    id: root
    required property DiskUsage usage

    cornerRadius: 8
    borderColor: Theme.neonCyan
    padding: 10
    implicitHeight: column.implicitHeight + 2 * padding

    ColumnLayout {
        id: column
        width: parent.width
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            Text {
                text: "Disk Usage"
                color: Theme.textSecondary
                font: Theme.captionFont
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "diskPercent"
                text: root.usage.percentText
                color: root.usage.accent
                font: Theme.mono(11, Font.Bold)
            }
        }

        Rectangle {
            id: track
            Layout.fillWidth: true
            Layout.preferredHeight: 6
            radius: 3
            color: Theme.backgroundDeep

            Rectangle {
                objectName: "diskFill"
                width: track.width * root.usage.usedFraction
                height: parent.height
                radius: 3
                color: root.usage.accent
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Text {
                objectName: "diskFree"
                text: root.usage.freeText + " free"
                color: Theme.textMuted
                font: Theme.mono(9, Font.Normal)
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "diskTotal"
                text: root.usage.totalText
                color: Theme.textMuted
                font: Theme.mono(9, Font.Normal)
            }
        }
    }
}
