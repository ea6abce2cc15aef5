import QtQuick
import Quorvel

// A neon button: an optional symbol and a label in `accent` on a tinted,
// outlined rounded rectangle; `filled` makes it the screen's main action
// (accent fill, dark label). Dimmed and inert while disabled.
Rectangle {
    id: root
    property string text
    property string symbol
    property color accent: Theme.neonCyan
    property bool filled: false
    signal clicked()

    readonly property bool hovered: area.containsMouse && enabled

    implicitWidth: row.implicitWidth + 28
    implicitHeight: 30
    radius: 7
    opacity: enabled ? 1.0 : 0.4
    color: filled ? (hovered ? Qt.lighter(accent, 1.15) : accent)
                  : Theme.alpha(accent, hovered ? 0.25 : 0.12)
    border.width: 1
    border.color: Theme.alpha(accent, filled ? 0.9 : 0.45)

    Behavior on color {
        ColorAnimation { duration: 120 }
    }

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 7

        Icon {
            visible: root.symbol.length > 0
            anchors.verticalCenter: parent.verticalCenter
            symbol: root.symbol
            size: 12
            color: root.filled ? Theme.backgroundDeep : root.accent
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: root.text
            color: root.filled ? Theme.backgroundDeep : root.accent
            font: Theme.mono(10, Font.Bold)
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: root.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: root.clicked()
    }
}
