pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Layouts
import QtQuick.Window

// The one window: backgroundDeep and the faint grid behind a title strip, the
// sidebar and the screen of the selected destination. AppDelegate styles the
// window (hidden title bar) and then shows it.
Window {
    id: window
    width: 1200
    height: 800
    minimumWidth: 1000
    minimumHeight: 650
    visible: false
    title: Qt.application.name
    color: Theme.backgroundDeep

    readonly property alias navigation: navigation
    readonly property alias screen: screenLoader.item
    readonly property alias aboutSheet: aboutSheet

    NavigationModel {
        id: navigation
        objectName: "navigation"
    }

    Rectangle {
        id: background
        anchors.fill: parent
        color: Theme.backgroundDeep

        // Dragging the background moves the window (there is no system title bar).
        DragHandler {
            target: null
            grabPermissions: PointerHandler.CanTakeOverFromAnything
            onActiveChanged: if (active) window.startSystemMove()
        }
    }

    GridPatternView {
        anchors.fill: parent
        opacity: 0.03
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        TitleStrip {
            Layout.fillWidth: true
            window: window
            navigation: navigation
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Theme.alpha(Theme.neonCyan, 0.3)
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            SidebarView {
                Layout.preferredWidth: 220
                Layout.fillHeight: true
                navigation: navigation
            }

            Rectangle {
                Layout.preferredWidth: 1
                Layout.fillHeight: true
                color: Theme.alpha(Theme.neonCyan, 0.2)
            }

            // A new source discards the screen that is left, with its state
            // and its service, and builds the chosen one afresh.
            Loader {
                id: screenLoader
                objectName: "screenLoader"
                Layout.fillWidth: true
                Layout.fillHeight: true
                source: navigation.selectedScreen
            }
        }
    }

    // A screen with something to lose (a scan under way, files found) is
    // only left once the user says so.
    Binding {
        target: navigation
        property: "leaveWarning"
        value: screenLoader.item && screenLoader.item.leaveWarning !== undefined ? screenLoader.item.leaveWarning : ""
    }

    onClosing: (close) => close.accepted = navigation.mayClose()

    Connections {
        target: navigation
        function onQuitConfirmed() { window.close() }
    }

    CarvingAlert {
        objectName: "leaveAlert"
        shown: navigation.pendingNav >= 0 || navigation.quitPending
        accent: Theme.neonOrange
        symbol: "exclamationmark.triangle.fill"
        title: navigation.quitPending ? "Quit " + Qt.application.name + "?" : "Leave this screen?"
        message: navigation.leaveWarning + (navigation.quitPending ? "" : " Coming back starts the screen afresh.")
        buttons: [
            { text: "Stay", accent: "neonCyan", primary: true },
            { text: navigation.quitPending ? "Quit" : "Leave", accent: "neonOrange", primary: false },
        ]
        onButtonPressed: (index) => index === 1 ? navigation.confirmLeave() : navigation.cancelLeave()
        onDismissed: navigation.cancelLeave()
    }

    AboutSheet {
        id: aboutSheet
        navigation: navigation
    }

    ResizeFrame {
        anchors.fill: parent
        window: window
        enabled: WindowChrome.drawsWindowControls && window.visibility !== Window.Maximized
                 && window.visibility !== Window.FullScreen
    }
}
