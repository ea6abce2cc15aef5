// The Settings screen: as a first start shows it, and with every preference
// changed.

#include "screenshot.h"

#include "navigationmodel.h"
#include "system/appsettings.h"

using namespace Qt::Literals::StringLiterals;

QUORVEL_SHOTS(settings)
{
    shots.navigation->setSelectedNav(NavigationItem::settings);
    shots.settle(800);
    shots.save(u"settings-1-first-start.png"_s);

    // The tool runs on a store of its own: nothing here reaches the user's.
    AppSettings *settings = AppSettings::instance();
    settings->setDefaultRecoveryPath(u"/home/u/Rescue"_s);
    settings->setShowHiddenFiles(true);
    settings->setConfirmBeforeRecover(false);
    settings->setMaxCarvingFileSize(1000);
    shots.settle(500);
    shots.save(u"settings-2-changed.png"_s);
}
