import QtQuick
import Quorvel

// A borderless button that is just an icon; it brightens under the pointer.
Item {
    id: root
    property string symbol
    property real size: 14
    property color color: Theme.textMuted
    signal clicked()

    implicitWidth: glyph.implicitWidth
    implicitHeight: glyph.implicitHeight

    Icon {
        id: glyph
        anchors.centerIn: parent
        symbol: root.symbol
        size: root.size
        color: area.containsMouse ? Theme.textSecondary : root.color
    }

    MouseArea {
        id: area
        anchors.fill: parent
        anchors.margins: -4
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
