import QtQuick
import Quorvel

// The panel style: a rounded rectangle of backgroundRaised at opacity 0.7,
// outlined in borderColor at opacity 0.25 (line width 1). Content sits inside
// `padding` and is clipped to the panel; with any padding of at least a
// third of the corner radius the clip never reaches the rounded corners.
Item {
    id: root
    property real cornerRadius: 10
    property color borderColor: Theme.neonCyan
    property real padding: 0
    default property alias content: holder.data

    implicitWidth: holder.childrenRect.width + 2 * padding
    implicitHeight: holder.childrenRect.height + 2 * padding

    Rectangle {
        id: shape
        anchors.fill: parent
        radius: root.cornerRadius
        color: Theme.alpha(Theme.backgroundRaised, 0.7)
        border.width: 1
        border.color: Theme.alpha(root.borderColor, 0.25)
    }

    Item {
        id: holder
        anchors.fill: parent
        anchors.margins: root.padding
        clip: true
    }
}
