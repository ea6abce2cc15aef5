import QtQuick
import Quorvel
import QtQuick.Window

// Invisible bands along the window's edges and corners that hand resizing to
// the window manager (startSystemResize), as a system frame would.
Item {
    id: root
    required property Window window
    readonly property real band: WindowChrome.resizeMargin

    component Edge: MouseArea {
        property int edges
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton
        onPressed: root.window.startSystemResize(edges)
    }

    Edge { x: root.band; y: 0; width: root.width - 2 * root.band; height: root.band; edges: Qt.TopEdge; cursorShape: Qt.SizeVerCursor }
    Edge { x: root.band; y: root.height - root.band; width: root.width - 2 * root.band; height: root.band; edges: Qt.BottomEdge; cursorShape: Qt.SizeVerCursor }
    Edge { x: 0; y: root.band; width: root.band; height: root.height - 2 * root.band; edges: Qt.LeftEdge; cursorShape: Qt.SizeHorCursor }
    Edge { x: root.width - root.band; y: root.band; width: root.band; height: root.height - 2 * root.band; edges: Qt.RightEdge; cursorShape: Qt.SizeHorCursor }
    Edge { x: 0; y: 0; width: root.band; height: root.band; edges: Qt.TopEdge | Qt.LeftEdge; cursorShape: Qt.SizeFDiagCursor }
    Edge { x: root.width - root.band; y: 0; width: root.band; height: root.band; edges: Qt.TopEdge | Qt.RightEdge; cursorShape: Qt.SizeBDiagCursor }
    Edge { x: 0; y: root.height - root.band; width: root.band; height: root.band; edges: Qt.BottomEdge | Qt.LeftEdge; cursorShape: Qt.SizeBDiagCursor }
    Edge { x: root.width - root.band; y: root.height - root.band; width: root.band; height: root.band; edges: Qt.BottomEdge | Qt.RightEdge; cursorShape: Qt.SizeFDiagCursor }
}
