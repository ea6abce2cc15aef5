import QtQuick
import Quorvel

// A category filter: icon, name and count. The chip that is on takes its
// category's colour; the change animates.
Rectangle {
    id: root
    required property int category
    required property string name
    required property string icon
    required property string accentName
    required property int count
    required property bool isSelected
    signal chosen(int category)

    readonly property color accent: ThemePalette.named(accentName)

    objectName: "chip_" + name
    implicitWidth: row.implicitWidth + 16
    implicitHeight: 28
    radius: 14
    color: isSelected ? Theme.alpha(accent, 0.18) : area.containsMouse ? Theme.backgroundCard : "transparent"
    border.width: 1
    border.color: isSelected ? Theme.alpha(accent, 0.7) : Theme.alpha(Theme.textMuted, 0.25)

    Behavior on color { ColorAnimation { duration: 200; easing.type: Easing.InOutQuad } }
    Behavior on border.color { ColorAnimation { duration: 200; easing.type: Easing.InOutQuad } }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 4

        Icon {
            anchors.verticalCenter: parent.verticalCenter
            symbol: root.icon
            size: 11
            color: root.isSelected ? root.accent : Theme.textSecondary
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: root.name
            color: root.isSelected ? root.accent : Theme.textSecondary
            font: Theme.mono(11, root.isSelected ? Font.DemiBold : Font.Normal)
        }
        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: Math.max(18, countText.implicitWidth + 10)
            height: 16
            radius: 8
            color: root.isSelected ? Theme.alpha(root.accent, 0.25) : Theme.backgroundCard
            Text {
                id: countText
                objectName: "chipCount"
                anchors.centerIn: parent
                text: root.count
                color: root.isSelected ? root.accent : Theme.textMuted
                font: Theme.mono(9, Font.Bold)
            }
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.chosen(root.category)
    }
}
