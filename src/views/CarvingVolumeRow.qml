import QtQuick
import QtQuick.Layouts
import Quorvel

// A volume offered as the scan target: drive icon, name (with the EXTERNAL
// badge), "device • file system • free / total", and the checkmark when it is
// the chosen one.
CarvingChoiceRow {
    id: root
    required property DeepScanScreen screen
    // The id role; "id" itself can't name a property.
    required property var model
    readonly property string volumeId: model.id
    required property string name
    required property string device
    required property string fileSystem
    required property string freeSizeText
    required property string totalSizeText
    required property bool isExternal

    objectName: "volumeRow_" + name
    chosen: screen.selectedVolumeId === volumeId
    chosenFillOpacity: 0.06
    onPicked: screen.selectVolume(volumeId)

    RowLayout {
        width: parent.width
        spacing: 10

        Icon {
            Layout.preferredWidth: 22
            symbol: root.isExternal ? "externaldrive.fill" : "internaldrive.fill"
            size: 16
            color: root.isExternal ? Theme.neonGreen : Theme.neonBlue
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            RowLayout {
                spacing: 6
                Text {
                    text: root.name
                    color: Theme.textPrimary
                    font.pixelSize: 12
                    font.weight: Font.Medium
                }
                Rectangle {
                    visible: root.isExternal
                    implicitWidth: badge.implicitWidth + 8
                    implicitHeight: badge.implicitHeight + 2
                    radius: 3
                    color: Theme.alpha(Theme.neonGreen, 0.15)
                    Text {
                        id: badge
                        anchors.centerIn: parent
                        text: "EXTERNAL"
                        color: Theme.neonGreen
                        font.pixelSize: 7
                        font.bold: true
                    }
                }
            }
            Text {
                Layout.fillWidth: true
                text: root.device + " • " + root.fileSystem + " • " + root.freeSizeText + " free / " + root.totalSizeText
                color: Theme.textMuted
                font: Theme.mono(9, Font.Normal)
                elide: Text.ElideRight
            }
        }
    }
}
