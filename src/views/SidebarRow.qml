import QtQuick
import Quorvel
import QtQuick.Layouts

// One destination in the sidebar. Its look (plain, hovered, selected; the
// selection wins) comes from the navigation model; selecting animates over
// 0.2 s and hovering over 0.15 s, both ease-in-out.
Item {
    id: root
    required property NavigationModel navigation
    required property int item
    required property string title
    required property string subtitle
    required property string symbol
    required property color accent
    // "plain", "hovered" or "selected", decided by the model.
    required property string look
    readonly property bool isSelected: look === "selected"

    objectName: "sidebarRow_" + item
    implicitHeight: content.implicitHeight + 16

    // Animated values; the states below set them.
    property color fill: "transparent"
    property color outline: "transparent"
    property color boxFill: "transparent"
    property color iconColor: Theme.textMuted
    property color titleColor: Theme.textSecondary
    property real markerOpacity: 0

    state: look
    states: [
        State {
            name: "plain"
        },
        State {
            name: "hovered"
            PropertyChanges { target: root; fill: Theme.backgroundCard }
        },
        State {
            name: "selected"
            PropertyChanges {
                target: root
                fill: Theme.alpha(root.accent, 0.08)
                outline: Theme.alpha(root.accent, 0.2)
                boxFill: Theme.alpha(root.accent, 0.2)
                iconColor: root.accent
                titleColor: root.accent
                markerOpacity: 1
            }
        }
    ]
    transitions: [
        Transition {
            from: "plain"; to: "hovered"; reversible: true
            ColorAnimation { duration: 150; easing.type: Easing.InOutQuad }
        },
        Transition {
            from: "*"; to: "*"
            ColorAnimation { duration: 200; easing.type: Easing.InOutQuad }
            NumberAnimation { property: "markerOpacity"; duration: 200; easing.type: Easing.InOutQuad }
        }
    ]

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: root.fill
        border.width: 1
        border.color: root.outline
    }

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 12

        Rectangle {
            Layout.preferredWidth: 32
            Layout.preferredHeight: 32
            radius: 8
            color: root.boxFill

            Icon {
                anchors.centerIn: parent
                symbol: root.symbol
                size: 14
                color: root.iconColor
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            Text {
                objectName: "title"
                Layout.fillWidth: true
                text: root.title
                color: root.titleColor
                font.pixelSize: 12
                font.weight: root.isSelected ? Font.DemiBold : Font.Normal
            }
            Text {
                Layout.fillWidth: true
                text: root.subtitle
                color: Theme.textMuted
                font: Theme.mono(9, Font.Normal)
            }
        }

        NeonGlow {
            Layout.preferredWidth: 3
            Layout.preferredHeight: 20
            // Kept in the layout while hidden so the texts do not shift.
            opacity: root.markerOpacity
            color: root.accent
            radius: 4
            Rectangle {
                width: 3
                height: 20
                radius: 1
                color: root.accent
            }
        }
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onEntered: root.navigation.hoverEntered(root.item)
        onExited: root.navigation.hoverExited(root.item)
        onClicked: root.navigation.select(root.item)
    }
}
