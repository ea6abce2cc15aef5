import QtQuick
import QtQuick.Controls
import Quorvel

// A thin neonBlue scroll bar that shows while the list moves or is hovered.
ScrollBar {
    id: root
    implicitWidth: 8
    padding: 2
    minimumSize: 0.04
    contentItem: Rectangle {
        implicitWidth: 4
        radius: 2
        color: Theme.alpha(Theme.neonBlue, root.pressed ? 0.7 : 0.4)
        opacity: root.active || root.hovered ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 250 } }
    }
    background: Item {}
}
