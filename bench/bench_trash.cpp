// Listing and restoring a Trash against the plain work underneath.
//
//   bench_trash [ITEMS] [COPY_MIB]
//
// Listing: a freedesktop.org Trash of ITEMS files (20000 unless told) with
// their info files, listed by scanUserTrash, against a loop that only opens
// the folder, lstat()s every item and reads every info file.
// Restoring across file systems: a COPY_MIB file (512 unless told) restored
// from a Trash on the temporary folder's file system onto /dev/shm, against
// `cp --preserve=mode,timestamps` of the same file. Both copies start from a
// warm page cache. Prints the times (the listing the best of three) and the
// ratio of each pair.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/platform.h"
#include "trash/trashlisting.h"
#include "trash/trashrestore.h"
#include "trash/trashscan.h"

namespace {

constexpr qint64 MiB = 1024 * 1024;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray infoText(const QString &original)
{
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(original, "/") + "\nDeletionDate="
        + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
}

// What any listing must do at least: every entry stat'ed, every info file read.
qint64 plainListing(const QString &trash)
{
    qint64 bytes = 0;
    DIR *folder = ::opendir(QFile::encodeName(trash + QStringLiteral("/files")).constData());
    if (!folder)
        return 0;
    while (const dirent *entry = ::readdir(folder)) {
        struct stat status {};
        const QByteArray name(entry->d_name);
        ::fstatat(::dirfd(folder), name.constData(), &status, AT_SYMLINK_NOFOLLOW);
        QFile info(trash + QStringLiteral("/info/") + QFile::decodeName(name) + QStringLiteral(".trashinfo"));
        if (info.open(QIODevice::ReadOnly))
            bytes += info.readAll().size();
    }
    ::closedir(folder);
    return bytes;
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int items = argc > 1 ? std::atoi(argv[1]) : 20000;
    const qint64 copyMiB = argc > 2 ? std::atoll(argv[2]) : 512;

    QTemporaryDir scratch;
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("share"))));
    const std::unique_ptr<Platform> platform = makePlatform(PlatformKind::gnuLinux);
    const TrashLocation trash = platform->homeTrash();
    QDir().mkpath(trash.filesFolder);
    QDir().mkpath(trash.infoFolder);
    for (int i = 0; i < items; ++i) {
        const QString name = QStringLiteral("document %1.txt").arg(i);
        writeFile(trash.filesFolder + u'/' + name, QByteArray(100, 'x'));
        writeFile(trash.infoFolder + u'/' + name + QStringLiteral(".trashinfo"),
                  infoText(QStringLiteral("/home/ann/docs/") + name));
    }

    // Best of three: the machine may be busy with other work.
    QElapsedTimer timer;
    double plain = 1e9;
    double listed = 1e9;
    TrashScanOutcome outcome;
    for (int round = 0; round < 3; ++round) {
        timer.start();
        plainListing(trash.root);
        plain = std::min(plain, seconds(timer));
        timer.restart();
        outcome = scanUserTrash(*platform, {});
        listed = std::min(listed, seconds(timer));
    }
    if (outcome.items.size() != items) {
        std::fprintf(stderr, "listed %lld of %d items\n", static_cast<long long>(outcome.items.size()), items);
        return 1;
    }
    std::printf("listing %d items: plain %.3f s, scanUserTrash %.3f s, ratio %.2f\n", items, plain, listed, listed / plain);

    QDir(trash.root).removeRecursively();
    QDir().mkpath(trash.filesFolder);
    QDir().mkpath(trash.infoFolder);
    QTemporaryDir target(QStringLiteral("/dev/shm/bench_trash-XXXXXX"));
    struct stat here {}, there {};
    if (!target.isValid() || ::stat(QFile::encodeName(trash.root).constData(), &here) != 0
        || ::stat(QFile::encodeName(target.path()).constData(), &there) != 0 || here.st_dev == there.st_dev) {
        std::fprintf(stderr, "no second file system at /dev/shm: copy not measured\n");
        return 0;
    }
    const QString source = trash.filesFolder + QStringLiteral("/video.mkv");
    {
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray chunk(int(MiB), 'v');
        for (qint64 i = 0; i < copyMiB; ++i)
            file.write(chunk);
    }
    writeFile(trash.infoFolder + QStringLiteral("/video.mkv.trashinfo"), infoText(QStringLiteral("/home/ann/video.mkv")));

    {
        QFile warm(source);
        if (warm.open(QIODevice::ReadOnly)) {
            while (!warm.read(MiB).isEmpty()) {
            }
        }
    }
    timer.restart();
    QProcess::execute(QStringLiteral("cp"), {QStringLiteral("--preserve=mode,timestamps"), source, target.filePath(QStringLiteral("cp.mkv"))});
    const double copied = seconds(timer);

    const TrashItem item = freedesktopTrashItem({trash, scratch.path(), true}, QStringLiteral("video.mkv"));
    timer.restart();
    const RestoreOutcome restored = restoreTrashItem(item, target.path(), *platform);
    const double restoring = seconds(timer);
    if (!restored.restored) {
        std::fprintf(stderr, "restore failed: %s\n", qPrintable(restored.error));
        return 1;
    }
    std::printf("restoring %lld MiB across file systems: cp %.3f s (%.0f MiB/s), restore %.3f s (%.0f MiB/s), ratio %.2f\n",
                static_cast<long long>(copyMiB), copied, double(copyMiB) / copied, restoring, double(copyMiB) / restoring,
                restoring / copied);
    return 0;
}
