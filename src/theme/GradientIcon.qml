import QtQuick
import Quorvel
import Qt5Compat.GraphicalEffects

// An icon painted with Theme.neonGradient (neonCyan at the leading edge,
// neonBlue at the trailing edge). The software renderer draws it in neonCyan.
Item {
    id: root
    property string symbol
    property real size: 20

    implicitWidth: glyph.implicitWidth
    implicitHeight: glyph.implicitHeight

    readonly property bool effectsAvailable: GraphicsInfo.api !== GraphicsInfo.Software
                                             && GraphicsInfo.api !== GraphicsInfo.Unknown

    Icon {
        id: glyph
        anchors.centerIn: parent
        symbol: root.symbol
        size: root.size
        color: Theme.neonCyan
        visible: !root.effectsAvailable
    }

    LinearGradient {
        visible: root.effectsAvailable
        anchors.fill: glyph
        source: glyph
        start: Qt.point(0, 0)
        end: Qt.point(width, 0)
        // The effect lays its gradient along start-end itself, so its stops
        // must not carry the horizontal orientation of Theme.neonGradient.
        gradient: Gradient {
            GradientStop { position: 0.0; color: Theme.neonCyan }
            GradientStop { position: 1.0; color: Theme.neonBlue }
        }
    }
}
