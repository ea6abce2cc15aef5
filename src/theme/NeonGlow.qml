pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import Qt5Compat.GraphicalEffects

// Draws its content unchanged over three centred shadows in `color`: blur
// 0.3, 0.7 and 1.0 of `radius` at opacity 0.8, 0.4 and 0.2. Without a GPU
// (the software renderer, e.g. on the offscreen platform) only the content
// is drawn.
Item {
    id: root
    property color color: Theme.neonCyan
    property real radius: 8
    default property alias content: holder.data

    implicitWidth: holder.childrenRect.width
    implicitHeight: holder.childrenRect.height

    readonly property bool effectsAvailable: GraphicsInfo.api !== GraphicsInfo.Software
                                             && GraphicsInfo.api !== GraphicsInfo.Unknown

    Repeater {
        model: root.effectsAvailable ? [[0.3, 0.8], [0.7, 0.4], [1.0, 0.2]] : []
        delegate: DropShadow {
            required property var modelData
            anchors.fill: holder
            source: holder
            horizontalOffset: 0
            verticalOffset: 0
            radius: root.radius * modelData[0]
            samples: Math.max(1, Math.ceil(radius) * 2 + 1)
            color: Theme.alpha(root.color, modelData[1])
            transparentBorder: true
        }
    }

    Item {
        id: holder
        anchors.fill: parent
    }
}
