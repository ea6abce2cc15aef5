import QtQuick
import Quorvel
import QtQuick.Controls
import QtQuick.Layouts

// A small modal sheet of the Trash screen, shaped like the About sheet: a
// symbol, a title, a message and one or two buttons. It opens while `shown`
// is true; the screen object decides that, the buttons report back.
Popup {
    id: sheet
    property bool shown: false
    property string symbol
    property color accent: Theme.neonCyan
    property string title
    property string message
    property string acceptText: "OK"
    // Empty: a single button.
    property string rejectText
    signal accepted()
    signal rejected()

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 420
    padding: 32
    modal: true
    dim: true
    closePolicy: Popup.CloseOnEscape
    visible: shown
    onClosed: if (shown) rejectText.length > 0 ? sheet.rejected() : sheet.accepted()

    Overlay.modal: Rectangle {
        color: Theme.alpha(Theme.backgroundDeep, 0.6)
    }

    background: Rectangle {
        color: Theme.backgroundDeep
        radius: 12
        border.width: 1
        border.color: Theme.alpha(sheet.accent, 0.35)
    }

    contentItem: ColumnLayout {
        spacing: 16

        NeonGlow {
            Layout.alignment: Qt.AlignHCenter
            color: sheet.accent
            radius: 10
            Icon {
                symbol: sheet.symbol
                size: 34
                color: sheet.accent
            }
        }

        Text {
            objectName: "dialogTitle"
            Layout.alignment: Qt.AlignHCenter
            text: sheet.title
            color: Theme.textPrimary
            font: Theme.headlineFont
        }

        Text {
            objectName: "dialogMessage"
            Layout.fillWidth: true
            text: sheet.message
            color: Theme.textSecondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            lineHeight: 1.3
            font: Theme.mono(12, Font.Normal)
        }

        Row {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 4
            spacing: 12

            TrashButton {
                objectName: "dialogReject"
                visible: sheet.rejectText.length > 0
                text: sheet.rejectText
                accent: Theme.textSecondary
                onClicked: sheet.rejected()
            }
            TrashButton {
                objectName: "dialogAccept"
                text: sheet.acceptText
                accent: sheet.accent
                prominent: true
                onClicked: sheet.accepted()
            }
        }
    }
}
