pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel

// A modal alert of the Deep Scan screen, open while `shown` is true: an icon
// and title in `accent`, the message, and a row of buttons. Escape dismisses
// it; what a button or a dismissal means is the screen object's business.
Popup {
    id: root
    property bool shown: false
    property color accent: Theme.neonBlue
    property string symbol
    property string title
    property string message
    // Each: { text, accent (palette name), primary (bool) }, left to right.
    property var buttons: []
    signal buttonPressed(int index)
    signal dismissed()

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: 440
    padding: 24
    modal: true
    dim: true
    closePolicy: Popup.CloseOnEscape
    visible: shown

    // Closed by Escape while the screen still wants it shown.
    onClosed: if (shown) root.dismissed()

    Overlay.modal: Rectangle {
        color: Theme.alpha(Theme.backgroundDeep, 0.6)
    }

    background: Rectangle {
        color: Theme.backgroundDeep
        radius: 12
        border.width: 1
        border.color: Theme.alpha(root.accent, 0.35)

        Rectangle {
            anchors.fill: parent
            anchors.margins: 1
            radius: 11
            color: Theme.alpha(Theme.backgroundRaised, 0.7)
        }
    }

    contentItem: ColumnLayout {
        spacing: 14

        RowLayout {
            spacing: 12
            NeonGlow {
                color: root.accent
                radius: 8
                implicitWidth: alertIcon.implicitWidth
                implicitHeight: alertIcon.implicitHeight
                Icon {
                    id: alertIcon
                    symbol: root.symbol
                    size: 22
                    color: root.accent
                }
            }
            Text {
                objectName: "alertTitle"
                Layout.fillWidth: true
                text: root.title
                color: Theme.textPrimary
                font: Theme.mono(15, Font.DemiBold)
                wrapMode: Text.Wrap
            }
        }

        Text {
            objectName: "alertMessage"
            Layout.fillWidth: true
            text: root.message
            color: Theme.textSecondary
            font: Theme.mono(11, Font.Normal)
            wrapMode: Text.Wrap
            lineHeight: 1.2
        }

        RowLayout {
            Layout.topMargin: 6
            Layout.alignment: Qt.AlignRight
            spacing: 10
            Repeater {
                model: root.buttons
                delegate: CarvingButton {
                    required property var modelData
                    required property int index
                    objectName: "alertButton_" + index
                    text: modelData.text
                    accent: ThemePalette.named(modelData.accent)
                    fontSize: 11
                    weight: modelData.primary ? Font.DemiBold : Font.Medium
                    fillOpacity: modelData.primary ? 0.18 : 0.06
                    horizontalPadding: 16
                    verticalPadding: 7
                    onClicked: root.buttonPressed(index)
                }
            }
        }
    }
}
