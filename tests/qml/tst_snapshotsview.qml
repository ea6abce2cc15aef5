import QtQuick
import QtQuick.Window
import QtTest
import Quorvel
import QuorvelTest

// Wiring of the Snapshots screen: the three content states, choosing a row,
// the detail pane, browsing and the restore question.
TestCase {
    id: testCase
    name: "SnapshotsView"
    when: windowShown

    // The test case itself is never visible; the screen gets a window.
    Component {
        id: windowComponent
        Window {
            width: 1000
            height: 700
            visible: true
            property alias view: screen
            SnapshotRecoveryView {
                id: screen
                anchors.fill: parent
            }
        }
    }

    property var view: null

    function init() {
        failOnWarning(/.?/)
        SnapshotFixture.resetSettings()
        const window = createTemporaryObject(windowComponent, testCase)
        verify(window)
        verify(waitForRendering(window.contentItem))
        view = window.view
        // The listing the screen starts on its own ends first; the tests
        // then show made-up ones.
        tryVerify(() => !view.service.isLoading, 20000)
    }

    function child(name) {
        const found = findChild(view, name)
        verify(found, name)
        return found
    }

    function test_content_states_data() {
        return [
            { tag: "empty", count: 0, failed: false, refused: false, state: "empty", footer: "0 snapshots found" },
            { tag: "empty after a failure", count: 0, failed: true, refused: true, state: "empty", footer: "0 snapshots found" },
            { tag: "one", count: 1, failed: false, refused: false, state: "list", footer: "1 snapshots found" },
            { tag: "partly refused", count: 3, failed: true, refused: true, state: "list", footer: "3 snapshots found" },
        ]
    }

    function test_content_states(data) {
        SnapshotFixture.fill(view.service, data.count, data.failed, data.refused)
        compare(view.contentState, data.state)
        compare(child("footerCount").text, data.footer)
        compare(child("emptyState").visible, data.state === "empty")
        compare(child("listAndDetail").visible, data.state === "list")
        compare(child("emptyError").visible, data.state === "empty" && data.failed)
        compare(child("administratorButton").visible, data.state === "empty" && data.refused)
        compare(child("partialListing").visible, data.state === "list" && data.failed)
        if (data.failed)
            compare(child("emptyError").text, view.service.errorMessage)

        // Loading hides both, whatever was listed before.
        view.service.loadSnapshots()
        compare(view.contentState, "loading")
        verify(child("loadingState").visible)
        verify(!child("listAndDetail").visible)
        tryVerify(() => !view.service.isLoading, 20000)
    }

    function test_a_chosen_row_fills_the_detail_pane() {
        SnapshotFixture.fill(view.service, 3, false, false)
        verify(child("noSelection").visible)
        mouseClick(child("snapshotRow_1"))
        compare(view.screen.selectedName, "data_before_resize")
        compare(child("detailName").text, "data_before_resize")
        compare(child("volumeLine").text, "Volume: Root • Device: /dev/nvme0n1p2")
        verify(child("snapshotRow_1").isChosen)
        verify(!child("snapshotRow_0").isChosen)
        verify(child("manualAccessNote").visible)
        verify(!child("browseButton").visible)

        mouseClick(child("snapshotRow_2"))
        compare(child("detailDate").text, "Unknown")

        // A new listing has new records: the pane keeps the old one, no
        // row is highlighted.
        SnapshotFixture.fill(view.service, 3, false, false)
        compare(child("detailName").text, "@/.snapshots/1/snapshot")
        for (let row = 0; row < 3; ++row)
            verify(!child("snapshotRow_" + row).isChosen)
    }

    function test_browsing_and_the_restore_question() {
        SnapshotFixture.fill(view.service, 1, false, false)
        mouseClick(child("snapshotRow_0"))
        mouseClick(child("browseButton"))
        compare(view.contentState, "browsing")
        const browser = view.screen.browser
        tryVerify(() => !browser.isListing && browser.files.count === 3)
        compare(child("currentPath").text, "/")

        // A folder opens; a file is chosen.
        mouseClick(child("fileRow_0"))
        tryCompare(child("currentPath"), "text", "/Documents")
        mouseClick(child("upButton"))
        tryVerify(() => browser.files.count === 3)
        mouseClick(child("fileRow_2"))
        compare(browser.selectedCount, 1)
        verify(child("restoreButton").enabled)

        const folder = SnapshotFixture.freshTarget()
        browser.chooseDestination("file://" + folder)
        const question = child("restoreConfirmation")
        tryCompare(question, "opened", true)
        compare(child("confirmationText").text, "Recover 1 item to " + folder + "?")
        mouseClick(child("confirmRestoreButton"))
        tryCompare(question, "visible", false)
        tryVerify(() => !browser.isRestoring && browser.restoreMessage.length > 0)
        compare(child("restoreMessage").text, "Restored 1 item to " + folder)

        mouseClick(child("backToListButton"))
        compare(view.contentState, "list")
    }
}
