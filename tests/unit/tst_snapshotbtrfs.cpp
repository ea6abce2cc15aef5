// A real btrfs file system in a loop image, with two read-only snapshots of a
// subvolume taken before and after a file was deleted from it: listed,
// browsed, compared with the live subvolume and the file restored byte for
// byte, elsewhere and back in place. Needs root and a kernel that mounts
// btrfs; skipped elsewhere.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <unistd.h>

#include "snapshots/snapshotscreen.h"
#include "snapshots/snapshotservice.h"
#include "system/appsettings.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

int rowNamed(const SnapshotBrowser &browser, const QString &name)
{
    for (int row = 0; row < browser.files()->rowCount(); ++row) {
        if (browser.files()->index(row, 0).data(int(SnapshotFileModel::Role::name)).toString() == name)
            return row;
    }
    return -1;
}

// Whether the file's first extent is shared with another file (a reflink
// or a snapshot), as the file system reports it.
bool sharesBlocks(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    alignas(struct fiemap) char buffer[sizeof(struct fiemap) + sizeof(struct fiemap_extent)] = {};
    auto *map = reinterpret_cast<struct fiemap *>(buffer);
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 1;
    const bool ok = ::ioctl(fd, FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents > 0;
    ::close(fd);
    return ok && (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED);
}

} // namespace

