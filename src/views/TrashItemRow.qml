import QtQuick
import Quorvel
import QtQuick.Layouts

// One Trash item: checkbox, category icon, name (with the place it was
// deleted from under it, when known), size, type and deletion date. A
// selected row is tinted with its category's colour. Tapping anywhere on it
// toggles it.
Item {
    id: root
    required property string itemId
    required property string fileName
    required property string originalPath
    required property bool hasOriginalPath
    required property string sizeText
    required property string categoryName
    required property string categoryIcon
    required property string categoryColor
    required property string deletedDateText
    required property bool isSelected
    required property int index
    // Widths of the Size, Type and Deleted columns, shared with the header.
    property int sizeWidth: 100
    property int typeWidth: 100
    property int dateWidth: 170
    signal toggled(string itemId)

    readonly property color accent: ThemePalette.named(categoryColor)

    objectName: "row_" + fileName
    implicitHeight: hasOriginalPath ? 50 : 40

    Rectangle {
        anchors.fill: parent
        color: root.isSelected ? Theme.alpha(root.accent, 0.05)
                               : area.containsMouse ? Theme.alpha(Theme.backgroundCard, 0.6) : "transparent"
    }
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: Theme.alpha(Theme.textMuted, 0.08)
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        spacing: 10

        Icon {
            objectName: "checkbox"
            Layout.preferredWidth: 20
            symbol: root.isSelected ? "checkmark.square.fill" : "square"
            size: 13
            color: root.isSelected ? Theme.neonCyan : Theme.textMuted
        }

        Rectangle {
            Layout.preferredWidth: 28
            Layout.preferredHeight: 28
            radius: 7
            color: Theme.alpha(root.accent, 0.12)
            Icon {
                anchors.centerIn: parent
                symbol: root.categoryIcon
                size: 12
                color: root.accent
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Text {
                Layout.fillWidth: true
                text: root.fileName
                color: Theme.textPrimary
                elide: Text.ElideMiddle
                font.pixelSize: 12
            }
            Text {
                Layout.fillWidth: true
                visible: root.hasOriginalPath
                text: root.originalPath
                color: Theme.textMuted
                elide: Text.ElideMiddle
                font: Theme.mono(9, Font.Normal)
            }
        }

        Text {
            Layout.preferredWidth: root.sizeWidth
            text: root.sizeText
            color: Theme.textSecondary
            horizontalAlignment: Text.AlignRight
            font: Theme.mono(11, Font.Normal)
        }
        Text {
            Layout.preferredWidth: root.typeWidth
            leftPadding: 12
            text: root.categoryName
            color: Theme.alpha(root.accent, 0.85)
            font: Theme.mono(11, Font.Normal)
        }
        Text {
            Layout.preferredWidth: root.dateWidth
            text: root.deletedDateText
            color: Theme.textSecondary
            elide: Text.ElideRight
            font: Theme.mono(11, Font.Normal)
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.toggled(root.itemId)
    }
}
