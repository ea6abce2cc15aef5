pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// The Trash Recovery screen: what lies in the user's Trash, narrowed by
// category and search, ordered, selected and restored into a folder or to
// where it was deleted from. The screen object holds every choice; this file
// lays it out.
Item {
    id: root

    readonly property alias service: service
    readonly property alias screen: screen
    readonly property alias folderDialog: folderDialog

    // Widths of the list's Size, Type and Deleted columns.
    readonly property int sizeWidth: 90
    readonly property int typeWidth: 100
    readonly property int dateWidth: 170

    TrashRecoveryService {
        id: service
    }

    TrashScreen {
        id: screen
        objectName: "trashScreen"
        service: service
        confirmBeforeRecover: AppSettings.confirmBeforeRecover
    }

    Component.onCompleted: service.scanTrash()

    FolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        title: "Choose a destination folder for recovered files"
        acceptLabel: "Recover Here"
        currentFolder: screen.dialogFolder(AppSettings.defaultRecoveryPath)
        onAccepted: screen.recoverTo(selectedFolder)
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Header: symbol, title, subtitle and the three stats.
        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 88
            color: Theme.alpha(Theme.backgroundPanel, 0.5)

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 24
                anchors.rightMargin: 24
                spacing: 16

                Rectangle {
                    Layout.preferredWidth: 48
                    Layout.preferredHeight: 48
                    radius: 12
                    color: Theme.alpha(Theme.neonCyan, 0.12)
                    border.width: 1
                    border.color: Theme.alpha(Theme.neonCyan, 0.4)
                    NeonGlow {
                        anchors.centerIn: parent
                        color: Theme.neonCyan
                        radius: 8
                        Icon {
                            symbol: "trash"
                            size: 22
                            color: Theme.neonCyan
                        }
                    }
                }

                ColumnLayout {
                    spacing: 4
                    Text {
                        objectName: "screenTitle"
                        text: "TRASH RECOVERY"
                        color: Theme.textPrimary
                        font: Theme.headlineFont
                    }
                    Text {
                        text: service.subtitle
                        color: Theme.textMuted
                        font: Theme.captionFont
                    }
                }

                Item { Layout.fillWidth: true }

                TrashStatBox {
                    objectName: "statFiles"
                    value: screen.fileCount
                    label: "FILES"
                    accent: Theme.neonCyan
                }
                TrashStatBox {
                    objectName: "statTotal"
                    value: screen.totalSizeText
                    label: "TOTAL"
                    accent: Theme.neonPink
                }
                TrashStatBox {
                    objectName: "statSelected"
                    value: screen.selectedCount
                    label: "SELECTED"
                    accent: Theme.neonBlue
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.alpha(Theme.neonCyan, 0.2)
        }

        // Toolbar: scan, recover, restore, search and order.
        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 16
            spacing: 10

            TrashButton {
                objectName: "scanButton"
                symbol: service.isScanning ? "arrow.triangle.2.circlepath" : "arrow.clockwise"
                spinning: service.isScanning
                text: service.isScanning ? "Scanning..." : "Scan Trash"
                enabled: !service.isScanning && !service.isRecovering
                onClicked: screen.scan()
            }
            TrashButton {
                objectName: "recoverButton"
                symbol: "arrow.uturn.backward"
                text: "Recover (" + screen.selectedCount + ")"
                prominent: true
                enabled: screen.canRecover && !service.isRecovering
                onClicked: folderDialog.open()
            }
            TrashButton {
                objectName: "restoreOriginalButton"
                visible: service.knowsOriginalLocations
                symbol: "arrow.up.trash"
                text: "Restore to Original"
                accent: Theme.neonGreen
                enabled: screen.canRestoreToOriginal && !service.isRecovering
                onClicked: screen.restoreToOriginal()
            }

            Item { Layout.fillWidth: true }

            // Search field with its clear button.
            Rectangle {
                Layout.preferredWidth: 240
                Layout.preferredHeight: 34
                radius: 8
                color: Theme.alpha(Theme.backgroundCard, 0.8)
                border.width: 1
                border.color: searchField.activeFocus ? Theme.alpha(Theme.neonCyan, 0.6) : Theme.alpha(Theme.textMuted, 0.25)

                Icon {
                    id: searchIcon
                    anchors.left: parent.left
                    anchors.leftMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: "magnifyingglass"
                    size: 12
                    color: Theme.textMuted
                }
                TextInput {
                    id: searchField
                    objectName: "searchField"
                    anchors.left: searchIcon.right
                    anchors.leftMargin: 8
                    anchors.right: clearButton.visible ? clearButton.left : parent.right
                    anchors.rightMargin: 8
                    anchors.verticalCenter: parent.verticalCenter
                    text: screen.searchText
                    onTextEdited: screen.searchText = text
                    color: Theme.textPrimary
                    selectionColor: Theme.alpha(Theme.neonCyan, 0.4)
                    selectByMouse: true
                    clip: true
                    font: Theme.fieldFont
                    Text {
                        anchors.fill: parent
                        verticalAlignment: Text.AlignVCenter
                        visible: searchField.text.length === 0
                        text: "Search files..."
                        color: Theme.textMuted
                        font: Theme.fieldFont
                    }
                }
                IconButton {
                    id: clearButton
                    objectName: "clearSearch"
                    anchors.right: parent.right
                    anchors.rightMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    visible: screen.searchText.length > 0
                    symbol: "xmark.circle.fill"
                    size: 12
                    onClicked: screen.searchText = ""
                }
            }

            ComboBox {
                id: sortMenu
                objectName: "sortMenu"
                Layout.preferredWidth: 200
                Layout.preferredHeight: 34
                model: screen.sortOrderNames
                currentIndex: screen.sortOrder
                onActivated: index => screen.sortOrder = index

                background: Rectangle {
                    radius: 8
                    color: Theme.alpha(Theme.backgroundCard, sortMenu.hovered ? 1.0 : 0.8)
                    border.width: 1
                    border.color: sortMenu.popup.visible ? Theme.alpha(Theme.neonCyan, 0.6) : Theme.alpha(Theme.textMuted, 0.25)
                }
                contentItem: Text {
                    leftPadding: 12
                    text: sortMenu.displayText
                    color: Theme.textSecondary
                    verticalAlignment: Text.AlignVCenter
                    font: Theme.fieldFont
                }
                indicator: Icon {
                    x: sortMenu.width - width - 10
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: "chevron.down"
                    size: 12
                    color: Theme.textMuted
                }
                delegate: ItemDelegate {
                    id: option
                    required property int index
                    required property string modelData
                    width: sortMenu.width
                    height: 30
                    highlighted: sortMenu.highlightedIndex === index
                    contentItem: Text {
                        text: option.modelData
                        color: option.index === sortMenu.currentIndex ? Theme.neonCyan : Theme.textSecondary
                        verticalAlignment: Text.AlignVCenter
                        font: Theme.fieldFont
                    }
                    background: Rectangle {
                        color: option.highlighted ? Theme.alpha(Theme.neonCyan, 0.12) : "transparent"
                    }
                }
                popup.background: Rectangle {
                    radius: 8
                    color: Theme.backgroundPanel
                    border.width: 1
                    border.color: Theme.alpha(Theme.neonCyan, 0.3)
                }
            }
        }

        // Category chips with their counts.
        Flow {
            objectName: "chips"
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 14
            spacing: 6

            Repeater {
                model: screen.categories
                delegate: TrashCategoryChip {
                    onChosen: category => screen.selectedCategory = category
                }
            }
        }

        // Content: scanning, empty, or the list.
        GlassBackground {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 24
            Layout.topMargin: 14
            Layout.bottomMargin: 12
            cornerRadius: 12
            borderColor: Theme.neonCyan
            // Sized by the layout, not by what it holds.
            implicitWidth: 0
            implicitHeight: 0

            Column {
                objectName: "scanningState"
                anchors.centerIn: parent
                visible: service.isScanning
                spacing: 14

                ScanProgressView {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 120
                    height: 120
                    // Back to zero while hidden, so that the next scan's ring
                    // does not first run back from the last one's end.
                    progress: service.isScanning ? service.scanProgress : 0
                    color: Theme.neonCyan
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Scanning Trash..."
                    color: Theme.textSecondary
                    font: Theme.fieldFont
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: Format.percent(service.scanProgress)
                    color: Theme.neonCyan
                    font: Theme.mono(12, Font.Bold)
                }
            }

            Column {
                objectName: "emptyState"
                anchors.centerIn: parent
                visible: !service.isScanning && screen.displayedCount === 0
                spacing: 10

                Rectangle {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 96
                    height: 96
                    radius: 48
                    color: Theme.alpha(Theme.neonCyan, 0.05)
                    border.width: 1
                    border.color: Theme.alpha(Theme.neonCyan, 0.15)
                    Icon {
                        anchors.centerIn: parent
                        symbol: "trash.slash"
                        size: 40
                        color: Theme.alpha(Theme.neonCyan, 0.55)
                    }
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "No files found"
                    color: Theme.textSecondary
                    font: Theme.headlineFont
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "The trash is empty or no files match your filter"
                    color: Theme.textMuted
                    font: Theme.captionFont
                }
            }

            ColumnLayout {
                objectName: "listState"
                anchors.fill: parent
                visible: !service.isScanning && screen.displayedCount > 0
                spacing: 0

                // Column titles and the select-all checkbox.
                Rectangle {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 34
                    color: Theme.alpha(Theme.backgroundCard, 0.9)

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 14
                        anchors.rightMargin: 14
                        spacing: 10

                        Icon {
                            objectName: "selectAll"
                            Layout.preferredWidth: 20
                            symbol: screen.allDisplayedSelected ? "checkmark.square.fill" : "square"
                            size: 13
                            color: screen.allDisplayedSelected ? Theme.neonCyan : Theme.textMuted
                            MouseArea {
                                anchors.fill: parent
                                anchors.margins: -6
                                cursorShape: Qt.PointingHandCursor
                                onClicked: screen.toggleAll()
                            }
                        }
                        Text {
                            Layout.fillWidth: true
                            Layout.leftMargin: 38
                            text: "Name"
                            color: Theme.textMuted
                            font: Theme.mono(10, Font.Bold)
                        }
                        Text {
                            Layout.preferredWidth: root.sizeWidth
                            horizontalAlignment: Text.AlignRight
                            text: "Size"
                            color: Theme.textMuted
                            font: Theme.mono(10, Font.Bold)
                        }
                        Text {
                            Layout.preferredWidth: root.typeWidth
                            leftPadding: 12
                            text: "Type"
                            color: Theme.textMuted
                            font: Theme.mono(10, Font.Bold)
                        }
                        Text {
                            Layout.preferredWidth: root.dateWidth
                            text: "Deleted"
                            color: Theme.textMuted
                            font: Theme.mono(10, Font.Bold)
                        }
                    }
                }

                ListView {
                    id: list
                    objectName: "itemList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: screen.displayedItems
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollBar.vertical: ScrollBar {
                        policy: ScrollBar.AsNeeded
                        contentItem: Rectangle {
                            implicitWidth: 4
                            radius: 2
                            color: Theme.alpha(Theme.neonCyan, 0.35)
                        }
                    }
                    delegate: TrashItemRow {
                        width: ListView.view.width
                        sizeWidth: root.sizeWidth
                        typeWidth: root.typeWidth
                        dateWidth: root.dateWidth
                        onToggled: itemId => screen.toggle(itemId)
                    }
                }
            }
        }

        // Footer: the scan's error, the count and where the Trash is, on the
        // window's own background below a faint rule.
        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 34

            Rectangle {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                height: 1
                color: Theme.alpha(Theme.neonCyan, 0.12)
            }

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 24
                anchors.rightMargin: 24
                spacing: 8

                Icon {
                    visible: service.hasError
                    symbol: "exclamationmark.triangle"
                    size: 11
                    color: Theme.neonOrange
                }
                Text {
                    objectName: "errorText"
                    visible: service.hasError
                    Layout.maximumWidth: root.width * 0.6
                    text: service.errorMessage
                    color: Theme.neonOrange
                    elide: Text.ElideRight
                    font: Theme.captionFont
                }
                Text {
                    objectName: "footerCount"
                    Layout.leftMargin: service.hasError ? 12 : 0
                    text: screen.displayedCount + " items"
                    color: Theme.textMuted
                    font: Theme.captionFont
                }
                Item { Layout.fillWidth: true }
                Icon {
                    symbol: "trash"
                    size: 10
                    color: Theme.textMuted
                }
                Text {
                    objectName: "trashFolder"
                    text: service.trashFolderText
                    color: Theme.textMuted
                    font: Theme.captionFont
                }
            }
        }
    }

    // While items are restored the screen waits: nothing else can start.
    Rectangle {
        objectName: "recoveringState"
        anchors.fill: parent
        visible: service.isRecovering
        color: Theme.alpha(Theme.backgroundDeep, 0.75)

        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            acceptedButtons: Qt.AllButtons
        }

        GlassBackground {
            anchors.centerIn: parent
            width: 300
            height: 230
            cornerRadius: 14
            borderColor: Theme.neonGreen
            implicitWidth: 0
            implicitHeight: 0

            Column {
                anchors.centerIn: parent
                spacing: 14
                ScanProgressView {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 120
                    height: 120
                    progress: service.isRecovering ? service.recoverProgress : 0
                    color: Theme.neonGreen
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Recovering files..."
                    color: Theme.textSecondary
                    font: Theme.fieldFont
                }
            }
        }
    }

    TrashDialog {
        objectName: "confirmDialog"
        shown: screen.isConfirming
        symbol: "arrow.uturn.backward"
        title: "Recover Files"
        message: screen.confirmationText
        acceptText: "Recover"
        rejectText: "Cancel"
        onAccepted: screen.confirm()
        onRejected: screen.cancelConfirmation()
    }

    TrashDialog {
        objectName: "recoverAlert"
        shown: screen.showRecoverAlert
        symbol: screen.recoverHadFailures ? "exclamationmark.triangle.fill" : "checkmark.circle.fill"
        accent: screen.recoverHadFailures ? Theme.neonOrange : Theme.neonGreen
        title: "Recovery Result"
        message: screen.recoverResultText
        acceptText: "OK"
        onAccepted: screen.dismissAlert()
    }
}
