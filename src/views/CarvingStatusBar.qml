import QtQuick
import QtQuick.Layouts
import Quorvel

// The service's error in orange (up to six lines), else its status line.
Rectangle {
    id: root
    required property FileCarvingService service

    color: Theme.alpha(Theme.backgroundPanel, 0.5)
    implicitHeight: Math.max(row.implicitHeight, 14) + 12

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 6
        anchors.bottomMargin: 6
        spacing: 6

        Icon {
            Layout.alignment: Qt.AlignTop
            visible: root.service.hasError
            symbol: "exclamationmark.triangle"
            size: 10
            color: Theme.neonOrange
        }
        Text {
            objectName: "statusText"
            Layout.fillWidth: true
            text: root.service.hasError ? root.service.errorMessage : root.service.statusMessage
            color: root.service.hasError ? Theme.neonOrange : Theme.textMuted
            font: Theme.captionFont
            wrapMode: root.service.hasError ? Text.Wrap : Text.NoWrap
            maximumLineCount: root.service.hasError ? 6 : 1
            elide: Text.ElideRight
        }
    }
}