class TestSnapshotBtrfs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString mkfs = QStandardPaths::findExecutable(u"mkfs.btrfs"_s, {u"/usr/sbin"_s, u"/sbin"_s, u"/usr/bin"_s});
        m_btrfs = QStandardPaths::findExecutable(u"btrfs"_s, {u"/usr/bin"_s, u"/usr/sbin"_s, u"/bin"_s, u"/sbin"_s});
        if (::geteuid() != 0 || mkfs.isEmpty() || m_btrfs.isEmpty())
            QSKIP("needs root and btrfs-progs");
        m_mount = m_work.filePath(u"volume"_s);
        const QString image = m_work.filePath(u"btrfs.img"_s);
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(128 << 20));
        file.close();
        QVERIFY(run(mkfs, {u"-q"_s, u"-f"_s, u"-L"_s, u"SNAPTEST"_s, image}));
        QVERIFY(QDir().mkpath(m_mount));
        if (!run(u"mount"_s, {u"-o"_s, u"loop"_s, image, m_mount}))
            QSKIP("mounting the btrfs image was refused");
        m_mounted = true;

        const QString data = m_mount + u"/data"_s;
        QVERIFY(run(m_btrfs, {u"subvolume"_s, u"create"_s, data}));
        QVERIFY(QDir().mkpath(m_mount + u"/.snapshots"_s));
        m_photo.resize(300000);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_photo.data()), m_photo.size() / 4);
        QFile photo(data + u"/photo.jpg"_s);
        QVERIFY(photo.open(QIODevice::WriteOnly) && photo.write(m_photo) == m_photo.size());
        photo.close();
        QFile notes(data + u"/notes.txt"_s);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("unchanged") > 0);
        notes.close();
        QVERIFY(run(m_btrfs, {u"subvolume"_s, u"snapshot"_s, u"-r"_s, data, m_mount + u"/.snapshots/before"_s}));
        QVERIFY(QFile::remove(data + u"/photo.jpg"_s));
        QVERIFY(run(m_btrfs, {u"subvolume"_s, u"snapshot"_s, u"-r"_s, data, m_mount + u"/.snapshots/after"_s}));
    }

    void cleanupTestCase()
    {
        if (m_mounted)
            run(u"umount"_s, {m_mount});
    }

    void theDeletedFileComesBack()
    {
        const std::shared_ptr<Platform> platform = makePlatform(PlatformKind::gnuLinux);
        SnapshotService service(platform);
        // Only this image: the machine may hold other btrfs file systems.
        const QString mount = m_mount;
        service.setSourcesProvider([mount](Platform &system) {
            LinuxSnapshotSources sources = currentLinuxSnapshotSources(system);
            QString device;
            for (const MountInfoEntry &entry : std::as_const(sources.mounts)) {
                if (entry.mountPoint == mount)
                    device = entry.source;
            }
            sources.mounts.removeIf([&](const MountInfoEntry &entry) {
                return entry.fileSystem == u"btrfs"_s && entry.source != device;
            });
            sources.hasSnapperConfigs = false;
            sources.hasLvmVolumes = false;
            return sources;
        });
        service.loadSnapshots();
        QTRY_VERIFY_WITH_TIMEOUT(!service.isLoading(), 20000);
        QVERIFY2(!service.hasError(), qPrintable(service.errorMessage()));
        const SnapshotListModel *rows = service.snapshots();
        QCOMPARE(rows->rowCount(), 2);

        int before = -1;
        for (int row = 0; row < rows->rowCount(); ++row) {
            if (rows->index(row).data(int(SnapshotListModel::Role::name)).toString() == u".snapshots/before"_s)
                before = row;
        }
        QVERIFY(before >= 0);
        const SnapshotEntry &entry = rows->entries().at(before);
        QCOMPARE(entry.folder, m_mount + u"/.snapshots/before"_s);
        QCOMPARE(entry.liveFolder, m_mount + u"/data"_s);
        QCOMPARE(entry.info.volumeName, u"SNAPTEST"_s);
        QVERIFY(entry.info.date);

        QTemporaryDir store;
        AppSettings settings(std::make_unique<QSettings>(store.filePath(u"settings.ini"_s), QSettings::IniFormat));
        settings.setConfirmBeforeRecover(false);
        SnapshotScreen screen(&settings);
        screen.setService(&service);
        screen.select(before);
        screen.browseSelected();
        SnapshotBrowser *browser = screen.browser();
        QTRY_VERIFY(!browser->isListing());
        QVERIFY(rowNamed(*browser, u"photo.jpg"_s) >= 0);
        browser->setComparing(true);
        QTRY_COMPARE(browser->missingCount(), 1);
        QCOMPARE(browser->files()->index(rowNamed(*browser, u"photo.jpg"_s), 0)
                     .data(int(SnapshotFileModel::Role::comparisonText)).toString(),
                 u"Missing"_s);
        QTRY_COMPARE(browser->files()->index(rowNamed(*browser, u"notes.txt"_s), 0)
                         .data(int(SnapshotFileModel::Role::comparisonText)).toString(),
                     u"Same"_s);

        QTemporaryDir target;
        browser->toggleSelected(rowNamed(*browser, u"photo.jpg"_s));
        browser->chooseDestination(QUrl::fromLocalFile(target.path()));
        QTRY_VERIFY(!browser->isRestoring());
        QVERIFY2(!browser->restoreFailed(), qPrintable(browser->restoreMessage()));
        QFile restored(target.filePath(u"photo.jpg"_s));
        QVERIFY(restored.open(QIODevice::ReadOnly));
        QCOMPARE(restored.readAll(), m_photo);

        // Back where it was deleted from, on the same file system: the copy
        // shares the snapshot's blocks instead of taking room of its own.
        browser->chooseDestination(QUrl::fromLocalFile(entry.liveFolder));
        QTRY_VERIFY(!browser->isRestoring());
        QVERIFY2(!browser->restoreFailed(), qPrintable(browser->restoreMessage()));
        const QString back = entry.liveFolder + u"/photo.jpg"_s;
        QFile returned(back);
        QVERIFY(returned.open(QIODevice::ReadOnly));
        QCOMPARE(returned.readAll(), m_photo);
        QVERIFY(sharesBlocks(back));
        QTRY_COMPARE(browser->missingCount(), 0);
    }

private:
    QTemporaryDir m_work;
    QString m_mount;
    QString m_btrfs;
    QByteArray m_photo;
    bool m_mounted = false;
};

QTEST_GUILESS_MAIN(TestSnapshotBtrfs)
#include "tst_snapshotbtrfs.moc"
