import QtQuick
import Quorvel

// One file type of the catalogue: its category's icon and its type name, in
// the category's colour while chosen, muted otherwise.
Item {
    id: root
    property string typeName
    property string symbol
    property color accent: Theme.neonCyan
    property bool chosen: false
    signal toggled()

    objectName: "chip_" + typeName
    readonly property color tint: chosen ? accent : Theme.textMuted
    implicitHeight: label.implicitHeight + 12
    implicitWidth: label.implicitWidth + 16

    Rectangle {
        anchors.fill: parent
        radius: 6
        color: root.chosen ? Theme.alpha(root.accent, 0.08)
                           : area.containsMouse ? Theme.alpha(Theme.backgroundCard, 0.6) : "transparent"
        border.width: 1
        border.color: root.chosen ? Theme.alpha(root.accent, 0.2) : Theme.alpha(Theme.textMuted, 0.1)
        Behavior on color { ColorAnimation { duration: 150 } }
    }

    Row {
        id: label
        anchors.centerIn: parent
        spacing: 5
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            symbol: root.symbol
            size: 9
            color: root.tint
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            width: Math.min(implicitWidth, Math.max(0, root.width - 30))
            text: root.typeName
            color: root.tint
            font: Theme.mono(9, Font.Medium)
            elide: Text.ElideRight
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.toggled()
    }
}
