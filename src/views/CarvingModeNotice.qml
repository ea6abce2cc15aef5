pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Quorvel

// What a mode asks of the user before it starts: its title and description,
// numbered steps and a note, in the mode's accent colour.
GlassBackground {
    id: root
    // DeepScanScreen.modeNotice: accent, icon, title, description, steps,
    // note, noteIcon, noteColor. An empty map (a mode without a notice)
    // draws nothing worth showing; the caller hides it.
    required property var notice
    readonly property color accent: ThemePalette.named(notice.accent ?? "neonCyan")

    cornerRadius: 10
    borderColor: accent
    padding: 14
    implicitHeight: column.implicitHeight + 2 * padding

    ColumnLayout {
        id: column
        width: parent.width
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 12

            NeonGlow {
                Layout.alignment: Qt.AlignTop
                color: root.accent
                radius: 6
                implicitWidth: noticeIcon.implicitWidth
                implicitHeight: noticeIcon.implicitHeight
                Icon {
                    id: noticeIcon
                    symbol: root.notice.icon ?? ""
                    size: 22
                    color: root.accent
                }
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 3
                Text {
                    objectName: "noticeTitle"
                    Layout.fillWidth: true
                    text: root.notice.title ?? ""
                    color: root.accent
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                }
                Text {
                    Layout.fillWidth: true
                    text: root.notice.description ?? ""
                    color: Theme.textSecondary
                    font.pixelSize: 10
                    wrapMode: Text.Wrap
                }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 2
            spacing: 6
            Repeater {
                model: root.notice.steps ?? []
                delegate: RowLayout {
                    id: step
                    required property string modelData
                    required property int index
                    Layout.fillWidth: true
                    spacing: 8
                    Rectangle {
                        Layout.preferredWidth: 14
                        Layout.preferredHeight: 14
                        Layout.alignment: Qt.AlignTop
                        radius: 3
                        color: Theme.alpha(Theme.neonCyan, 0.15)
                        Text {
                            anchors.centerIn: parent
                            text: step.index + 1
                            color: Theme.neonCyan
                            font: Theme.mono(9, Font.Bold)
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: step.modelData
                        color: Theme.textSecondary
                        font.pixelSize: 10
                        wrapMode: Text.Wrap
                    }
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Icon {
                Layout.alignment: Qt.AlignTop
                symbol: root.notice.noteIcon ?? ""
                size: 10
                color: ThemePalette.named(root.notice.noteColor ?? "neonCyan")
            }
            Text {
                Layout.fillWidth: true
                text: root.notice.note ?? ""
                color: Theme.textSecondary
                font.pixelSize: 10
                font.weight: Font.Medium
                wrapMode: Text.Wrap
            }
        }
    }
}
