import QtQuick
import Quorvel

// A pickable row of the set-up panel (a mode card, a volume): outlined in
// textMuted, or filled and outlined in neonBlue while it is the chosen one;
// the checkmark on the right marks the choice.
Item {
    id: root
    property bool chosen: false
    property real chosenFillOpacity: 0.08
    default property alias content: holder.data
    signal picked()

    implicitHeight: holder.childrenRect.height + 20

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: root.chosen ? Theme.alpha(Theme.neonBlue, root.chosenFillOpacity)
                           : area.containsMouse ? Theme.alpha(Theme.backgroundCard, 0.6) : "transparent"
        border.width: 1
        border.color: root.chosen ? Theme.alpha(Theme.neonBlue, 0.3) : Theme.alpha(Theme.textMuted, 0.1)
        Behavior on color { ColorAnimation { duration: 200; easing.type: Easing.InOutQuad } }
        Behavior on border.color { ColorAnimation { duration: 200; easing.type: Easing.InOutQuad } }
    }

    Item {
        id: holder
        anchors.left: parent.left
        anchors.right: check.left
        anchors.top: parent.top
        anchors.margins: 10
        height: childrenRect.height
    }

    Icon {
        id: check
        objectName: "checkmark"
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        symbol: "checkmark.circle.fill"
        size: 14
        color: Theme.neonBlue
        opacity: root.chosen ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: 200 } }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.picked()
    }
}
