import QtQuick
import Quorvel

// One stat of the Trash header: a value in its colour over a small label.
Rectangle {
    id: root
    property string value
    property string label
    property color accent: Theme.neonCyan

    implicitWidth: Math.max(92, column.implicitWidth + 28)
    implicitHeight: column.implicitHeight + 16
    radius: 10
    color: Theme.alpha(accent, 0.06)
    border.width: 1
    border.color: Theme.alpha(accent, 0.25)

    Column {
        id: column
        anchors.centerIn: parent
        spacing: 2

        Text {
            objectName: "statValue"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.value
            color: root.accent
            font: Theme.mono(17, Font.Bold)
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.label
            color: Theme.textMuted
            font.family: Theme.monospacedFamily
            font.pixelSize: 9
            font.bold: true
            font.letterSpacing: 2
        }
    }
}
