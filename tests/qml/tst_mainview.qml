import QtQuick
import QtTest
import Quorvel

// Wiring of the window: sidebar rows to screens, rebuilding a screen that is
// left, hover, and the About sheet.
TestCase {
    id: testCase
    name: "MainView"
    when: windowShown

    Component {
        id: mainViewComponent
        MainView {}
    }

    property var view: null

    function init() {
        failOnWarning(/.?/)
        view = createTemporaryObject(mainViewComponent, testCase)
        verify(view)
        view.show()
        verify(waitForRendering(view.contentItem))
    }

    function row(item) {
        const found = findChild(view.contentItem, "sidebarRow_" + item)
        verify(found, "row " + item)
        return found
    }

    function loader() {
        return findChild(view.contentItem, "screenLoader")
    }

    // The file name of the screen the detail area shows.
    function screenFile() {
        return loader().source.toString().split("/").pop()
    }

    function test_row_shows_its_screen_data() {
        return [
            { tag: "trashRecovery", item: Recovery.NavigationItem.trashRecovery, title: "Trash Recovery", screen: "TrashRecoveryView.qml" },
            { tag: "snapshotRecovery", item: Recovery.NavigationItem.snapshotRecovery, title: "Snapshots", screen: "SnapshotRecoveryView.qml" },
            { tag: "deepScan", item: Recovery.NavigationItem.deepScan, title: "Deep Scan", screen: "CarvingView.qml" },
            { tag: "settings", item: Recovery.NavigationItem.settings, title: "Settings", screen: "SettingsView.qml" },
        ]
    }

    function test_row_shows_its_screen(data) {
        // Start elsewhere so that every row really changes the selection.
        view.navigation.select(data.item === Recovery.NavigationItem.trashRecovery
                               ? Recovery.NavigationItem.settings : Recovery.NavigationItem.trashRecovery)
        const target = row(data.item)
        compare(findChild(target, "title").text, data.title)
        mouseClick(target)
        compare(view.navigation.selectedNav, data.item)
        compare(target.look, "selected")
        tryVerify(() => loader().status === Loader.Ready && loader().item !== null)
        compare(screenFile(), data.screen)
    }

    function test_screen_is_rebuilt_after_leaving() {
        const deepScan = Recovery.NavigationItem.deepScan
        mouseClick(row(deepScan))
        tryVerify(() => loader().item !== null)
        let first = loader().item
        first.objectName = "state the user left behind"

        mouseClick(row(Recovery.NavigationItem.settings))
        tryVerify(() => loader().item !== null && screenFile() === "SettingsView.qml")
        mouseClick(row(deepScan))
        tryVerify(() => loader().item !== null && screenFile() === "CarvingView.qml")
        verify(loader().item !== first)
        verify(loader().item.objectName !== "state the user left behind")
    }

    // A screen with something to lose is left only after the user says so.
    function test_leaving_asks_first_data() {
        return [
            { tag: "stay", button: 0, screen: "TrashRecoveryView.qml" },
            { tag: "leave", button: 1, screen: "SettingsView.qml" },
        ]
    }

    function test_leaving_asks_first(data) {
        const alert = findChild(view, "leaveAlert")
        view.navigation.leaveWarning = "The 3 files found are discarded."
        mouseClick(row(Recovery.NavigationItem.settings))
        tryCompare(alert, "opened", true)
        compare(findChild(alert.contentItem, "alertMessage").text,
                "The 3 files found are discarded. Coming back starts the screen afresh.")
        compare(screenFile(), "TrashRecoveryView.qml")
        mouseClick(findChild(alert.contentItem, "alertButton_" + data.button))
        tryCompare(alert, "visible", false)
        tryVerify(() => loader().item !== null && screenFile() === data.screen)
        compare(view.navigation.pendingNav, -1)
    }

    function test_closing_asks_first() {
        const alert = findChild(view, "leaveAlert")
        view.navigation.leaveWarning = "The scan stops."
        view.close()
        tryCompare(alert, "opened", true)
        verify(view.visible)
        compare(findChild(alert.contentItem, "alertButton_1").text, "Quit")
        mouseClick(findChild(alert.contentItem, "alertButton_1"))
        tryCompare(view, "visible", false)
    }

    function test_hover_and_selection() {
        mouseMove(row(2))
        tryCompare(view.navigation, "hoveredItem", 2)
        compare(row(2).look, "hovered")
        // Hovering the selected row keeps its selected look.
        mouseMove(row(0))
        tryCompare(view.navigation, "hoveredItem", 0)
        compare(row(0).look, "selected")
        compare(row(2).look, "plain")
        mouseMove(view.contentItem, view.width - 20, view.height - 20)
        tryCompare(view.navigation, "hoveredItem", -1)
    }

    function test_about_opens_and_closes() {
        const sheet = view.aboutSheet
        verify(!sheet.visible)
        mouseClick(findChild(view.contentItem, "aboutButton"))
        compare(view.navigation.showingAbout, true)
        tryCompare(sheet, "opened", true)

        mouseClick(findChild(sheet.contentItem, "closeButton"))
        compare(view.navigation.showingAbout, false)
        tryCompare(sheet, "visible", false)

        // Dismissed by other means (Escape, a click beside it), the model follows.
        view.navigation.showingAbout = true
        tryCompare(sheet, "opened", true)
        sheet.close()
        tryCompare(view.navigation, "showingAbout", false)
        tryCompare(sheet, "visible", false)

        // And it opens again after a dismissal.
        mouseClick(findChild(view.contentItem, "aboutButton"))
        tryCompare(sheet, "opened", true)
    }

    function test_title_strip() {
        const indicator = findChild(view.contentItem, "statusIndicator")
        verify(indicator)
        compare(indicator.children[1].text, "READY")
    }
}
