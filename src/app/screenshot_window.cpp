// The window itself: every destination, a hovered row, the About sheet, the
// question before a screen with found files is left, and the progress ring.

#include "screenshot.h"

#include <memory>

#include "navigationmodel.h"

using namespace Qt::Literals::StringLiterals;

QUORVEL_SHOTS(window)
{
    const struct {
        NavigationItem item;
        const char *file;
    } destinations[] = {
        {NavigationItem::trashRecovery, "window-1-trash-recovery.png"},
        {NavigationItem::snapshotRecovery, "window-2-snapshots.png"},
        {NavigationItem::deepScan, "window-3-deep-scan.png"},
        {NavigationItem::settings, "window-4-settings.png"},
    };
    for (const auto &destination : destinations) {
        shots.navigation->setSelectedNav(destination.item);
        shots.settle(500);
        shots.save(QString::fromLatin1(destination.file));
    }

    shots.navigation->setSelectedNav(NavigationItem::trashRecovery);
    shots.navigation->hoverEntered(static_cast<int>(NavigationItem::deepScan));
    shots.settle(500);
    shots.save(u"window-5-hovered-row.png"_s);
    shots.navigation->hoverExited(static_cast<int>(NavigationItem::deepScan));

    shots.navigation->setShowingAbout(true);
    shots.settle(600);
    shots.save(u"window-6-about.png"_s);
    shots.navigation->setShowingAbout(false);
    shots.settle(300);

    shots.navigation->setSelectedNav(NavigationItem::deepScan);
    shots.settle(300);
    shots.navigation->setLeaveWarning(u"The 1284 files found are discarded."_s);
    shots.navigation->select(static_cast<int>(NavigationItem::settings));
    shots.settle(600);
    shots.save(u"window-8-leave-asks.png"_s);
    shots.navigation->cancelLeave();
    shots.navigation->setLeaveWarning(QString());
    shots.settle(300);

    const std::unique_ptr<QObject> scene = shots.scene(R"(
import QtQuick
import Quorvel
Window {
    width: 440; height: 240; visible: true
    color: Theme.backgroundDeep
    GridPatternView { anchors.fill: parent; opacity: 0.03 }
    Row {
        anchors.centerIn: parent
        spacing: 80
        ScanProgressView { width: 140; height: 140; progress: 0.42; color: Theme.neonBlue }
        ScanProgressView { width: 140; height: 140; color: Theme.neonBlue }
    }
}
)");
    if (auto *progress = qobject_cast<QQuickWindow *>(scene.get())) {
        shots.settle(900);
        shots.save(u"window-7-progress.png"_s, progress);
    }
}
