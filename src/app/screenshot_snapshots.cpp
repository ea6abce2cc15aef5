// The Snapshots screen: a listing of every kind with the detail pane,
// a snapshot that can't be browsed, browsing with the comparison on and the
// restore question, the footer of a partly refused listing, and the empty
// state with and without an error.

#include "screenshot.h"

#include <QFile>
#include <QDir>
#include <QQuickItem>
#include <QTemporaryDir>

#include "navigationmodel.h"
#include "snapshots/snapshotscreen.h"
#include "snapshots/snapshotservice.h"
#include "system/appsettings.h"

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QDateTime at(int day, int hour, int minute)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
}

void plant(const QString &path, qint64 size, const QDateTime &modified, const QByteArray &content = {})
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    if (size > content.size())
        file.resize(size);
    file.setFileTime(modified, QFileDevice::FileModificationTime);
}

// A home folder as a snapshot kept it, and as it is now: some files gone,
// one changed, the rest as they were.
void plantFolders(const QString &kept, const QString &live)
{
    QDir(kept).mkpath(u"Documents"_s);
    QDir(kept).mkpath(u"Photos/2026"_s);
    QDir(kept).mkpath(u"Projects"_s);
    QDir(live).mkpath(u"Documents"_s);
    QDir(live).mkpath(u"Projects"_s);
    const QDateTime old = at(1, 9, 12);
    const struct {
        const char *name;
        qint64 size;
        QDateTime modified;
        bool live;
        bool changed;
    } files[] = {
        {".bashrc", 3771, old, true, false},
        {"budget-2026.xlsx", 48210, at(3, 16, 40), true, false},
        {"holiday-lisbon.jpg", 2481930, at(4, 11, 5), false, false},
        {"notes.md", 1820, at(5, 8, 30), true, true},
        {"report-final.pdf", 912400, at(5, 17, 55), false, false},
        {"thesis-draft.docx", 301224, at(2, 22, 14), true, false},
        {"voice-memo.m4a", 1503000, at(5, 10, 2), false, false},
    };
    for (const auto &file : files) {
        const QString name = QString::fromLatin1(file.name);
        plant(kept + u'/' + name, file.size, file.modified, "kept");
        if (file.live)
            plant(live + u'/' + name, file.size, file.changed ? at(6, 9, 0) : file.modified,
                  file.changed ? "edit" : "kept");
    }
    // Folders dated as a home's would be, not at the moment of the shot.
    const struct timespec dated = {time_t(at(5, 18, 20).toSecsSinceEpoch()), 0};
    const struct timespec times[2] = {dated, dated};
    for (const char *folder : {"Documents", "Photos", "Projects"})
        ::utimensat(AT_FDCWD, QFile::encodeName(kept + u'/' + QLatin1String(folder)).constData(), times, 0);
}

SnapshotEntry entry(const QString &name, SnapshotKind kind, std::optional<QDateTime> date, const QString &volume,
                    const QString &device, const QString &folder = {}, const QString &live = {},
                    const QString &command = {}, const QString &uuid = {})
{
    SnapshotEntry made;
    made.info.name = name;
    made.info.date = date;
    made.info.volumeName = volume;
    made.info.volumeDevice = device;
    made.info.snapshotUUID = uuid;
    made.kind = kind;
    made.folder = folder;
    made.liveFolder = live;
    made.manualCommand = command;
    return made;
}

} // namespace

