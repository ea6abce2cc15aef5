import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel

// Shown while the service saves: files and bytes written so far against the
// whole, and a Cancel that ends the save once the file being written is done.
Popup {
    id: root
    required property DeepScanScreen screen
    readonly property FileCarvingService service: screen.service
    readonly property real fraction: service.saveBytesTotal > 0 ? service.saveBytesWritten / service.saveBytesTotal
                                   : service.saveFilesTotal > 0 ? service.saveFilesDone / service.saveFilesTotal : 0

    objectName: "savingSheet"
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 420
    padding: 24
    modal: true
    dim: true
    closePolicy: Popup.NoAutoClose
    visible: service.isSaving

    Overlay.modal: Rectangle {
        color: Theme.alpha(Theme.backgroundDeep, 0.6)
    }

    background: Rectangle {
        color: Theme.backgroundDeep
        radius: 12
        border.width: 1
        border.color: Theme.alpha(Theme.neonGreen, 0.35)
        Rectangle {
            anchors.fill: parent
            anchors.margins: 1
            radius: 11
            color: Theme.alpha(Theme.backgroundRaised, 0.7)
        }
    }

    contentItem: ColumnLayout {
        spacing: 14

        RowLayout {
            spacing: 12
            Icon {
                symbol: "arrow.down.doc.fill"
                size: 20
                color: Theme.neonGreen
            }
            Text {
                Layout.fillWidth: true
                text: root.screen.isStoppingSave ? "STOPPING..." : "SAVING..."
                color: Theme.neonGreen
                font: Theme.headlineFont
            }
            Text {
                text: Format.percent(root.fraction)
                color: Theme.neonGreen
                font: Theme.mono(14, Font.Bold)
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 6
            radius: 3
            color: Theme.alpha(Theme.neonGreen, 0.1)
            Rectangle {
                width: parent.width * Math.max(0, Math.min(1, root.fraction))
                height: parent.height
                radius: 3
                color: Theme.neonGreen
                Behavior on width { NumberAnimation { duration: 200 } }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Text {
                objectName: "savedFiles"
                text: root.service.saveFilesDone + " / " + root.service.saveFilesTotal + " files"
                color: Theme.textPrimary
                font: Theme.fieldFont
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "savedBytes"
                text: Format.byteCount(root.service.saveBytesWritten) + " of " + Format.byteCount(root.service.saveBytesTotal)
                color: Theme.textMuted
                font: Theme.fieldFont
            }
        }

        Text {
            Layout.fillWidth: true
            text: root.screen.isStoppingSave ? "Finishing the file being written; the rest will not be saved."
                                             : "Cancel stops after the file being written."
            color: Theme.textMuted
            font.pixelSize: 10
            wrapMode: Text.Wrap
        }

        CarvingButton {
            objectName: "cancelSaveButton"
            Layout.alignment: Qt.AlignRight
            enabled: !root.screen.isStoppingSave
            symbol: "xmark"
            text: "Cancel"
            accent: Theme.neonRed
            fontSize: 11
            horizontalPadding: 16
            verticalPadding: 7
            onClicked: root.screen.cancelSaving()
        }
    }
}
