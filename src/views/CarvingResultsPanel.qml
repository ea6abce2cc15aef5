pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel

// The hits of the last scan: the toolbar (count, Hide Existing, the two saves,
// New Scan), the column header with the select-all box, and the list.
ColumnLayout {
    id: root
    required property DeepScanScreen screen
    readonly property FileCarvingService service: screen.service
    readonly property VisibleHitsModel hits: screen.visibleFiles

    objectName: "resultsPanel"
    spacing: 0

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: toolbar.implicitHeight + 16
        color: Theme.alpha(Theme.backgroundPanel, 0.5)

        RowLayout {
            id: toolbar
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            anchors.topMargin: 8
            anchors.bottomMargin: 8
            spacing: 10

            Text {
                objectName: "resultsCount"
                text: "RESULTS: " + root.hits.count + " FILES"
                color: Theme.textMuted
                font.family: Theme.monospacedFamily
                font.pixelSize: 9
                font.bold: true
                font.letterSpacing: 2
            }
            Item { Layout.fillWidth: true }

            CarvingButton {
                objectName: "hideExistingButton"
                visible: root.service.existingFileCount > 0
                symbol: root.screen.hideExistingFiles ? "eye.slash" : "eye"
                text: root.screen.hideExistingFiles ? "Hide Existing (" + root.service.existingFileCount + ")" : "Hide Existing"
                accent: Theme.neonOrange
                fontSize: 9
                horizontalPadding: 8
                verticalPadding: 3
                cornerRadius: 4
                onClicked: root.screen.hideExistingFiles = !root.screen.hideExistingFiles
            }
            CarvingButton {
                objectName: "showUnverifiedButton"
                visible: root.screen.showUnverifiedText.length > 0
                symbol: root.screen.showUnverified ? "eye" : "eye.slash"
                text: root.screen.showUnverified ? "Hide Unverified" : root.screen.showUnverifiedText
                accent: Theme.neonPurple
                fontSize: 9
                horizontalPadding: 8
                verticalPadding: 3
                cornerRadius: 4
                onClicked: root.screen.showUnverified = !root.screen.showUnverified
            }
            CarvingButton {
                objectName: "saveSelectedButton"
                enabled: root.hits.selectedCount > 0
                symbol: "arrow.down.doc.fill"
                text: "Save Selected (" + root.hits.selectedCount + ")"
                accent: Theme.neonGreen
                onClicked: root.screen.requestSaveSelected()
            }
            CarvingButton {
                objectName: "saveAllButton"
                symbol: "square.and.arrow.down.on.square"
                text: "Save All"
                accent: Theme.neonCyan
                onClicked: root.screen.requestSaveAll()
            }
            CarvingButton {
                objectName: "newScanButton"
                symbol: "arrow.counterclockwise"
                text: "New Scan"
                accent: Theme.neonBlue
                onClicked: root.screen.newScan()
            }
        }
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: header.implicitHeight + 8
        color: Theme.alpha(Theme.backgroundCard, 0.5)

        RowLayout {
            id: header
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            spacing: 0

            component HeaderText: Text {
                color: Theme.textMuted
                font: Theme.mono(9, Font.Bold)
                elide: Text.ElideRight
            }

            Item {
                Layout.preferredWidth: 30
                Layout.fillHeight: true
                IconButton {
                    objectName: "selectAllBox"
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: root.hits.allSelectableSelected ? "checkmark.square.fill" : "square"
                    size: 11
                    color: Theme.neonCyan
                    onClicked: root.screen.toggleSelectAll()
                }
            }
            HeaderText { Layout.preferredWidth: 70; text: "Status" }
            HeaderText { Layout.preferredWidth: 60; text: "Health" }
            HeaderText { Layout.preferredWidth: 72; text: "Structure" }
            HeaderText { Layout.preferredWidth: 80; text: "Type" }
            HeaderText { Layout.preferredWidth: 80; text: "Size" }
            HeaderText { Layout.preferredWidth: 120; text: "Offset" }
            HeaderText { Layout.fillWidth: true; text: "Source" }
        }
    }

    ListView {
        id: list
        objectName: "hitList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        model: root.hits
        reuseItems: true
        boundsBehavior: Flickable.StopAtBounds
        cacheBuffer: 400
        ScrollBar.vertical: CarvingScrollBar {}
        delegate: CarvingHitRow {
            width: list.width
            screen: root.screen
        }

        Column {
            objectName: "emptyResults"
            anchors.centerIn: parent
            visible: root.hits.count === 0
            spacing: 10
            Icon {
                anchors.horizontalCenter: parent.horizontalCenter
                symbol: root.service.carvedFiles.count === 0 ? "doc.text.magnifyingglass" : "eye.slash"
                size: 30
                color: Theme.alpha(Theme.neonBlue, 0.5)
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: root.service.carvedFiles.count === 0 ? "NO FILES FOUND" : "EVERY HIT IS AN EXISTING FILE"
                color: Theme.textMuted
                font.family: Theme.monospacedFamily
                font.pixelSize: 11
                font.bold: true
                font.letterSpacing: 2
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: root.service.carvedFiles.count === 0 ? "Try other file types or another target, then scan again."
                                                            : "Show them with the Hide Existing toggle above."
                color: Theme.textMuted
                font.pixelSize: 10
            }
        }
    }

    // Past the list's limit unverified hits are only counted; without this
    // line the list would look complete while the toggle's count says not.
    Rectangle {
        objectName: "notListedBar"
        Layout.fillWidth: true
        visible: root.service.unverifiedNotListedText.length > 0
        implicitHeight: notListed.implicitHeight + 10
        color: Theme.alpha(Theme.backgroundPanel, 0.5)

        Row {
            anchors.left: parent.left
            anchors.leftMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                symbol: "info.circle"
                size: 10
                color: Theme.neonPurple
            }
            Text {
                id: notListed
                objectName: "notListedText"
                anchors.verticalCenter: parent.verticalCenter
                text: root.service.unverifiedNotListedText
                color: Theme.textMuted
                font: Theme.mono(9, Font.Normal)
            }
        }
    }
}
