import QtQuick
import Quorvel
import QtQuick.Controls
import QtQuick.Layouts

// The About sheet, open while navigation.showingAbout is true. "Close",
// Escape and a click beside it all close it.
Popup {
    id: sheet
    required property NavigationModel navigation

    objectName: "aboutSheet"
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 400
    height: 320
    padding: 40
    modal: true
    dim: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    Overlay.modal: Rectangle {
        color: Theme.alpha(Theme.backgroundDeep, 0.6)
    }

    background: Rectangle {
        color: Theme.backgroundDeep
        radius: 12
        border.width: 1
        border.color: Theme.alpha(Theme.neonCyan, 0.25)
    }

    // Opening and closing go through the model so that it stays the one
    // source of truth, whichever way the sheet was dismissed.
    Connections {
        target: sheet.navigation
        function onShowingAboutChanged() {
            if (sheet.navigation.showingAbout)
                sheet.open()
            else
                sheet.close()
        }
    }
    onClosed: navigation.showingAbout = false

    contentItem: ColumnLayout {
        spacing: 20

        NeonGlow {
            Layout.alignment: Qt.AlignHCenter
            color: Theme.neonCyan
            radius: 15
            GradientIcon {
                symbol: "arrow.counterclockwise.circle.fill"
                size: 60
            }
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            text: Qt.application.name
            color: Theme.neonCyan
            font: Theme.titleFont
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: -12
            text: "Version " + Qt.application.version
            color: Theme.textMuted
            font: Theme.captionFont
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: -8
            text: "Made with Qt for the files you thought were gone."
            color: Theme.textSecondary
            font: Theme.bodyFont
        }

        Rectangle {
            objectName: "closeButton"
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: closeLabel.implicitWidth + 48
            implicitHeight: closeLabel.implicitHeight + 16
            radius: 8
            color: Theme.alpha(Theme.neonCyan, closeArea.containsMouse ? 0.3 : 0.2)
            border.width: 1
            border.color: Theme.alpha(Theme.neonCyan, 0.5)

            Text {
                id: closeLabel
                anchors.centerIn: parent
                text: "Close"
                color: Theme.neonCyan
                font: Theme.fieldFont
            }
            MouseArea {
                id: closeArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: sheet.navigation.showingAbout = false
            }
        }
    }
}
