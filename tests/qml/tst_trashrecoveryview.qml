import QtQuick
import QtTest
import Quorvel
import QuorvelTest

// Wiring of the Trash Recovery screen on a real Trash of the test's own:
// the list, a chip, the search, an order, the selection, a restore into a
// folder with its question and its result, and a new scan.
TestCase {
    id: testCase
    name: "TrashRecoveryView"
    when: windowShown
    // A TestCase is hidden by default; the screen is drawn inside it.
    visible: true
    width: 1000
    height: 700

    Component {
        id: viewComponent
        TrashRecoveryView {
            width: testCase.width
            height: testCase.height
        }
    }

    property var view: null

    function init() {
        failOnWarning(/.?/)
        TrashFixture.clear()
        TrashFixture.addItem("report.pdf", 1, 1200)
        TrashFixture.addItem("Quarterly-Report.docx", 2, 3400)
        TrashFixture.addItem("beach.png", 3, 5600)
        view = createTemporaryObject(viewComponent, testCase)
        verify(view)
        // The user's preference is not the test's business.
        view.screen.confirmBeforeRecover = false
        tryCompare(view.service, "isScanning", false)
        tryCompare(view.screen, "fileCount", 3)
        verify(waitForRendering(view))
    }

    function child(name, parent) {
        const found = findChild(parent || view, name)
        verify(found, name)
        return found
    }

    function footerCount() {
        return child("footerCount").text
    }

    function row(fileName) {
        return child("row_" + fileName)
    }

    // Picks a new folder in the screen's folder dialog and confirms it.
    function chooseFolder() {
        const folder = TrashFixture.newFolder()
        const dialog = view.folderDialog
        dialog.open()
        tryCompare(dialog, "visible", true)
        dialog.currentFolder = folder
        dialog.selectedFolder = folder
        dialog.accept()
        return folder
    }

    function test_lists_the_trash() {
        compare(footerCount(), "3 items")
        compare(child("statValue", child("statFiles")).text, "3")
        verify(row("report.pdf").visible)
        verify(child("listState").visible)
        verify(!child("emptyState").visible)
        verify(child("trashFolder").text.length > 0)
    }

    function test_chips_filter_and_count() {
        mouseClick(child("chip_Images"))
        compare(view.screen.selectedCategory, Recovery.FileCategory.image)
        compare(footerCount(), "1 items")
        mouseClick(child("chip_Videos"))
        tryVerify(() => child("emptyState").visible)
        compare(child("chipCount", child("chip_All")).text, "3")
        compare(child("chipCount", child("chip_Documents")).text, "2")
    }

    function test_search_and_clear() {
        mouseClick(child("searchField"))
        for (const letter of "REPORT")
            keyClick(letter)
        compare(view.screen.searchText, "REPORT")
        compare(footerCount(), "2 items")
        mouseClick(child("clearSearch"))
        compare(view.screen.searchText, "")
        compare(child("searchField").text, "")
        compare(footerCount(), "3 items")
    }

    function test_sort_menu() {
        const menu = child("sortMenu")
        compare(menu.displayText, "Newest First")
        menu.forceActiveFocus()
        for (let i = 0; i < 4; ++i)
            keyClick(Qt.Key_Down)
        compare(menu.displayText, "Name A-Z")
        compare(view.screen.sortOrder, TrashSort.Order.nameAsc)
        const list = child("itemList")
        tryCompare(list, "count", 3)
        compare(list.itemAtIndex(0).fileName, "beach.png")
    }

    function test_selection() {
        const recover = child("recoverButton")
        verify(!recover.enabled)
        mouseClick(row("report.pdf"))
        compare(recover.text, "Recover (1)")
        verify(recover.enabled)
        compare(child("statValue", child("statSelected")).text, "1")
        mouseClick(child("selectAll"))
        compare(view.screen.selectedCount, 3)
        mouseClick(child("selectAll"))
        compare(view.screen.selectedCount, 0)
    }

    function test_restore_into_a_folder() {
        mouseClick(row("report.pdf"))
        const folder = chooseFolder()
        const alert = child("recoverAlert")
        tryCompare(alert, "opened", true)
        compare(child("dialogMessage", alert.contentItem).text, "Recovered: 1 files\nFailed: 0 files")
        compare(TrashFixture.entries(folder), ["report.pdf"])
        compare(view.screen.selectedCount, 0)
        mouseClick(child("dialogAccept", alert.contentItem))
        tryCompare(alert, "visible", false)
        compare(view.screen.showRecoverAlert, false)
        // The Trash was read again.
        tryCompare(view.screen, "fileCount", 2)
    }

    function test_question_before_restoring() {
        view.screen.confirmBeforeRecover = true
        mouseClick(row("beach.png"))
        const folder = chooseFolder()
        const question = child("confirmDialog")
        tryCompare(question, "opened", true)
        verify(child("dialogMessage", question.contentItem).text.startsWith("Recover 1 item to "))
        mouseClick(child("dialogReject", question.contentItem))
        tryCompare(question, "visible", false)
        compare(TrashFixture.entries(folder), [])
        compare(view.screen.selectedCount, 1)

        chooseFolder()
        tryCompare(question, "opened", true)
        mouseClick(child("dialogAccept", question.contentItem))
        tryCompare(child("recoverAlert"), "opened", true)
    }

    function test_scan_again() {
        TrashFixture.addItem("late.mp3", 0, 10)
        mouseClick(child("scanButton"))
        tryCompare(view.screen, "fileCount", 4)
        compare(footerCount(), "4 items")
    }
}
