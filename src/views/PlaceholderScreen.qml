import QtQuick
import Quorvel

// Stands in for a screen that is not built yet: its icon, title and one line.
Rectangle {
    id: root
    property string title
    property string symbol
    property color accent: Theme.neonCyan
    property string line

    color: Theme.backgroundDeep

    Column {
        anchors.centerIn: parent
        spacing: 14

        NeonGlow {
            anchors.horizontalCenter: parent.horizontalCenter
            color: root.accent
            radius: 8
            Icon {
                symbol: root.symbol
                size: 44
                color: root.accent
            }
        }
        Text {
            objectName: "screenTitle"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.title
            color: Theme.textPrimary
            font: Theme.headlineFont
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.line
            color: Theme.textMuted
            font: Theme.captionFont
        }
    }
}
