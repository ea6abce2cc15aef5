// The Trash Recovery screen: a Trash with items of every kind and a
// selection, a category and a search, scanning, restoring, the question
// before a restore, its result, and an empty Trash. The items live in a
// temporary home folder, so the shots never show the Trash of whoever takes
// them.

#include "screenshot.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <unistd.h>

#include "navigationmodel.h"
#include "trash/trashitemmodel.h"
#include "trash/trashrecoveryservice.h"
#include "trash/trashscreen.h"

using namespace Qt::Literals::StringLiterals;

namespace {

struct DemoItem {
    const char *name;
    const char *originalFolder; // below the home folder
    qint64 size;                // a folder gets three files of this size
    int hoursAgo;
    bool isFolder = false;
};

// Sizes are set with truncate: the files hold no data and cost no disk.
void makeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.resize(size);
}

void writeTrash(const QString &home)
{
    const QString trash = home + u"/.local/share/Trash"_s;
    QDir().mkpath(trash + u"/files"_s);
    QDir().mkpath(trash + u"/info"_s);
    const DemoItem items[] = {
        {"Vacation-Beach-2024.jpg", "Pictures/Summer", 4'812'331, 2},
        {"Quarterly-Report Q3.pdf", "Documents/Work", 1'204'551, 5},
        {"Interview-Final-Cut.mov", "Videos", 1'873'004'112, 9},
        {"podcast-episode-12.mp3", "Music/Podcasts", 58'311'870, 26},
        {"website-backup-2024.zip", "Backups", 312'554'019, 30},
        {"main.cpp", "src/quorvel", 18'442, 49},
        {"Wedding Photos", "Pictures", 6'203'118, 53, true},
        {"budget-2025.xlsx", "Documents", 88'210, 75},
        {"IMG_2231.heic", "Pictures/Phone", 2'931'004, 98},
        {"notes-meeting.md", "Documents/Work", 5'112, 140},
        {"screen-recording.webm", "Videos", 94'117'320, 180},
        {"Makefile", "src/quorvel", 2'048, 260},
    };
    const QDateTime now = QDateTime::currentDateTime();
    for (const DemoItem &item : items) {
        const QString name = QString::fromUtf8(item.name);
        const QString path = trash + u"/files/"_s + name;
        if (item.isFolder) {
            QDir().mkpath(path);
            for (const char *inner : {"ceremony-001.jpg", "ceremony-002.jpg", "party-001.jpg"})
                makeSparse(path + u'/' + QString::fromUtf8(inner), item.size);
        } else {
            makeSparse(path, item.size);
        }
        const QString original = u"/home/ann/"_s + QString::fromUtf8(item.originalFolder) + u'/' + name;
        QFile info(trash + u"/info/"_s + name + u".trashinfo"_s);
        if (info.open(QIODevice::WriteOnly)) {
            info.write("[Trash Info]\nPath=" + QUrl::toPercentEncoding(original, "/") + "\nDeletionDate="
                       + now.addSecs(-3600LL * item.hoursAgo).toString(Qt::ISODate).toUtf8() + '\n');
        }
    }
}

TrashScreen *openTrashScreen(ShotContext &shots)
{
    // A new screen reads the Trash and its folder's name afresh.
    shots.navigation->setSelectedNav(NavigationItem::settings);
    shots.settle(200);
    shots.navigation->setSelectedNav(NavigationItem::trashRecovery);
    shots.settle(900);
    return shots.window->findChild<TrashScreen *>(u"trashScreen"_s);
}

void selectNames(TrashScreen *screen, const QStringList &names)
{
    for (const TrashItem &item : screen->service()->items()->items()) {
        if (names.contains(item.fileName))
            screen->toggle(item.id.toString(QUuid::WithoutBraces));
    }
}

} // namespace

QUORVEL_SHOTS(trash)
{
    QTemporaryDir scratch;
    const QString home = scratch.filePath(u"home"_s);
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_DATA_HOME");
    writeTrash(home);

    TrashScreen *screen = openTrashScreen(shots);
    if (!screen || screen->fileCount() == 0) {
        std::fprintf(stderr, "the Trash screen did not list the demo Trash\n");
        shots.ok = false;
    } else {
        selectNames(screen, {u"Vacation-Beach-2024.jpg"_s, u"Interview-Final-Cut.mov"_s, u"Wedding Photos"_s});
        shots.settle(400);
        shots.save(u"trash-1-list.png"_s);

        screen->setSelectedCategory(int(FileCategory::image));
        screen->setSearchText(u"2024"_s);
        shots.settle(400);
        shots.save(u"trash-2-filtered.png"_s);
        screen->setSearchText(QString());
        screen->setSelectedCategory(int(FileCategory::all));
        screen->setSortOrder(TrashSort::Order::sizeDesc);
        shots.settle(300);
        shots.save(u"trash-3-largest-first.png"_s);

        // The scan's first frame: taken before its result can arrive.
        screen->scan();
        shots.save(u"trash-4-scanning.png"_s);
        shots.settle(600);

        const QString folder = scratch.filePath(u"Recovered"_s);
        QDir().mkpath(folder);
        screen->setConfirmBeforeRecover(true);
        screen->clearSelection();
        selectNames(screen, {u"Quarterly-Report Q3.pdf"_s, u"main.cpp"_s});
        screen->recoverTo(QUrl::fromLocalFile(folder));
        shots.settle(500);
        shots.save(u"trash-5-confirm.png"_s);
        screen->confirm();
        shots.save(u"trash-6-recovering.png"_s);
        shots.settle(900);
        shots.save(u"trash-7-result.png"_s);
        screen->dismissAlert();
        screen->setConfirmBeforeRecover(false);

        QDir(home + u"/.local/share/Trash"_s).removeRecursively();
        screen->scan();
        shots.settle(600);
        shots.save(u"trash-8-empty.png"_s);
    }

    qputenv("HOME", oldHome);
    if (oldDataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldDataHome);
}
