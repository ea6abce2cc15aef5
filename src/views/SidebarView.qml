pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Layouts

// The navigation sidebar: header, one row per destination, and the SYSTEM
// section with the disk-usage card of "/".
Rectangle {
    id: root
    required property NavigationModel navigation

    color: Theme.alpha(Theme.backgroundPanel, 0.5)

    DiskUsage {
        id: diskUsage
        path: "/"
    }

    // The card follows the disk whenever the sidebar changes, besides its timer.
    Connections {
        target: root.navigation
        function onSelectedNavChanged() { diskUsage.refresh() }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Column {
            Layout.fillWidth: true
            Layout.topMargin: 20
            Layout.bottomMargin: 24
            spacing: 8

            Rectangle {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 56
                height: 56
                radius: 28
                color: Theme.backgroundCard
                border.width: 1
                border.color: Theme.alpha(Theme.neonCyan, 0.4)

                NeonGlow {
                    anchors.centerIn: parent
                    color: Theme.neonCyan
                    radius: 6
                    GradientIcon {
                        symbol: "arrow.counterclockwise.circle.fill"
                        size: 28
                    }
                }
            }

            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "FILE RECOVERY"
                color: Theme.alpha(Theme.neonCyan, 0.6)
                font.family: Theme.monospacedFamily
                font.pixelSize: 9
                font.bold: true
                font.letterSpacing: 3
            }
        }

        Column {
            objectName: "sidebarRows"
            Layout.fillWidth: true
            Layout.leftMargin: 12
            Layout.rightMargin: 12
            spacing: 4

            Repeater {
                model: root.navigation
                delegate: SidebarRow {
                    width: parent ? parent.width : 0
                    navigation: root.navigation
                }
            }
        }

        Item { Layout.fillHeight: true }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.margins: 12
            spacing: 8

            Text {
                text: "SYSTEM"
                color: Theme.textMuted
                font.family: Theme.monospacedFamily
                font.pixelSize: 9
                font.bold: true
                font.letterSpacing: 2
            }

            DiskUsageCard {
                Layout.fillWidth: true
                usage: diskUsage
            }
        }
    }
}
