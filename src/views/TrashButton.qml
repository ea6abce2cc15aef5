import QtQuick
import Quorvel

// A toolbar button of the Trash screen: symbol and label in the accent
// colour on a faint fill of it, or, when `prominent`, dark on the full accent.
// Disabled, it fades to backgroundCard and muted text.
Rectangle {
    id: root
    property string symbol
    property string text
    property color accent: Theme.neonCyan
    property bool prominent: false
    // The symbol turns continuously (the scan button while it scans).
    property bool spinning: false
    signal clicked()

    readonly property color foreground: !enabled ? Theme.textMuted
                                                 : prominent ? Theme.backgroundDeep : accent

    implicitWidth: content.implicitWidth + 28
    implicitHeight: 34
    radius: 8
    color: !enabled ? Theme.backgroundCard
                    : prominent ? Theme.alpha(accent, area.containsMouse ? 0.85 : 1.0)
                                : Theme.alpha(accent, area.containsMouse ? 0.22 : 0.12)
    border.width: 1
    border.color: enabled ? Theme.alpha(accent, prominent ? 1.0 : 0.45) : Theme.alpha(Theme.textMuted, 0.2)

    Behavior on color { ColorAnimation { duration: 150 } }

    Row {
        id: content
        anchors.centerIn: parent
        spacing: 8

        Icon {
            id: glyph
            anchors.verticalCenter: parent.verticalCenter
            symbol: root.symbol
            size: 12
            color: root.foreground
            RotationAnimation on rotation {
                running: root.spinning
                from: 0
                to: 360
                duration: 1000
                loops: Animation.Infinite
                onStopped: glyph.rotation = 0
            }
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: root.text
            color: root.foreground
            font: Theme.mono(11, root.prominent ? Font.Bold : Font.DemiBold)
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        enabled: root.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
