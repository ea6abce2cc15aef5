import QtQuick
import Quorvel
import QtQuick.Layouts
import QtQuick.Window

// The strip along the top that stands in for the title bar: window buttons
// (or, on macOS, room for the system's), the program's icon and name, the
// status indicator and the About button. Double-click zooms the window.
Rectangle {
    id: root
    required property Window window
    required property NavigationModel navigation

    objectName: "titleStrip"
    implicitHeight: row.implicitHeight + 16
    color: Theme.alpha(Theme.backgroundPanel, 0.8)

    TapHandler {
        onDoubleTapped: root.toggleZoom()
    }

    function toggleZoom() {
        if (window.visibility === Window.Maximized)
            window.showNormal()
        else
            window.showMaximized()
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        anchors.leftMargin: 4
        anchors.rightMargin: 4
        spacing: 12

        Item {
            Layout.preferredWidth: WindowChrome.controlsInset
            Layout.preferredHeight: 1
            Layout.alignment: Qt.AlignVCenter

            WindowControls {
                visible: WindowChrome.drawsWindowControls
                anchors.verticalCenter: parent.verticalCenter
                x: 8
                window: root.window
                onZoomRequested: root.toggleZoom()
            }
        }

        NeonGlow {
            color: Theme.neonCyan
            radius: 8
            GradientIcon {
                symbol: "arrow.counterclockwise.circle.fill"
                size: 20
            }
        }

        Text {
            text: Qt.application.name
            color: Theme.neonCyan
            font: Theme.mono(14, Font.Bold)
        }

        Item { Layout.fillWidth: true }

        Row {
            objectName: "statusIndicator"
            spacing: 6
            Layout.alignment: Qt.AlignVCenter

            NeonGlow {
                anchors.verticalCenter: parent.verticalCenter
                width: 6
                height: 6
                color: Theme.neonGreen
                radius: 4
                Rectangle {
                    width: 6
                    height: 6
                    radius: 3
                    color: Theme.neonGreen
                }
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "READY"
                color: Theme.neonGreen
                font: Theme.captionFont
            }
        }

        IconButton {
            objectName: "aboutButton"
            Layout.rightMargin: 12
            symbol: "info.circle"
            size: 14
            color: Theme.textMuted
            onClicked: root.navigation.toggleAbout()
        }
    }
}
