import QtQuick
import Quorvel
import QtQuick.Window

// Close, minimise and zoom for a window without a system title bar: three
// neon lights whose symbols appear while the pointer is over them.
Row {
    id: root
    required property Window window
    signal zoomRequested()

    spacing: 8

    HoverHandler { id: hover }

    component Light: Rectangle {
        id: light
        property string symbol
        property color tint
        signal activated()

        width: 12
        height: 12
        radius: 6
        color: area.pressed ? Qt.darker(tint, 1.4) : tint
        border.width: 1
        border.color: Theme.alpha(Theme.backgroundDeep, 0.4)

        Icon {
            anchors.centerIn: parent
            symbol: light.symbol
            size: 8
            color: Theme.backgroundDeep
            visible: hover.hovered
        }
        MouseArea {
            id: area
            anchors.fill: parent
            onClicked: light.activated()
        }
    }

    Light {
        objectName: "closeButton"
        symbol: "xmark"
        tint: Theme.neonRed
        onActivated: root.window.close()
    }
    Light {
        objectName: "minimizeButton"
        symbol: "minus"
        tint: Theme.neonOrange
        onActivated: root.window.showMinimized()
    }
    Light {
        objectName: "zoomButton"
        symbol: "plus"
        tint: Theme.neonGreen
        onActivated: root.zoomRequested()
    }
}
