pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts

// The files of one snapshot: folders to enter, a search of the folder shown,
// check boxes, "Compare with current" and "Restore To...". The folder dialog
// opens in the default recovery folder; a restore asks first when the
// settings say so.
GlassBackground {
    id: root
    required property SnapshotScreen screen
    readonly property SnapshotBrowser browser: screen.browser

    objectName: "browserPane"
    implicitWidth: 800
    implicitHeight: 500
    cornerRadius: 10
    borderColor: Theme.neonPink

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        // Where we are, and back to the list.
        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            GlowButton {
                objectName: "backToListButton"
                text: "Snapshots"
                symbol: "chevron.left"
                accent: Theme.neonPink
                onClicked: root.screen.stopBrowsing()
            }
            Icon {
                symbol: "camera.circle"
                size: 16
                color: Theme.neonPink
            }
            Text {
                objectName: "browsedSnapshot"
                Layout.maximumWidth: root.width * 0.35
                text: root.browser.snapshotName
                color: Theme.textPrimary
                font: Theme.mono(13, Font.DemiBold)
                elide: Text.ElideMiddle
            }
            IconButton {
                objectName: "upButton"
                visible: root.browser.canGoBack
                symbol: "chevron.up"
                size: 16
                color: Theme.neonCyan
                onClicked: root.browser.goBack()
            }
            Text {
                objectName: "currentPath"
                Layout.fillWidth: true
                text: root.browser.currentPath
                color: Theme.neonCyan
                font: Theme.fieldFont
                elide: Text.ElideLeft
            }

            // Search.
            Rectangle {
                implicitWidth: 200
                implicitHeight: 30
                radius: 7
                color: Theme.alpha(Theme.backgroundDeep, 0.7)
                border.width: 1
                border.color: Theme.alpha(search.activeFocus ? Theme.neonCyan : Theme.textMuted, 0.4)
                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 8
                    anchors.rightMargin: 8
                    spacing: 6
                    Icon {
                        symbol: "magnifyingglass"
                        size: 12
                        color: Theme.textMuted
                    }
                    TextInput {
                        id: search
                        objectName: "searchField"
                        Layout.fillWidth: true
                        clip: true
                        color: Theme.textPrimary
                        selectionColor: Theme.alpha(Theme.neonCyan, 0.4)
                        font: Theme.fieldFont
                        text: root.browser.searchText
                        onTextEdited: root.browser.searchText = text
                        Text {
                            visible: search.text.length === 0
                            text: "Search this folder"
                            color: Theme.textMuted
                            font: Theme.fieldFont
                        }
                    }
                }
            }
        }

        // Actions.
        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            GlowButton {
                objectName: "compareButton"
                enabled: root.browser.canCompare
                text: root.browser.isComparing ? "Comparing with current" : "Compare with current"
                symbol: "arrow.left.arrow.right"
                accent: Theme.neonOrange
                filled: root.browser.isComparing
                onClicked: root.browser.isComparing = !root.browser.isComparing
            }
            Text {
                objectName: "comparisonSummary"
                visible: root.browser.isComparing
                text: root.browser.missingCount + " missing · " + root.browser.changedCount + " changed here"
                color: Theme.textSecondary
                font: Theme.captionFont
            }
            Item { Layout.fillWidth: true }
            GlowButton {
                text: "Select All"
                symbol: "checkmark.square.fill"
                accent: Theme.neonCyan
                enabled: root.browser.files.count > 0
                onClicked: root.browser.selectAllShown()
            }
            GlowButton {
                text: "Clear"
                accent: Theme.textSecondary
                enabled: root.browser.selectedCount > 0
                onClicked: root.browser.clearSelection()
            }
            GlowButton {
                objectName: "restoreButton"
                text: "Restore To..."
                symbol: "arrow.uturn.backward.circle.fill"
                accent: Theme.neonGreen
                filled: true
                enabled: root.browser.selectedCount > 0 && !root.browser.isRestoring
                onClicked: folderDialog.open()
            }
        }

        // Column titles.
        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 10
            Layout.rightMargin: 10
            spacing: 10
            component Heading: Text {
                color: Theme.textMuted
                font.family: Theme.monospacedFamily
                font.pixelSize: 9
                font.weight: Font.Bold
                font.letterSpacing: 1.5
            }
            Item { implicitWidth: 44 }
            Heading {
                Layout.fillWidth: true
                text: "NAME"
            }
            Heading {
                Layout.preferredWidth: 90
                horizontalAlignment: Text.AlignRight
                text: "SIZE"
            }
            Heading {
                Layout.preferredWidth: 150
                text: "MODIFIED"
            }
            Heading {
                Layout.preferredWidth: 80
                text: "NOW"
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.alpha(Theme.neonPink, 0.15)
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ListView {
                id: fileList
                objectName: "fileList"
                anchors.fill: parent
                clip: true
                model: root.browser.files
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}

                delegate: Rectangle {
                    id: fileRow
                    required property int index
                    required property string name
                    required property bool isDirectory
                    required property string sizeText
                    required property string modifiedText
                    required property string icon
                    required property string iconColor
                    required property bool isSelected
                    required property string comparisonText
                    required property string comparisonColor

                    objectName: "fileRow_" + index
                    width: ListView.view.width
                    implicitHeight: 34
                    radius: 6
                    color: isSelected ? Theme.alpha(Theme.neonCyan, 0.1)
                                      : fileArea.containsMouse ? Theme.backgroundCard : "transparent"

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 10
                        anchors.rightMargin: 10
                        spacing: 10

                        IconButton {
                            objectName: "checkBox"
                            symbol: fileRow.isSelected ? "checkmark.square.fill" : "square"
                            size: 14
                            color: fileRow.isSelected ? Theme.neonCyan : Theme.textMuted
                            onClicked: root.browser.toggleSelected(fileRow.index)
                        }
                        Icon {
                            Layout.preferredWidth: 18
                            symbol: fileRow.icon
                            size: 14
                            color: Theme[fileRow.iconColor]
                        }
                        Text {
                            Layout.fillWidth: true
                            text: fileRow.name
                            color: fileRow.isDirectory ? Theme.neonCyan : Theme.textPrimary
                            font: Theme.fieldFont
                            elide: Text.ElideMiddle
                        }
                        Text {
                            Layout.preferredWidth: 90
                            horizontalAlignment: Text.AlignRight
                            text: fileRow.sizeText
                            color: Theme.textSecondary
                            font: Theme.mono(11, Font.Normal)
                        }
                        Text {
                            Layout.preferredWidth: 150
                            text: fileRow.modifiedText
                            color: Theme.textMuted
                            font: Theme.mono(11, Font.Normal)
                            elide: Text.ElideRight
                        }
                        Item {
                            Layout.preferredWidth: 80
                            implicitHeight: 18
                            Rectangle {
                                visible: fileRow.comparisonText.length > 0
                                anchors.verticalCenter: parent.verticalCenter
                                implicitWidth: badge.implicitWidth + 12
                                implicitHeight: 18
                                radius: 9
                                color: Theme.alpha(Theme[fileRow.comparisonColor], 0.15)
                                Text {
                                    id: badge
                                    objectName: "comparisonBadge"
                                    anchors.centerIn: parent
                                    text: fileRow.comparisonText
                                    color: Theme[fileRow.comparisonColor]
                                    font: Theme.mono(9, Font.Bold)
                                }
                            }
                        }
                    }

                    MouseArea {
                        id: fileArea
                        anchors.fill: parent
                        anchors.leftMargin: 34
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        // A folder opens; a file is chosen or left.
                        onClicked: {
                            if (fileRow.isDirectory)
                                root.browser.enter(fileRow.index)
                            else
                                root.browser.toggleSelected(fileRow.index)
                        }
                    }
                }
            }

            Column {
                visible: !root.browser.isListing && fileList.count === 0
                anchors.centerIn: parent
                spacing: 10
                Icon {
                    anchors.horizontalCenter: parent.horizontalCenter
                    symbol: root.browser.errorMessage.length > 0 ? "exclamationmark.triangle.fill" : "folder"
                    size: 30
                    color: root.browser.errorMessage.length > 0 ? Theme.neonRed : Theme.textMuted
                }
                Text {
                    objectName: "folderMessage"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: Math.min(implicitWidth, fileList.width - 40)
                    text: root.browser.errorMessage.length > 0 ? root.browser.errorMessage
                          : root.browser.searchText.length > 0 ? "Nothing here matches \"" + root.browser.searchText + "\""
                          : "This folder is empty"
                    color: root.browser.errorMessage.length > 0 ? Theme.neonRed : Theme.textMuted
                    font: Theme.captionFont
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                }
            }
        }

        // Status: counts, restore progress and outcome.
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.alpha(Theme.neonPink, 0.15)
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 12

            Text {
                objectName: "browserCounts"
                text: root.browser.files.count + " items · " + root.browser.selectedCount + " selected"
                color: Theme.textMuted
                font: Theme.captionFont
            }
            Item { Layout.fillWidth: true }
            Rectangle {
                visible: root.browser.isRestoring
                implicitWidth: 180
                implicitHeight: 6
                radius: 3
                color: Theme.backgroundDeep
                Rectangle {
                    width: parent.width * root.browser.restoreProgress
                    height: parent.height
                    radius: 3
                    color: Theme.neonGreen
                }
            }
            Text {
                visible: root.browser.isRestoring
                text: "Restoring " + Format.percent(root.browser.restoreProgress)
                color: Theme.neonGreen
                font: Theme.captionFont
            }
            GlowButton {
                visible: root.browser.isRestoring
                implicitHeight: 24
                text: "Stop"
                symbol: "stop.fill"
                accent: Theme.neonRed
                onClicked: root.browser.cancelRestore()
            }
            Text {
                objectName: "restoreMessage"
                visible: !root.browser.isRestoring && root.browser.restoreMessage.length > 0
                Layout.maximumWidth: root.width * 0.6
                text: root.browser.restoreMessage
                color: root.browser.restoreFailed ? Theme.neonOrange : Theme.neonGreen
                font: Theme.captionFont
                elide: Text.ElideMiddle
            }
        }
    }

    FolderDialog {
        id: folderDialog
        title: "Restore To"
        currentFolder: root.browser.dialogFolder
        onAccepted: root.browser.chooseDestination(selectedFolder)
    }

    // "Recover N items to FOLDER?", while the browser waits for an answer.
    Popup {
        id: confirmation
        objectName: "restoreConfirmation"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: 440
        padding: 28
        modal: true
        dim: true
        closePolicy: Popup.CloseOnEscape
        // The browser decides; however the popup was closed, it follows.
        onClosed: root.browser.dismissConfirmation()
        Connections {
            target: root.browser
            function onConfirmationChanged() {
                if (root.browser.isConfirming)
                    confirmation.open()
                else
                    confirmation.close()
            }
        }

        Overlay.modal: Rectangle {
            color: Theme.alpha(Theme.backgroundDeep, 0.6)
        }
        background: Rectangle {
            color: Theme.backgroundDeep
            radius: 12
            border.width: 1
            border.color: Theme.alpha(Theme.neonGreen, 0.35)
        }

        contentItem: ColumnLayout {
            spacing: 20
            Icon {
                Layout.alignment: Qt.AlignHCenter
                symbol: "arrow.uturn.backward.circle.fill"
                size: 34
                color: Theme.neonGreen
            }
            Text {
                objectName: "confirmationText"
                Layout.fillWidth: true
                text: root.browser.confirmationText
                color: Theme.textPrimary
                font: Theme.fieldFont
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                horizontalAlignment: Text.AlignHCenter
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                spacing: 12
                GlowButton {
                    objectName: "cancelRestoreButton"
                    text: "Cancel"
                    accent: Theme.textSecondary
                    onClicked: root.browser.dismissConfirmation()
                }
                GlowButton {
                    objectName: "confirmRestoreButton"
                    text: "Recover"
                    accent: Theme.neonGreen
                    filled: true
                    onClicked: root.browser.confirmRestore()
                }
            }
        }
    }
}
