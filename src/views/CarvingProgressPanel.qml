import QtQuick
import QtQuick.Layouts
import Quorvel

// The running scan: the ring (spinning until a fraction is known), the
// status, bytes scanned, hits found, pace, and Stop Scan.
Item {
    id: root
    required property DeepScanScreen screen
    readonly property FileCarvingService service: screen.service

    objectName: "progressPanel"

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 560)
        spacing: 24

        ScanProgressView {
            objectName: "progressRing"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 140
            Layout.preferredHeight: 140
            color: Theme.neonBlue
            progress: root.service.scanProgress > 0 ? root.service.scanProgress : null
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8

            Text {
                Layout.alignment: Qt.AlignHCenter
                text: "SCANNING..."
                color: Theme.neonBlue
                font: Theme.headlineFont
            }
            Text {
                objectName: "progressStatus"
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                text: root.service.statusMessage
                color: Theme.textMuted
                font: Theme.captionFont
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }
            Row {
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 4
                spacing: 16
                Text {
                    objectName: "bytesScanned"
                    text: Format.byteCount(root.service.bytesScanned) + " scanned"
                    color: Theme.textMuted
                    font: Theme.fieldFont
                }
                Row {
                    spacing: 6
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 6
                        height: 6
                        radius: 3
                        color: Theme.neonGreen
                    }
                    Text {
                        objectName: "foundCount"
                        text: root.service.carvedFiles.count + " found"
                        color: Theme.textPrimary
                        font: Theme.fieldFont
                    }
                }
            }
            Text {
                objectName: "pace"
                Layout.alignment: Qt.AlignHCenter
                visible: root.service.scanRate > 0
                text: Format.byteCount(root.service.scanRate) + "/s"
                      + (root.service.secondsRemaining >= 0 ? "  •  " + Format.duration(root.service.secondsRemaining) + " left" : "")
                color: Theme.alpha(Theme.neonBlue, 0.7)
                font: Theme.mono(10, Font.Normal)
            }
        }

        CarvingButton {
            objectName: "stopButton"
            Layout.alignment: Qt.AlignHCenter
            symbol: "stop.fill"
            text: "Stop Scan"
            accent: Theme.neonRed
            fontSize: 12
            horizontalPadding: 20
            verticalPadding: 8
            cornerRadius: 8
            onClicked: root.screen.stopScan()
        }
    }
}
