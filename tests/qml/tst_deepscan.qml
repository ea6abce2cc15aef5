import QtQuick
import QtTest
import Quorvel
import QuorvelTest

// The Deep Scan screen end to end: set up a Disk Image scan of an image made
// here, watch it run, select hits, save them through the folder dialog, read
// the alert, and find the planted files among the saved ones, byte for byte.
Item {
    id: host
    width: 1000
    height: 720

    TestCase {
        id: testCase
        name: "DeepScan"
        when: windowShown

        Component {
            id: viewComponent
            CarvingView { anchors.fill: parent }
        }

        // Each is found by its own signature and ends with its footer, with
        // nothing of another signature inside.
        readonly property string jpegHex: "FFD8FFE000104A464946" + "6A".repeat(700) + "FFD9"
        readonly property string pngHex: "89504E470D0A1A0A" + "70".repeat(400) + "49454E44AE426082"
        readonly property string pdfHex: "255044462D312E340A" + "64".repeat(500) + "0A2525454F46"

        property var view: null
        property var screen: null
        property var bodies: []

        Connections {
            target: testCase.screen
            function onBodyChanged() { testCase.bodies.push(testCase.screen.body) }
        }

        function init() {
            failOnWarning(/.?/)
            view = createTemporaryObject(viewComponent, host)
            verify(view)
            screen = view.screen
            bodies = []
        }

        // Waits for it: a list builds its rows after the model has them.
        function item(name, under) {
            let found = null
            tryVerify(() => (found = findChild(under || view, name)) !== null, 5000, name)
            return found
        }

        // The folder dialog answers as a user would; a confirmation, when
        // the settings ask for one, is accepted.
        function chooseSaveFolder(path) {
            const dialog = view.saveFolderDialog
            tryVerify(() => dialog.visible)
            dialog.selectedFolder = "file://" + path
            dialog.accept()
            if (screen.showSaveConfirmation)
                mouseClick(item("alertButton_1", findChild(view, "confirmAlert").contentItem))
        }

        // Scrolls the set-up panel to its end, where START is.
        function scrollToStart() {
            const panel = item("setupPanel")
            panel.contentY = Math.max(0, panel.contentHeight - panel.height)
            return item("startButton")
        }

        function savedMatchPlanted(folder, planted) {
            const names = TestFiles.fileNames(folder)
            compare(names.length, planted.length)
            const saved = names.map(name => TestFiles.hexOf(folder + "/" + name)).sort()
            compare(saved, planted.slice().sort())
        }

        function test_scan_select_and_save() {
            const image = TestFiles.writeImage("card.img", [jpegHex, pngHex, pdfHex], 300000)
            verify(image.length > 0)

            // Set-up: the Disk Image card, the path typed, every type.
            compare(screen.body, DeepScanScreen.Body.setup)
            mouseClick(item("modeCard_" + DeepScanScreen.ScanMode.diskImage))
            compare(screen.scanMode, DeepScanScreen.ScanMode.diskImage)
            const start = item("startButton")
            verify(!start.enabled)
            const field = item("pathField")
            compare(field.placeholderText, "Select disk image...")
            field.forceActiveFocus()
            for (const character of image)
                keyClick(character)
            compare(screen.scanPath, image)
            verify(start.enabled)
            verify(screen.allSignaturesSelected)

            // Progress, then results.
            mouseClick(scrollToStart())
            tryCompare(screen, "body", DeepScanScreen.Body.results)
            compare(bodies, [DeepScanScreen.Body.progress, DeepScanScreen.Body.results])
            // The planted bytes carry no whole structure: every hit is
            // unverified, hidden until asked for.
            compare(screen.visibleFiles.count, 0)
            verify(screen.showUnverifiedText.indexOf("(3)") >= 0, screen.showUnverifiedText)
            // Every hit has a row, so no line claims some were left out.
            verify(!item("notListedBar").visible)
            screen.showUnverified = true
            compare(item("resultsCount").text, "RESULTS: 3 FILES")
            compare(item("shownCounter").value, 3)
            verify(findChild(view, "statusText").text.startsWith("Scan complete: 3 files found"))

            // Select all, then leave the second hit out by tapping its row.
            mouseClick(item("selectAllBox"))
            compare(screen.visibleFiles.selectedCount, 3)
            compare(item("selectAllBox").symbol, "checkmark.square.fill")
            mouseClick(item("hitRow_1"))
            compare(screen.visibleFiles.selectedCount, 2)
            compare(item("saveSelectedButton").text, "Save Selected (2)")

            // Save the two into a folder; the alert has the counts.
            const chosen = TestFiles.makeFolder("selected")
            mouseClick(item("saveSelectedButton"))
            chooseSaveFolder(chosen)
            tryCompare(screen, "showSaveAlert", true)
            const alert = findChild(view, "saveResultAlert")
            tryCompare(alert, "opened", true)
            compare(item("alertMessage", alert.contentItem).text, "Saved: 2 files\nFailed: 0\nNo data: 0")
            mouseClick(item("alertButton_0", alert.contentItem))
            tryCompare(alert, "visible", false)
            compare(screen.saveResult, undefined)
            compare(screen.visibleFiles.selectedCount, 0)
            savedMatchPlanted(chosen, [jpegHex, pdfHex])

            // Save All takes every hit.
            const all = TestFiles.makeFolder("all")
            mouseClick(item("saveAllButton"))
            chooseSaveFolder(all)
            tryCompare(screen, "showSaveAlert", true)
            compare(screen.saveResultText, "Saved: 3 files\nFailed: 0\nNo data: 0")
            mouseClick(item("alertButton_0", findChild(view, "saveResultAlert").contentItem))
            savedMatchPlanted(all, [jpegHex, pngHex, pdfHex])

            // New Scan goes back to the set-up with the choices kept.
            mouseClick(item("newScanButton"))
            compare(screen.body, DeepScanScreen.Body.setup)
            compare(item("pathField").text, image)
        }

        function test_cancelled_folder_dialog_changes_nothing() {
            mouseClick(item("modeCard_" + DeepScanScreen.ScanMode.directory))
            compare(item("pathField").placeholderText, "/path/to/scan")
            screen.scanPath = TestFiles.makeFolder("empty")
            mouseClick(scrollToStart())
            tryCompare(screen, "body", DeepScanScreen.Body.results)
            mouseClick(item("saveAllButton"))
            const dialog = view.saveFolderDialog
            tryVerify(() => dialog.visible)
            dialog.reject()
            verify(!screen.showSaveAlert)
            verify(!screen.service.isSaving)
        }
    }
}
