pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Layouts

// The facts of the chosen snapshot, with "Browse" where its files can be
// reached as a folder and the way to reach it by hand where they can't.
GlassBackground {
    id: root
    required property SnapshotScreen screen

    objectName: "detailPane"
    // Sized by the split view; the content fills it.
    implicitWidth: 420
    implicitHeight: 400
    cornerRadius: 10
    borderColor: Theme.neonPink

    // Nothing chosen yet.
    Column {
        objectName: "noSelection"
        visible: !root.screen.hasSelection
        anchors.centerIn: parent
        spacing: 12
        Icon {
            anchors.horizontalCenter: parent.horizontalCenter
            symbol: "arrow.left.circle"
            size: 36
            color: Theme.textMuted
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Select a snapshot to browse"
            color: Theme.textMuted
            font: Theme.fieldFont
        }
    }

    ColumnLayout {
        visible: root.screen.hasSelection
        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        RowLayout {
            Layout.fillWidth: true
            spacing: 16
            NeonGlow {
                Layout.alignment: Qt.AlignTop
                color: Theme.neonPink
                radius: 8
                Icon {
                    symbol: "camera.circle"
                    size: 34
                    color: Theme.neonPink
                }
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                Text {
                    objectName: "detailName"
                    Layout.fillWidth: true
                    text: root.screen.selectedName
                    color: Theme.textPrimary
                    font: Theme.headlineFont
                    wrapMode: Text.WrapAnywhere
                    maximumLineCount: 3
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "volumeLine"
                    Layout.fillWidth: true
                    text: root.screen.volumeLine
                    color: Theme.textSecondary
                    font: Theme.fieldFont
                    elide: Text.ElideRight
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.alpha(Theme.neonPink, 0.15)
        }

        GridLayout {
            Layout.fillWidth: true
            columns: 2
            columnSpacing: 18
            rowSpacing: 10

            component Caption: Text {
                color: Theme.textMuted
                font.family: Theme.monospacedFamily
                font.pixelSize: 9
                font.weight: Font.Bold
                font.letterSpacing: 1.5
            }
            component Fact: Text {
                Layout.fillWidth: true
                color: Theme.textSecondary
                font: Theme.fieldFont
                elide: Text.ElideMiddle
            }

            Caption { text: "CREATED" }
            Fact {
                objectName: "detailDate"
                text: root.screen.selectedDate
            }
            Caption { text: "TYPE" }
            Fact { text: root.screen.selectedKind }
            Caption {
                text: "UUID"
                visible: root.screen.selectedUuid.length > 0
            }
            Fact {
                text: root.screen.selectedUuid
                visible: root.screen.selectedUuid.length > 0
            }
            Caption {
                text: "FOLDER"
                visible: root.screen.canBrowse
            }
            Fact {
                text: root.screen.selectedFolder
                visible: root.screen.canBrowse
            }
        }

        // How to reach a snapshot that can't be opened here.
        GlassBackground {
            objectName: "manualAccessNote"
            visible: !root.screen.canBrowse
            Layout.fillWidth: true
            implicitHeight: noteText.implicitHeight + 28
            cornerRadius: 8
            borderColor: Theme.neonOrange

            RowLayout {
                anchors.fill: parent
                anchors.margins: 14
                spacing: 12
                Icon {
                    Layout.alignment: Qt.AlignTop
                    symbol: "info.circle"
                    size: 14
                    color: Theme.neonOrange
                }
                Text {
                    id: noteText
                    Layout.fillWidth: true
                    text: root.screen.manualAccessNote
                    color: Theme.textSecondary
                    font: Theme.captionFont
                    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                    lineHeight: 1.3
                }
            }
        }

        ColumnLayout {
            visible: root.screen.canBrowse
            Layout.fillWidth: true
            spacing: 12
            Text {
                Layout.fillWidth: true
                text: "Its files can be browsed and copied out, and compared with the volume as it is now. "
                      + "The snapshot itself is only read, never changed."
                color: Theme.textMuted
                font: Theme.captionFont
                wrapMode: Text.WordWrap
                lineHeight: 1.3
            }
            GlowButton {
                objectName: "browseButton"
                text: "Browse"
                symbol: "folder.fill"
                accent: Theme.neonPink
                filled: true
                onClicked: root.screen.browseSelected()
            }
        }

        Item { Layout.fillHeight: true }
    }
}