QUORVEL_SHOTS(snapshots)
{
    QTemporaryDir kept;
    QTemporaryDir live;
    plantFolders(kept.path(), live.path());

    // Another set may have turned the question off.
    AppSettings::instance()->setConfirmBeforeRecover(true);
    shots.navigation->setSelectedNav(NavigationItem::snapshotRecovery);
    shots.settle(600);
    // The loader's screen is an item of the loader, not a QObject child.
    auto *loader = shots.window->findChild<QQuickItem *>(u"screenLoader"_s);
    auto *view = loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    auto *service = view ? view->findChild<SnapshotService *>() : nullptr;
    auto *screen = view ? view->findChild<SnapshotScreen *>() : nullptr;
    if (!service || !screen) {
        std::fprintf(stderr, "the Snapshots screen has no service (%p %p)\n", (void *)loader, (void *)view);
        shots.ok = false;
        return;
    }
    // The real listing of this machine finishes first; the made-up one
    // replaces it.
    for (int waited = 0; service->isLoading() && waited < 100; ++waited)
        shots.settle(100);

    SnapshotListing listing;
    listing.entries = {
        entry(u"root #412 – before apt upgrade"_s, SnapshotKind::snapper, at(6, 14, 2), u"Root"_s, u"/dev/nvme0n1p2"_s,
              kept.path(), live.path(), {}, u"6445de98-52a2-5b47-81d0-964478be34bc"_s),
        entry(u"root #411 – timeline"_s, SnapshotKind::snapper, at(6, 9, 0), u"Root"_s, u"/dev/nvme0n1p2"_s, kept.path(),
              live.path(), {}, u"1e749603-7740-4641-8c8c-b815143c9ebc"_s),
        entry(u"@home/.snapshots/home-2026-12-04"_s, SnapshotKind::btrfs, at(4, 23, 30), u"home"_s, u"/dev/nvme0n1p3"_s,
              kept.path(), live.path(), {}, u"a54b417f-0ef7-d747-b364-40c0dc520cab"_s),
        entry(u"data_before_resize"_s, SnapshotKind::lvm, at(2, 18, 45), u"vg0/data"_s, u"/dev/vg0/data"_s, {}, {},
              u"mount -o ro /dev/vg0/data_before_resize /mnt"_s, u"XKvUSO-o8jB-K1lX-AaHL-c0Qa-lpba-70vcWQ"_s),
        entry(u"tank/photos@autosnap_2026-11-30_daily"_s, SnapshotKind::zfs, QDateTime(QDate(2026, 11, 30), QTime(0, 0)),
              u"tank/photos"_s, u"tank/photos"_s, kept.path(), live.path(), {}, u"4829166254213471537"_s),
        entry(u"@/.snapshots/1/snapshot"_s, SnapshotKind::btrfs, std::nullopt, u"Root"_s, u"/dev/nvme0n1p2"_s, {}, {},
              u"mount -o ro,subvol=@/.snapshots/1/snapshot /dev/nvme0n1p2 /mnt"_s),
    };
    service->applyListing(listing, false);
    screen->select(0);
    shots.settle(500);
    shots.save(u"snapshots-1-list-and-detail.png"_s);

    screen->select(3);
    shots.settle(300);
    shots.save(u"snapshots-2-not-browsable.png"_s);

    screen->select(0);
    screen->browseSelected();
    shots.settle(400);
    SnapshotBrowser *browser = screen->browser();
    browser->setComparing(true);
    shots.settle(400);
    for (int row = 0; row < browser->files()->rowCount(); ++row) {
        const QString name = browser->files()->index(row, 0).data(int(SnapshotFileModel::Role::name)).toString();
        if (name == u"holiday-lisbon.jpg"_s || name == u"report-final.pdf"_s || name == u"Photos"_s)
            browser->toggleSelected(row);
    }
    shots.settle(300);
    shots.save(u"snapshots-3-browsing.png"_s);

    browser->chooseDestination(QUrl::fromLocalFile(live.path()));
    shots.settle(500);
    shots.save(u"snapshots-4-restore-question.png"_s);
    browser->confirmRestore();
    for (int waited = 0; browser->isRestoring() && waited < 50; ++waited)
        shots.settle(100);
    shots.settle(300);
    shots.save(u"snapshots-5-restored.png"_s);
    screen->stopBrowsing();

    listing.failed = true;
    service->applyListing(listing, true);
    shots.settle(300);
    shots.save(u"snapshots-6-partly-refused.png"_s);

    service->applyListing({}, false);
    shots.settle(300);
    shots.save(u"snapshots-7-empty.png"_s);

    service->applyListing({{}, true}, true);
    shots.settle(300);
    shots.save(u"snapshots-8-empty-with-error.png"_s);
}
