import QtQuick
import Quorvel

// A tinted button of the Deep Scan screen: icon and text in `accent` on the
// accent at `fillOpacity`, outlined at `outlineOpacity`. Disabled it turns
// textMuted without fill and ignores presses; under the pointer the fill
// brightens.
Item {
    id: root
    property string symbol
    property string text
    property color accent: Theme.neonBlue
    property real fontSize: 10
    property int weight: Font.Medium
    property bool monospaced: false
    property real horizontalPadding: 10
    property real verticalPadding: 5
    property real fillOpacity: 0.1
    property real outlineOpacity: 0.3
    property real cornerRadius: 6
    property real iconSize: fontSize
    signal clicked()

    readonly property color shownColor: enabled ? accent : Theme.textMuted
    readonly property bool hovered: area.containsMouse

    implicitWidth: row.implicitWidth + 2 * horizontalPadding
    implicitHeight: row.implicitHeight + 2 * verticalPadding
    activeFocusOnTab: enabled
    Keys.onSpacePressed: root.clicked()
    Keys.onReturnPressed: root.clicked()

    Rectangle {
        anchors.fill: parent
        radius: root.cornerRadius
        color: root.enabled ? Theme.alpha(root.accent, root.fillOpacity + (root.hovered ? 0.08 : 0)) : "transparent"
        border.width: root.outlineOpacity > 0 ? 1 : 0
        border.color: root.enabled ? Theme.alpha(root.accent, root.activeFocus ? 0.8 : root.outlineOpacity)
                                   : Theme.alpha(Theme.textMuted, 0.15)
        Behavior on color { ColorAnimation { duration: 120 } }
    }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 6

        Icon {
            anchors.verticalCenter: parent.verticalCenter
            visible: root.symbol.length > 0
            symbol: root.symbol
            size: root.iconSize
            color: root.shownColor
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: root.text
            color: root.shownColor
            font.family: root.monospaced ? Theme.monospacedFamily : Theme.defaultFamily
            font.pixelSize: root.fontSize
            font.weight: root.weight
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
