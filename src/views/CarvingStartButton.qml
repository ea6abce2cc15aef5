import QtQuick
import Quorvel

// START DEEP SCAN: backgroundDeep on a glowing neonBlue while a scan may
// start, textMuted on backgroundCard (and deaf to presses) otherwise.
Item {
    id: root
    signal clicked()

    implicitWidth: face.width
    implicitHeight: face.height
    activeFocusOnTab: enabled
    Keys.onReturnPressed: if (enabled) root.clicked()
    Keys.onSpacePressed: if (enabled) root.clicked()

    NeonGlow {
        anchors.fill: parent
        color: Theme.neonBlue
        radius: 8
        visible: root.enabled
        Rectangle {
            width: face.width
            height: face.height
            radius: 10
            color: Theme.neonBlue
        }
    }

    Rectangle {
        id: face
        width: content.implicitWidth + 64
        height: content.implicitHeight + 24
        radius: 10
        color: root.enabled ? (area.containsMouse ? Qt.lighter(Theme.neonBlue, 1.15) : Theme.neonBlue) : Theme.backgroundCard
        Behavior on color { ColorAnimation { duration: 150 } }

        Row {
            id: content
            anchors.centerIn: parent
            spacing: 8
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                symbol: "play.fill"
                size: 14
                color: root.enabled ? Theme.backgroundDeep : Theme.textMuted
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "START DEEP SCAN"
                color: root.enabled ? Theme.backgroundDeep : Theme.textMuted
                font: Theme.mono(14, Font.Bold)
            }
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        enabled: root.enabled
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
