import QtQuick
import QtQuick.Layouts
import Quorvel

// One hit of the results list: checkbox, status, health and structure
// badges, type, size (the whole file's when its structure was walked),
// offset and where it came from (or the existing file it matched, or why
// its structure was refused).
// Tapping toggles its selection when it can be recovered.
Item {
    id: root
    required property DeepScanScreen screen
    required property int index
    required property bool isSelected
    required property bool canRecover
    required property int recoveryStatus
    required property string recoveryStatusText
    required property string recoveryStatusIcon
    required property string recoveryStatusColor
    required property string healthText
    required property string healthIcon
    required property string healthColor
    required property string signatureType
    required property string sizeText
    required property string offsetText
    required property bool hasData
    required property string sourcePath
    required property string matchedExistingPath
    // Where a file found in the Trash lay before it was deleted; empty for
    // other hits.
    required property string originalPath
    required property bool isVerified
    required property string verificationText
    required property string verificationIcon
    required property string verificationColor
    required property string verifiedSizeText

    readonly property bool isExisting: recoveryStatus === Recovery.RecoveryStatus.existing
    readonly property bool showsMatch: isExisting && matchedExistingPath.length > 0

    objectName: "hitRow_" + index
    implicitHeight: 28
    opacity: isExisting ? 0.5 : 1.0

    Rectangle {
        anchors.fill: parent
        color: root.isSelected ? Theme.alpha(Theme.neonCyan, 0.04)
             : area.containsMouse && root.canRecover ? Theme.alpha(Theme.backgroundCard, 0.7)
             : root.isExisting ? Theme.alpha(Theme.textMuted, 0.02) : "transparent"
    }
    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.alpha(Theme.neonBlue, 0.05)
    }

    component Badge: Row {
        id: badge
        required property string symbol
        required property string label
        required property string tint
        spacing: 4
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            symbol: badge.symbol
            size: 9
            color: ThemePalette.named(badge.tint)
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: badge.label
            color: ThemePalette.named(badge.tint)
            font.pixelSize: 9
            font.weight: Font.Medium
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 5
        anchors.bottomMargin: 5
        spacing: 0

        Item {
            Layout.preferredWidth: 30
            Layout.fillHeight: true
            Icon {
                objectName: "checkbox"
                anchors.verticalCenter: parent.verticalCenter
                symbol: !root.canRecover ? "minus.circle" : root.isSelected ? "checkmark.square.fill" : "square"
                size: 11
                color: !root.canRecover ? Theme.alpha(Theme.textMuted, 0.3)
                     : root.isSelected ? Theme.neonCyan : Theme.textMuted
            }
        }
        Item {
            Layout.preferredWidth: 70
            Layout.fillHeight: true
            Badge {
                anchors.verticalCenter: parent.verticalCenter
                symbol: root.recoveryStatusIcon
                label: root.recoveryStatusText
                tint: root.recoveryStatusColor
            }
        }
        Item {
            Layout.preferredWidth: 60
            Layout.fillHeight: true
            Badge {
                anchors.verticalCenter: parent.verticalCenter
                symbol: root.healthIcon
                label: root.healthText
                tint: root.healthColor
            }
        }
        Item {
            Layout.preferredWidth: 72
            Layout.fillHeight: true
            Badge {
                objectName: "verificationBadge"
                anchors.verticalCenter: parent.verticalCenter
                visible: root.verificationText.length > 0
                symbol: root.verificationIcon
                label: root.isVerified ? "Verified" : "Unverified"
                // A hit no walk looked at (a whole file) has no colour; the
                // hidden badge still needs one.
                tint: root.verificationColor.length > 0 ? root.verificationColor : "textMuted"
            }
        }
        Row {
            Layout.preferredWidth: 80
            spacing: 5
            clip: true
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                symbol: "doc.circle"
                size: 11
                color: Theme.neonBlue
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.signatureType
                color: Theme.textPrimary
                font.pixelSize: 11
                font.weight: Font.Medium
            }
        }
        Text {
            Layout.preferredWidth: 80
            text: root.isVerified ? root.verifiedSizeText : root.sizeText
            color: Theme.textSecondary
            font: Theme.mono(10, Font.Normal)
            elide: Text.ElideRight
        }
        Text {
            Layout.preferredWidth: 120
            // A whole file (from the Trash, or an existing file) was not cut
            // out of the device, so no offset of its own says where it lies.
            text: root.hasData ? root.offsetText : "whole file"
            color: Theme.alpha(Theme.neonBlue, root.hasData ? 0.7 : 0.4)
            font: Theme.mono(10, Font.Normal)
        }
        Text {
            Layout.fillWidth: true
            // A Trash hit is shown where its owner last saw it, not under
            // the Trash's own, possibly renamed, copy; a refused hit says why first.
            readonly property string place: root.originalPath.length > 0 ? root.originalPath : root.sourcePath
            text: root.showsMatch ? "⇄ " + root.matchedExistingPath
                : !root.isVerified && root.verificationText.length > 0 ? root.verificationText + " · " + place
                : place
            color: root.showsMatch ? Theme.alpha(Theme.textMuted, 0.6) : Theme.textMuted
            font: Theme.mono(root.showsMatch ? 8 : 9, Font.Normal)
            elide: Text.ElideMiddle
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: root.canRecover ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: root.screen.toggleFile(root.index)
    }
}
