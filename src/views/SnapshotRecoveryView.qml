pragma ComponentBehavior: Bound
import QtQuick
import Quorvel
import QtQuick.Controls
import QtQuick.Layouts

// The Snapshots screen: the snapshots of the system's volumes with the facts
// of the one chosen, and, for snapshots whose files can be reached as a
// folder, a browser that copies files back out. Its service lists when the
// screen appears and again on "Refresh".
Item {
    id: root
    objectName: "snapshotRecoveryView"

    readonly property alias service: service
    readonly property alias screen: screen
    // "loading", "empty", "list" or "browsing".
    readonly property string contentState: screen.isBrowsing ? "browsing"
                                           : service.isLoading ? "loading"
                                           : service.snapshots.count === 0 ? "empty" : "list"

    SnapshotService {
        id: service
    }

    SnapshotScreen {
        id: screen
        service: service
    }

    Component.onCompleted: service.loadSnapshots()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Header.
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 72
            color: Theme.alpha(Theme.backgroundPanel, 0.6)

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 24
                anchors.rightMargin: 24
                spacing: 14

                NeonGlow {
                    color: Theme.neonPink
                    radius: 8
                    Icon {
                        symbol: "clock.arrow.circlepath"
                        size: 26
                        color: Theme.neonPink
                    }
                }
                ColumnLayout {
                    spacing: 3
                    Text {
                        objectName: "screenTitle"
                        text: service.title
                        color: Theme.textPrimary
                        font: Theme.headlineFont
                    }
                    Text {
                        text: service.subtitle
                        color: Theme.textMuted
                        font: Theme.captionFont
                    }
                }
                Item { Layout.fillWidth: true }
                GlowButton {
                    objectName: "refreshButton"
                    text: "Refresh"
                    symbol: "arrow.clockwise"
                    accent: Theme.neonPink
                    onClicked: service.loadSnapshots()
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.alpha(Theme.neonPink, 0.3)
        }

        // Content: one of the three states of the listing, or the browser.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            Column {
                objectName: "loadingState"
                visible: root.contentState === "loading"
                anchors.centerIn: parent
                spacing: 18
                ScanProgressView {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 100
                    height: 100
                    color: Theme.neonPink
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Loading Snapshots..."
                    color: Theme.textSecondary
                    font: Theme.fieldFont
                }
            }

            ColumnLayout {
                objectName: "emptyState"
                visible: root.contentState === "empty"
                anchors.centerIn: parent
                width: Math.min(parent.width - 80, 560)
                spacing: 12

                Icon {
                    Layout.alignment: Qt.AlignHCenter
                    symbol: "clock.badge.questionmark"
                    size: 48
                    color: Theme.textMuted
                }
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    text: "No Snapshots Found"
                    color: Theme.textPrimary
                    font: Theme.headlineFont
                }
                Text {
                    objectName: "emptyHint"
                    Layout.fillWidth: true
                    text: service.emptyHint
                    color: Theme.textMuted
                    font: Theme.captionFont
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    lineHeight: 1.3
                }
                Text {
                    objectName: "emptyError"
                    visible: service.hasError
                    Layout.fillWidth: true
                    Layout.topMargin: 6
                    text: service.errorMessage
                    color: Theme.neonRed
                    font: Theme.captionFont
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                }
                GlowButton {
                    objectName: "administratorButton"
                    visible: service.canListAsAdministrator
                    Layout.alignment: Qt.AlignHCenter
                    Layout.topMargin: 8
                    text: "List as Administrator"
                    symbol: "lock.shield.fill"
                    accent: Theme.neonOrange
                    onClicked: service.loadSnapshotsAsAdministrator()
                }
            }

            SplitView {
                objectName: "listAndDetail"
                visible: root.contentState === "list"
                anchors.fill: parent
                anchors.margins: 16
                orientation: Qt.Horizontal

                handle: Item {
                    implicitWidth: 12
                    Rectangle {
                        anchors.centerIn: parent
                        width: 2
                        height: 36
                        radius: 1
                        color: Theme.alpha(Theme.neonPink, parent.SplitHandle.pressed || parent.SplitHandle.hovered ? 0.7 : 0.25)
                    }
                }

                GlassBackground {
                    implicitWidth: 400
                    implicitHeight: 400
                    SplitView.preferredWidth: 400
                    SplitView.minimumWidth: 260
                    cornerRadius: 10
                    borderColor: Theme.neonPink

                    ColumnLayout {
                        anchors.fill: parent
                        anchors.margins: 12
                        spacing: 10

                        Text {
                            text: "AVAILABLE SNAPSHOTS"
                            color: Theme.neonPink
                            font.family: Theme.monospacedFamily
                            font.pixelSize: 9
                            font.weight: Font.Bold
                            font.letterSpacing: 2
                        }

                        ListView {
                            id: snapshotList
                            objectName: "snapshotList"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            clip: true
                            spacing: 4
                            model: service.snapshots
                            boundsBehavior: Flickable.StopAtBounds
                            ScrollBar.vertical: ScrollBar {}

                            delegate: Rectangle {
                                id: row
                                required property int index
                                required property string snapshotId
                                required property string name
                                required property string formattedDate
                                required property string volumeName
                                required property string kindName
                                readonly property bool isChosen: snapshotId === screen.selectedId

                                objectName: "snapshotRow_" + index
                                width: ListView.view.width
                                implicitHeight: 54
                                radius: 8
                                color: isChosen ? Theme.alpha(Theme.neonPink, 0.14)
                                                : rowArea.containsMouse ? Theme.backgroundCard : "transparent"
                                border.width: isChosen ? 1 : 0
                                border.color: Theme.alpha(Theme.neonPink, 0.45)

                                RowLayout {
                                    anchors.fill: parent
                                    anchors.leftMargin: 10
                                    anchors.rightMargin: 10
                                    spacing: 10

                                    Icon {
                                        symbol: "camera.circle"
                                        size: 18
                                        color: row.isChosen ? Theme.neonPink : Theme.textSecondary
                                    }
                                    ColumnLayout {
                                        Layout.fillWidth: true
                                        spacing: 3
                                        Text {
                                            Layout.fillWidth: true
                                            text: row.name
                                            color: row.isChosen ? Theme.neonPink : Theme.textPrimary
                                            font: Theme.fieldFont
                                            elide: Text.ElideMiddle
                                        }
                                        Text {
                                            Layout.fillWidth: true
                                            text: row.formattedDate + "  ·  " + row.volumeName
                                            color: Theme.textMuted
                                            font: Theme.mono(10, Font.Normal)
                                            elide: Text.ElideRight
                                        }
                                    }
                                    Rectangle {
                                        implicitWidth: kindLabel.implicitWidth + 12
                                        implicitHeight: 18
                                        radius: 9
                                        color: Theme.alpha(Theme.neonPurple, 0.15)
                                        Text {
                                            id: kindLabel
                                            anchors.centerIn: parent
                                            text: row.kindName
                                            color: Theme.neonPurple
                                            font: Theme.mono(9, Font.Bold)
                                        }
                                    }
                                }

                                MouseArea {
                                    id: rowArea
                                    anchors.fill: parent
                                    hoverEnabled: true
                                    cursorShape: Qt.PointingHandCursor
                                    onClicked: screen.select(row.index)
                                    onDoubleClicked: {
                                        screen.select(row.index)
                                        screen.browseSelected()
                                    }
                                }
                            }
                        }
                    }
                }

                SnapshotDetailPane {
                    SplitView.fillWidth: true
                    SplitView.minimumWidth: 320
                    screen: screen
                }
            }

            SnapshotBrowserPane {
                visible: root.contentState === "browsing"
                anchors.fill: parent
                anchors.margins: 16
                screen: screen
            }
        }

        // Footer.
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 38
            visible: !screen.isBrowsing
            color: Theme.alpha(Theme.backgroundPanel, 0.8)

            Rectangle {
                anchors.top: parent.top
                width: parent.width
                height: 1
                color: Theme.alpha(Theme.neonPink, 0.15)
            }

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 24
                anchors.rightMargin: 16
                spacing: 12

                Text {
                    objectName: "footerCount"
                    text: service.snapshots.count + " snapshots found"
                    color: Theme.textMuted
                    font: Theme.captionFont
                }
                Item { Layout.fillWidth: true }
                // Some tools were refused while others listed: say so here,
                // since the list hides the empty state's error line.
                Row {
                    objectName: "partialListing"
                    visible: service.hasError && root.contentState === "list"
                    spacing: 10
                    Icon {
                        anchors.verticalCenter: parent.verticalCenter
                        symbol: "exclamationmark.triangle.fill"
                        size: 11
                        color: Theme.neonOrange
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: service.errorMessage
                        color: Theme.neonOrange
                        font: Theme.captionFont
                    }
                    GlowButton {
                        objectName: "footerAdministratorButton"
                        anchors.verticalCenter: parent.verticalCenter
                        visible: service.canListAsAdministrator
                        implicitHeight: 24
                        text: "List as Administrator"
                        symbol: "lock.shield.fill"
                        accent: Theme.neonOrange
                        onClicked: service.loadSnapshotsAsAdministrator()
                    }
                }
            }
        }
    }
}
