import QtQuick
import QtQuick.Window
import QtTest
import Quorvel
import QuorvelTest

// Wiring of the Settings screen to the stored preferences, the access check
// and the About block.
TestCase {
    id: testCase
    name: "SettingsView"
    when: windowShown

    // The test case itself is never visible; the screen gets a window.
    Component {
        id: windowComponent
        Window {
            width: 1000
            height: 900
            visible: true
            property alias view: screen
            SettingsView {
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
    }

    function child(name) {
        const found = findChild(view, name)
        verify(found, name)
        return found
    }

    function test_first_start() {
        compare(findChild(child("pathRow"), "detail").text, "Not set")
        compare(child("pathName").text, "Choose...")
        compare(child("hiddenSwitch").checked, false)
        compare(child("confirmSwitch").checked, true)
        compare(child("sizeLabel").text, "100 MB")
    }

    function test_a_chosen_path() {
        AppSettings.defaultRecoveryPath = "/Users/u/Rescue"
        compare(findChild(child("pathRow"), "detail").text, "/Users/u/Rescue")
        compare(child("pathName").text, "Rescue")
    }

    // The dialog's own implementation needs modules of its own; it must open.
    function test_browse_opens_a_folder_dialog() {
        mouseClick(child("browseButton"))
        tryCompare(view.folderDialog, "visible", true)
        view.folderDialog.reject()
        tryCompare(view.folderDialog, "visible", false)
        compare(AppSettings.defaultRecoveryPath, "")
    }

    function test_switches_write_at_once() {
        mouseClick(child("hiddenSwitch"))
        compare(AppSettings.showHiddenFiles, true)
        mouseClick(child("confirmSwitch"))
        compare(AppSettings.confirmBeforeRecover, false)
    }

    function test_slider_ends_data() {
        return [
            { tag: "right end", x: 1.0, stored: 1000 },
            { tag: "left end", x: 0.0, stored: 10 },
        ]
    }

    function test_slider_ends(data) {
        const slider = child("sizeSlider")
        mousePress(slider, slider.width / 2, slider.height / 2)
        mouseMove(slider, data.x * slider.width + (data.x > 0.5 ? 20 : -20), slider.height / 2)
        mouseRelease(slider, data.x * slider.width + (data.x > 0.5 ? 20 : -20), slider.height / 2)
        compare(AppSettings.maxCarvingFileSize, data.stored)
        compare(child("sizeLabel").text, data.stored + " MB")
    }

    function test_access_row_and_about() {
        tryVerify(() => !view.settingsScreen.isCheckingAccess)
        compare(child("accessText").text, view.settingsScreen.hasFullDiskAccess ? "Granted" : "Not Granted")
        compare(child("openSettingsButton").visible, view.settingsScreen.canOpenSystemSettings)
        compare(child("aboutName").text, Qt.application.name)
        compare(child("aboutVersion").text, "Version " + Qt.application.version)
    }
}
