pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// The Settings screen: the four stored preferences (written at once through
// AppSettings), whether raw device reading is allowed (checked again each
// time the screen is shown, and when the window comes back to the front),
// and the About block.
Item {
    id: root
    objectName: "settingsView"

    readonly property alias settingsScreen: settingsScreen
    readonly property alias folderDialog: folderDialog

    SettingsScreen {
        id: settingsScreen
    }

    Component.onCompleted: settingsScreen.checkAccess()

    // Access granted in another window shows when the user comes back.
    Connections {
        target: root.Window.window
        function onActiveChanged() {
            if (root.Window.window && root.Window.window.active)
                settingsScreen.checkAccess()
        }
    }

    component SectionHeader: RowLayout {
        id: header
        property string symbol
        property string title
        property color accent
        spacing: 8
        Layout.topMargin: 6
        Icon {
            symbol: header.symbol
            size: 12
            color: header.accent
        }
        Text {
            text: header.title
            color: header.accent
            font.family: Theme.monospacedFamily
            font.pixelSize: 11
            font.weight: Font.Bold
            font.letterSpacing: 2
        }
    }

    // A title, a secondary line under it, and the control on the trailing side.
    component SettingRow: RowLayout {
        id: settingRow
        property string title
        property string detail
        default property alias control: trailing.data
        Layout.fillWidth: true
        Layout.leftMargin: 16
        Layout.rightMargin: 16
        Layout.topMargin: 12
        Layout.bottomMargin: 12
        spacing: 16
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Text {
                text: settingRow.title
                color: Theme.textPrimary
                font: Theme.mono(13, Font.Medium)
            }
            Text {
                objectName: "detail"
                Layout.fillWidth: true
                text: settingRow.detail
                color: Theme.textMuted
                font: Theme.captionFont
                wrapMode: Text.WordWrap
                lineHeight: 1.25
            }
        }
        Row {
            id: trailing
            Layout.alignment: Qt.AlignVCenter
            spacing: 10
        }
    }

    component PanelDivider: Rectangle {
        Layout.fillWidth: true
        Layout.leftMargin: 16
        Layout.rightMargin: 16
        implicitHeight: 1
        color: Theme.alpha(Theme.textPrimary, 0.06)
    }

    component NeonSwitch: Switch {
        id: toggle
        property color accent: Theme.neonPurple
        padding: 0
        implicitWidth: 40
        implicitHeight: 22
        indicator: Rectangle {
            implicitWidth: 40
            implicitHeight: 22
            radius: 11
            color: toggle.checked ? Theme.alpha(toggle.accent, 0.85) : Theme.backgroundCard
            border.width: 1
            border.color: toggle.checked ? toggle.accent : Theme.alpha(Theme.textPrimary, 0.2)
            Behavior on color { ColorAnimation { duration: 150 } }
            Rectangle {
                x: toggle.checked ? parent.width - width - 3 : 3
                anchors.verticalCenter: parent.verticalCenter
                width: 16
                height: 16
                radius: 8
                color: toggle.checked ? Theme.textPrimary : Theme.textSecondary
                Behavior on x { NumberAnimation { duration: 150; easing.type: Easing.InOutQuad } }
            }
        }
        contentItem: Item {}
    }

    Flickable {
        anchors.fill: parent
        contentHeight: column.implicitHeight + 48
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: column
            x: 32
            y: 20
            width: Math.min(root.width - 64, 760)
            spacing: 8

            // Header.
            RowLayout {
                spacing: 14
                NeonGlow {
                    color: Theme.neonPurple
                    radius: 8
                    Icon {
                        symbol: "gearshape"
                        size: 26
                        color: Theme.neonPurple
                    }
                }
                Text {
                    objectName: "screenTitle"
                    text: "SETTINGS"
                    color: Theme.textPrimary
                    font: Theme.headlineFont
                }
            }

            SectionHeader {
                symbol: "gearshape"
                title: "GENERAL"
                accent: Theme.neonPurple
            }
            GlassBackground {
                Layout.fillWidth: true
                implicitHeight: general.implicitHeight
                cornerRadius: 10
                borderColor: Theme.neonPurple
                ColumnLayout {
                    id: general
                    width: parent.width
                    spacing: 0

                    SettingRow {
                        objectName: "pathRow"
                        title: "Default Recovery Path"
                        detail: settingsScreen.pathLine(AppSettings.defaultRecoveryPath)
                        Text {
                            objectName: "pathName"
                            anchors.verticalCenter: parent.verticalCenter
                            width: Math.min(implicitWidth, 180)
                            text: settingsScreen.folderName(AppSettings.defaultRecoveryPath)
                            color: AppSettings.defaultRecoveryPath.length > 0 ? Theme.neonPurple : Theme.textMuted
                            font: Theme.fieldFont
                            elide: Text.ElideMiddle
                        }
                        GlowButton {
                            objectName: "browseButton"
                            text: "Browse"
                            accent: Theme.neonPurple
                            onClicked: folderDialog.open()
                        }
                    }
                    PanelDivider {}
                    SettingRow {
                        title: "Show Hidden Files"
                        detail: "Display hidden files in scan results"
                        NeonSwitch {
                            objectName: "hiddenSwitch"
                            checked: AppSettings.showHiddenFiles
                            onToggled: AppSettings.showHiddenFiles = checked
                        }
                    }
                    PanelDivider {}
                    SettingRow {
                        title: "Confirm Before Recovery"
                        detail: "Ask for confirmation before recovering files"
                        NeonSwitch {
                            objectName: "confirmSwitch"
                            checked: AppSettings.confirmBeforeRecover
                            onToggled: AppSettings.confirmBeforeRecover = checked
                        }
                    }
                }
            }

            SectionHeader {
                symbol: "waveform.and.magnifyingglass"
                title: "DEEP SCAN"
                accent: Theme.neonBlue
            }
            GlassBackground {
                Layout.fillWidth: true
                implicitHeight: deepScan.implicitHeight
                cornerRadius: 10
                borderColor: Theme.neonBlue
                ColumnLayout {
                    id: deepScan
                    width: parent.width
                    spacing: 0
                    SettingRow {
                        title: "Max File Size"
                        detail: "Maximum file size for carving (MB)"
                        Slider {
                            id: sizeSlider
                            objectName: "sizeSlider"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 120
                            from: 10
                            to: 1000
                            stepSize: 10
                            snapMode: Slider.SnapAlways
                            value: AppSettings.maxCarvingFileSize
                            onMoved: AppSettings.maxCarvingFileSize = Math.round(value)
                            background: Rectangle {
                                x: sizeSlider.leftPadding
                                y: sizeSlider.topPadding + sizeSlider.availableHeight / 2 - height / 2
                                width: sizeSlider.availableWidth
                                height: 4
                                radius: 2
                                color: Theme.backgroundCard
                                Rectangle {
                                    width: sizeSlider.visualPosition * parent.width
                                    height: parent.height
                                    radius: 2
                                    color: Theme.neonBlue
                                }
                            }
                            handle: Rectangle {
                                x: sizeSlider.leftPadding + sizeSlider.visualPosition * (sizeSlider.availableWidth - width)
                                y: sizeSlider.topPadding + sizeSlider.availableHeight / 2 - height / 2
                                width: 14
                                height: 14
                                radius: 7
                                color: sizeSlider.pressed ? Theme.textPrimary : Theme.neonBlue
                                border.width: 2
                                border.color: Theme.alpha(Theme.neonBlue, 0.5)
                            }
                        }
                        Text {
                            objectName: "sizeLabel"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 60
                            horizontalAlignment: Text.AlignRight
                            text: AppSettings.maxCarvingFileSize + " MB"
                            color: Theme.neonBlue
                            font: Theme.fieldFont
                        }
                    }
                }
            }

            SectionHeader {
                symbol: "lock.shield"
                title: "PERMISSIONS"
                accent: Theme.neonOrange
            }
            GlassBackground {
                Layout.fillWidth: true
                implicitHeight: permissions.implicitHeight
                cornerRadius: 10
                borderColor: Theme.neonOrange
                ColumnLayout {
                    id: permissions
                    width: parent.width
                    spacing: 0
                    SettingRow {
                        objectName: "accessRow"
                        title: settingsScreen.accessTitle
                        detail: "Required for raw device scanning"
                        Row {
                            objectName: "accessStatus"
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 6
                            readonly property color tint: settingsScreen.isCheckingAccess ? Theme.textMuted
                                                          : settingsScreen.hasFullDiskAccess ? Theme.neonGreen : Theme.neonRed
                            Icon {
                                anchors.verticalCenter: parent.verticalCenter
                                visible: !settingsScreen.isCheckingAccess
                                symbol: settingsScreen.hasFullDiskAccess ? "checkmark.circle.fill" : "xmark.circle.fill"
                                size: 13
                                color: parent.tint
                            }
                            Text {
                                objectName: "accessText"
                                anchors.verticalCenter: parent.verticalCenter
                                text: settingsScreen.isCheckingAccess ? "Checking..."
                                      : settingsScreen.hasFullDiskAccess ? "Granted" : "Not Granted"
                                color: parent.tint
                                font: Theme.mono(12, Font.Bold)
                            }
                        }
                    }
                    PanelDivider {}
                    SettingRow {
                        objectName: "rawAccessRow"
                        title: "Raw Device Access"
                        detail: settingsScreen.canOpenSystemSettings
                                ? "Requires root privileges. External drives may work without root."
                                : settingsScreen.rawDeviceAccessNote
                        GlowButton {
                            objectName: "openSettingsButton"
                            visible: settingsScreen.canOpenSystemSettings
                            text: "Open Settings"
                            symbol: "gearshape"
                            accent: Theme.neonOrange
                            onClicked: settingsScreen.openSystemSettings()
                        }
                    }
                }
            }

            SectionHeader {
                symbol: "info.circle"
                title: "ABOUT"
                accent: Theme.neonCyan
            }
            GlassBackground {
                Layout.fillWidth: true
                implicitHeight: about.implicitHeight + 32
                cornerRadius: 10
                borderColor: Theme.neonCyan
                Row {
                    id: about
                    x: 16
                    y: 16
                    spacing: 16
                    NeonGlow {
                        anchors.verticalCenter: parent.verticalCenter
                        color: Theme.neonCyan
                        radius: 8
                        GradientIcon {
                            symbol: "arrow.counterclockwise.circle.fill"
                            size: 34
                        }
                    }
                    Column {
                        spacing: 4
                        Text {
                            objectName: "aboutName"
                            text: Qt.application.name
                            color: Theme.neonCyan
                            font: Theme.mono(15, Font.Bold)
                        }
                        Text {
                            objectName: "aboutVersion"
                            text: "Version " + Qt.application.version
                            color: Theme.textMuted
                            font: Theme.captionFont
                        }
                        Text {
                            text: "Made with Qt for the files you thought were gone."
                            color: Theme.textSecondary
                            font: Theme.bodyFont
                        }
                    }
                }
            }
        }
    }

    FolderDialog {
        id: folderDialog
        currentFolder: settingsScreen.folderUrl(AppSettings.defaultRecoveryPath)
        onAccepted: AppSettings.defaultRecoveryPath = settingsScreen.localPath(selectedFolder)
    }
}
