pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Quorvel

// The Deep Scan title, its line, and once there are hits the SHOWN / DELETED /
// EXISTING counters.
Rectangle {
    id: root
    required property DeepScanScreen screen

    color: Theme.alpha(Theme.backgroundPanel, 0.5)
    implicitHeight: content.implicitHeight + 32

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 16
        spacing: 16

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4

            RowLayout {
                spacing: 10
                NeonGlow {
                    color: Theme.neonBlue
                    radius: 6
                    implicitWidth: titleIcon.implicitWidth
                    implicitHeight: titleIcon.implicitHeight
                    Icon {
                        id: titleIcon
                        symbol: "waveform.and.magnifyingglass"
                        size: 20
                        color: Theme.neonBlue
                        font.weight: Font.Medium
                    }
                }
                Text {
                    text: "DEEP SCAN"
                    color: Theme.textPrimary
                    font: Theme.headlineFont
                }
            }
            Text {
                Layout.fillWidth: true
                text: "Scan raw device data for deleted file fragments & recover them"
                color: Theme.textMuted
                font: Theme.captionFont
                elide: Text.ElideRight
            }
        }

        Row {
            objectName: "counters"
            visible: root.screen.service.carvedFiles.count > 0
            spacing: 22

            component Counter: Column {
                id: counter
                required property int value
                required property string label
                required property color accent
                spacing: 2
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: counter.value
                    color: counter.accent
                    font: Theme.mono(14, Font.Bold)
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: counter.label
                    color: Theme.textMuted
                    font.family: Theme.monospacedFamily
                    font.pixelSize: 8
                    font.bold: true
                    font.letterSpacing: 1
                }
            }

            Counter {
                objectName: "shownCounter"
                value: root.screen.visibleFiles.count
                label: "SHOWN"
                accent: Theme.neonBlue
            }
            Counter {
                objectName: "deletedCounter"
                value: root.screen.visibleFiles.deletedCount
                label: "DELETED"
                accent: Theme.neonGreen
            }
            Counter {
                objectName: "existingCounter"
                visible: root.screen.service.existingFileCount > 0
                value: root.screen.service.existingFileCount
                label: "EXISTING"
                accent: Theme.textMuted
            }
        }
    }
}
