import QtQuick
import QtQuick.Layouts
import QtQuick.Dialogs
import Quorvel

// The Deep Scan screen: header with the counters, then the set-up, progress or
// results panel as DeepScanScreen decides, and the status bar. The screen
// object holds every choice and owns the service; this file lays them out and
// hosts the dialogs.
Rectangle {
    id: root
    objectName: "carvingView"
    color: Theme.backgroundDeep

    readonly property alias screen: deepScan
    // The window asks before it leaves a screen that has this to lose.
    readonly property string leaveWarning: deepScan.leaveWarning
    readonly property alias saveFolderDialog: saveFolderDialog
    readonly property alias browseFolderDialog: browseFolderDialog
    readonly property alias browseFileDialog: browseFileDialog

    DeepScanScreen {
        id: deepScan
        objectName: "deepScanScreen"
    }

    Component.onCompleted: deepScan.service.refreshVolumes()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        CarvingHeader {
            Layout.fillWidth: true
            screen: deepScan
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.alpha(Theme.neonBlue, 0.2)
        }

        Loader {
            id: body
            objectName: "carvingBody"
            Layout.fillWidth: true
            Layout.fillHeight: true
            sourceComponent: deepScan.body === DeepScanScreen.Body.progress ? progressPanel
                           : deepScan.body === DeepScanScreen.Body.results ? resultsPanel
                           : setupPanel
        }

        CarvingStatusBar {
            Layout.fillWidth: true
            service: deepScan.service
        }
    }

    Component {
        id: setupPanel
        CarvingSetupPanel {
            screen: deepScan
            onBrowseRequested: {
                if (deepScan.scanMode === DeepScanScreen.ScanMode.directory)
                    browseFolderDialog.open()
                else
                    browseFileDialog.open()
            }
        }
    }
    Component {
        id: progressPanel
        CarvingProgressPanel { screen: deepScan }
    }
    Component {
        id: resultsPanel
        CarvingResultsPanel { screen: deepScan }
    }

    FolderDialog {
        id: browseFolderDialog
        title: "Choose a folder to scan"
        onAccepted: deepScan.setScanPathFromUrl(selectedFolder)
    }

    FileDialog {
        id: browseFileDialog
        title: "Choose a disk image"
        fileMode: FileDialog.OpenFile
        nameFilters: ["Disk images (*.img *.dd *.raw *.iso *.bin *.dmg *.001)", "All files (*)"]
        onAccepted: deepScan.setScanPathFromUrl(selectedFile)
    }

    FolderDialog {
        id: saveFolderDialog
        title: deepScan.folderDialogTitle
        acceptLabel: "Save Here"
        onAccepted: deepScan.folderChosen(selectedFolder)
        onRejected: deepScan.folderDialogCancelled()
    }

    Connections {
        target: deepScan
        function onFolderDialogRequested() {
            if (deepScan.initialSaveFolder.toString() !== "")
                saveFolderDialog.currentFolder = deepScan.initialSaveFolder
            saveFolderDialog.open()
        }
    }

    CarvingAlert {
        objectName: "sameDeviceAlert"
        shown: deepScan.showSameDeviceWarning
        accent: Theme.neonOrange
        symbol: "exclamationmark.triangle.fill"
        title: "Save onto the scanned drive?"
        message: deepScan.sameDeviceWarningText
        buttons: [
            { text: "Choose Another Folder", accent: "neonCyan", primary: true },
            { text: "Save Anyway", accent: "neonOrange", primary: false },
        ]
        onButtonPressed: (index) => index === 0 ? deepScan.chooseAnotherFolder() : deepScan.saveAnyway()
        onDismissed: deepScan.cancelPendingSave()
    }

    CarvingAlert {
        objectName: "confirmAlert"
        shown: deepScan.showSaveConfirmation
        accent: Theme.neonBlue
        symbol: "arrow.down.doc.fill"
        title: "Recover Files"
        message: deepScan.saveConfirmationText
        buttons: [
            { text: "Cancel", accent: "textSecondary", primary: false },
            { text: "Recover", accent: "neonGreen", primary: true },
        ]
        onButtonPressed: (index) => index === 1 ? deepScan.confirmSave() : deepScan.cancelPendingSave()
        onDismissed: deepScan.cancelPendingSave()
    }

    CarvingAlert {
        objectName: "saveResultAlert"
        shown: deepScan.showSaveAlert
        // A save that lost files must not wear the success colours.
        readonly property bool allSaved: !!deepScan.saveResult && deepScan.saveResult.failed === 0
                                         && deepScan.saveResult.saved > 0
        accent: allSaved ? Theme.neonGreen : Theme.neonOrange
        symbol: allSaved ? "checkmark.circle.fill" : "exclamationmark.triangle.fill"
        title: "Recovery Result"
        message: deepScan.saveResultText
        buttons: [{ text: "OK", accent: "neonGreen", primary: true }]
        onButtonPressed: deepScan.dismissSaveAlert()
        onDismissed: deepScan.dismissSaveAlert()
    }

    CarvingSavingSheet {
        screen: deepScan
    }
}
