pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel

// Choosing the next scan: the mode's notice, how carving works, the mode, the
// target (a volume, or a folder or image path) and the file types, then START.
Flickable {
    id: root
    required property DeepScanScreen screen
    // Browse was pressed; the view opens the dialog that fits the mode.
    signal browseRequested()

    objectName: "setupPanel"
    clip: true
    contentWidth: width
    contentHeight: column.implicitHeight + 40
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: CarvingScrollBar {}

    ColumnLayout {
        id: column
        x: 20
        y: 20
        width: root.width - 40
        spacing: 16

        CarvingModeNotice {
            objectName: "modeNotice"
            Layout.fillWidth: true
            visible: root.screen.modeNotice.title !== undefined
            notice: root.screen.modeNotice
        }

        GlassBackground {
            Layout.fillWidth: true
            cornerRadius: 10
            borderColor: Theme.neonBlue
            padding: 14
            implicitHeight: infoRow.implicitHeight + 2 * padding

            RowLayout {
                id: infoRow
                width: parent.width
                spacing: 12
                Icon {
                    Layout.alignment: Qt.AlignTop
                    symbol: "info.circle.fill"
                    size: 16
                    color: Theme.neonBlue
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 4
                    Text {
                        text: "How File Carving Works"
                        color: Theme.textPrimary
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "Deleted files leave fragments on disk until overwritten. This scanner reads raw device data to find file signatures (magic bytes) and extract recoverable data. Works best on HDDs and non-encrypted external drives. Act fast — the sooner you scan, the more you can recover!"
                        color: Theme.textSecondary
                        font.pixelSize: 10
                        wrapMode: Text.Wrap
                        lineHeight: 1.15
                    }
                }
            }
        }

        CarvingSection {
            objectName: "modeSection"
            Layout.fillWidth: true
            caption: "SCAN MODE"

            Repeater {
                model: root.screen.modes
                delegate: CarvingChoiceRow {
                    id: card
                    required property var modelData
                    readonly property color tint: chosen ? Theme.neonBlue : Theme.textSecondary
                    objectName: "modeCard_" + modelData.mode
                    Layout.fillWidth: true
                    chosen: root.screen.scanMode === modelData.mode
                    onPicked: root.screen.scanMode = modelData.mode

                    RowLayout {
                        width: parent.width
                        spacing: 8
                        Item {
                            Layout.preferredWidth: 20
                            Layout.preferredHeight: 20
                            Icon {
                                anchors.centerIn: parent
                                symbol: card.modelData.icon
                                size: 14
                                color: card.tint
                                Behavior on color { ColorAnimation { duration: 200 } }
                            }
                        }
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 2
                            Text {
                                text: card.modelData.title
                                color: card.tint
                                font.pixelSize: 12
                                font.weight: Font.Medium
                                Behavior on color { ColorAnimation { duration: 200 } }
                            }
                            Text {
                                Layout.fillWidth: true
                                text: card.modelData.description
                                color: Theme.textMuted
                                font.pixelSize: 9
                                elide: Text.ElideRight
                            }
                        }
                    }
                }
            }
        }

        CarvingSection {
            objectName: "targetSection"
            Layout.fillWidth: true
            caption: "SCAN TARGET"

            // The volume list of the two volume modes.
            ColumnLayout {
                Layout.fillWidth: true
                visible: root.screen.targetsVolume
                spacing: 6

                RowLayout {
                    objectName: "loadingVolumes"
                    visible: root.screen.service.volumes.count === 0
                    spacing: 8
                    Icon {
                        symbol: "arrow.triangle.2.circlepath"
                        size: 11
                        color: Theme.textMuted
                        RotationAnimation on rotation {
                            from: 0; to: 360; duration: 1200
                            loops: Animation.Infinite
                            running: parent.visible
                        }
                    }
                    Text {
                        text: "Loading volumes..."
                        color: Theme.textMuted
                        font: Theme.captionFont
                    }
                }

                Repeater {
                    model: root.screen.service.volumes
                    delegate: CarvingVolumeRow {
                        Layout.fillWidth: true
                        screen: root.screen
                    }
                }

                CarvingButton {
                    objectName: "refreshButton"
                    Layout.topMargin: 4
                    visible: root.screen.service.volumes.count > 0
                    symbol: "arrow.clockwise"
                    text: "Refresh"
                    accent: Theme.neonBlue
                    fillOpacity: 0
                    outlineOpacity: 0
                    horizontalPadding: 2
                    verticalPadding: 2
                    onClicked: root.screen.service.refreshVolumes()
                }
            }

            // The path of the folder or image modes.
            RowLayout {
                Layout.fillWidth: true
                visible: !root.screen.targetsVolume
                spacing: 8

                TextField {
                    id: pathField
                    objectName: "pathField"
                    Layout.fillWidth: true
                    text: root.screen.scanPath
                    onTextEdited: root.screen.scanPath = text
                    placeholderText: root.screen.pathPlaceholder
                    placeholderTextColor: Theme.textMuted
                    color: Theme.textPrimary
                    selectionColor: Theme.alpha(Theme.neonBlue, 0.5)
                    selectedTextColor: Theme.textPrimary
                    font: Theme.fieldFont
                    padding: 8
                    background: Rectangle {
                        radius: 6
                        color: Theme.backgroundDeep
                        border.width: 1
                        border.color: Theme.alpha(Theme.neonBlue, pathField.activeFocus ? 0.6 : 0.2)
                    }
                }

                CarvingButton {
                    objectName: "browseButton"
                    Layout.fillHeight: true
                    text: "Browse"
                    symbol: "folder"
                    accent: Theme.neonBlue
                    fontSize: 11
                    horizontalPadding: 12
                    verticalPadding: 8
                    onClicked: root.browseRequested()
                }
            }
        }

        CarvingSection {
            objectName: "typesSection"
            Layout.fillWidth: true
            caption: "FILE TYPES"
            trailing: CarvingButton {
                objectName: "allTypesButton"
                text: root.screen.allSignaturesSelected ? "Deselect All" : "Select All"
                accent: Theme.neonBlue
                fillOpacity: 0
                outlineOpacity: 0
                horizontalPadding: 2
                verticalPadding: 0
                onClicked: root.screen.toggleAllSignatures()
            }

            Grid {
                id: chips
                objectName: "typeChips"
                Layout.fillWidth: true
                columns: 5
                columnSpacing: 6
                rowSpacing: 6
                readonly property real cellWidth: Math.max(10, (width - 4 * columnSpacing) / 5)

                Repeater {
                    model: root.screen.signatures
                    delegate: CarvingSignatureChip {
                        required property var modelData
                        width: chips.cellWidth
                        typeName: modelData.typeName
                        symbol: modelData.icon
                        accent: ThemePalette.named(modelData.color)
                        chosen: root.screen.selectedSignatures.indexOf(modelData.typeName) >= 0
                        onToggled: root.screen.toggleSignature(modelData.typeName)
                    }
                }
            }
        }

        CarvingStartButton {
            objectName: "startButton"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 4
            enabled: root.screen.canStart
            onClicked: root.screen.startScan()
        }
    }
}
