#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include "carving/directoryscan.h"
#include "helpers/reviewrecorder.h"
#include "helpers/testsupport.h"
#include "system/safefile.h"
#include "system/treewalk.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray jpeg = QByteArray::fromHex("FFD8FFE000104A464946000101");

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// A Unix socket node at `path`; it stays when the socket is closed.
bool makeSocket(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = encoded(path);
    std::memcpy(address.sun_path, bytes.constData(), std::min(sizeof address.sun_path - 1, size_t(bytes.size())));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Runs a tool with its output discarded; its exit code, -1 when it failed to run.
int quietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

struct Mounted {
    QStringList points;
    ~Mounted()
    {
        for (const QString &point : points)
            ::umount2(encoded(point).constData(), MNT_DETACH);
    }
    bool mount(const char *source, const QString &point, const char *type, unsigned long flags)
    {
        QDir().mkpath(point);
        if (::mount(source, encoded(point).constData(), type, flags, nullptr) != 0)
            return false;
        points.prepend(point);
        return true;
    }
};

// Every entry of a walk as "relative/path kind".
QStringList walk(const QString &root, TreeWalk::Options options)
{
    TreeWalk::Walker walker(root, options);
    if (!walker.open())
        return {u"<cannot open>"_s};
    QStringList seen;
    walker.run([&](const TreeWalk::Entry &entry) {
        static const char *kinds[] = {"file", "folder", "link", "other"};
        seen.append(walker.pathOf(entry).mid(walker.root().size() + 1) + u' ' + QLatin1StringView(kinds[int(entry.kind)]));
        return true;
    });
    return seen;
}

} // namespace

class TestTreeWalk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Only a regular file is ever handed back; nothing else blocks or gets read.
    void openRegularRefusesAllButRegularFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("error");
        QTest::addRow("regular file") << u"file.jpg"_s << true << 0;
        QTest::addRow("FIFO without a writer") << u"fifo"_s << false << ENXIO;
        QTest::addRow("socket") << u"socket"_s << false << ENXIO;
        QTest::addRow("link to a regular file") << u"link.jpg"_s << false << ELOOP;
        QTest::addRow("link loop") << u"loop"_s << false << ELOOP;
        QTest::addRow("folder") << u"folder"_s << false << ENXIO;
        QTest::addRow("missing") << u"missing"_s << false << ENOENT;
    }
    void openRegularRefusesAllButRegularFiles()
    {
        QFETCH(QString, name);
        QFETCH(bool, opens);
        QFETCH(int, error);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"file.jpg"_s), jpeg));
        QCOMPARE(::mkfifo(encoded(dir.filePath(u"fifo"_s)).constData(), 0600), 0);
        QVERIFY(makeSocket(dir.filePath(u"socket"_s)));
        QCOMPARE(::symlink("file.jpg", encoded(dir.filePath(u"link.jpg"_s)).constData()), 0);
        QCOMPARE(::symlink("loop", encoded(dir.filePath(u"loop"_s)).constData()), 0);
        QVERIFY(QDir().mkpath(dir.filePath(u"folder"_s)));

        const int folder = ::open(encoded(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat status {};
        errno = 0;
        const int fd = SafeFile::openRegular(folder, encoded(name).constData(), &status);
        const int got = errno;
        ::close(folder);
        QCOMPARE(fd >= 0, opens);
        if (fd >= 0) {
            QCOMPARE(qint64(status.st_size), qint64(jpeg.size()));
            ::close(fd);
        } else {
            QCOMPARE(got, error);
        }

        // The path form refuses the same things without opening them.
        char head[16];
        qint64 size = -1;
        QCOMPARE(SafeFile::readHead(dir.filePath(name), head, sizeof head, &size) > 0, opens);
    }

    // Pre-order, names in byte order, links listed but not followed,
    // hidden names left out only when asked.
    void walkOrderAndKinds_data()
    {
        QTest::addColumn<bool>("skipHidden");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("everything") << false
                                    << QStringList{u".hidden folder"_s, u".hidden/x.jpg file"_s, u"B.jpg file"_s,
                                                   u"a folder"_s, u"a/b folder"_s, u"a/b/c.jpg file"_s,
                                                   u"a/up link"_s, u"a.jpg file"_s, u"fifo other"_s};
        QTest::addRow("without hidden names")
            << true
            << QStringList{u"B.jpg file"_s, u"a folder"_s, u"a/b folder"_s, u"a/b/c.jpg file"_s, u"a/up link"_s,
                           u"a.jpg file"_s, u"fifo other"_s};
    }
    void walkOrderAndKinds()
    {
        QFETCH(bool, skipHidden);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (const char *name : {"a.jpg", "B.jpg", "a/b/c.jpg", ".hidden/x.jpg"})
            QVERIFY(writeFile(dir.filePath(QString::fromLatin1(name)), jpeg));
        QCOMPARE(::mkfifo(encoded(dir.filePath(u"fifo"_s)).constData(), 0600), 0);
        QCOMPARE(::symlink("..", encoded(dir.filePath(u"a/up"_s)).constData()), 0);
        QCOMPARE(walk(dir.path() + u"/"_s, {TreeWalk::Scope::realFileSystems, skipHidden}), expected);
    }

    // A tree with every kind of trap in it: only the one real JPEG is read.
    // A FIFO with a live writer would hand over JPEG bytes if it were opened.
    void directoryScanReadsOnlyRegularFiles()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"real.jpg"_s), jpeg));
        const QByteArray fifo = encoded(dir.filePath(u"fifo.jpg"_s));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int writer = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(writer >= 0);
        QCOMPARE(::write(writer, jpeg.constData(), size_t(jpeg.size())), ssize_t(jpeg.size()));
        QVERIFY(makeSocket(dir.filePath(u"socket.jpg"_s)));
        QCOMPARE(::symlink("loop-b", encoded(dir.filePath(u"loop-a"_s)).constData()), 0);
        QCOMPARE(::symlink("loop-a", encoded(dir.filePath(u"loop-b"_s)).constData()), 0);
        QCOMPARE(::symlink(".", encoded(dir.filePath(u"self"_s)).constData()), 0);
        QCOMPARE(::symlink("real.jpg", encoded(dir.filePath(u"link.jpg"_s)).constData()), 0);
        QCOMPARE(::symlink("/etc", encoded(dir.filePath(u"outside"_s)).constData()), 0);
        if (::geteuid() == 0) // a node like /dev/zero: never opened
            QCOMPARE(::mknod(encoded(dir.filePath(u"device.jpg"_s)).constData(), S_IFCHR | 0600, makedev(1, 5)), 0);

        ReviewRecorder sink;
        scanDirectoryTree(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.hits.size(), 1);
        QCOMPARE(sink.hits.first().sourcePath, dir.filePath(u"real.jpg"_s));
        char left[64];
        QCOMPARE(::read(writer, left, sizeof left), ssize_t(jpeg.size())); // nothing was taken out of the FIFO
        ::close(writer);
    }

    // Deeper than the walk keeps folders open: folders are opened again on
    // the way back up, and nothing below or beside the chain is lost.
    void aVeryDeepTreeIsWalkedWhole()
    {
        QTemporaryDir dir;
        constexpr int depth = 150;
        int fd = ::open(encoded(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level < depth; ++level) {
            QCOMPARE(::mkdirat(fd, "d", 0700), 0);
            const int file = ::openat(fd, "f.jpg", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            QVERIFY(file >= 0 && ::write(file, jpeg.constData(), size_t(jpeg.size())) == jpeg.size());
            ::close(file);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
        }
        ::close(fd);
        ReviewRecorder sink;
        scanDirectoryTree(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.hits.size(), depth);
        // Pre-order: the deepest file comes first, the root's own last.
        QCOMPARE(sink.hits.first().sourcePath, dir.filePath(QStringList(depth - 1, u"d"_s).join(u'/') + u"/f.jpg"_s));
        QCOMPARE(sink.hits.last().sourcePath, dir.filePath(u"f.jpg"_s));
    }

    // Mounts below the root: a disk mounted in a folder the user picked is
    // walked, unless the walk must stay on its volume; proc and sysfs never
    // are, and a bind mount of the tree inside itself is not walked again.
    void mountsBelowTheRoot_data()
    {
        QTest::addColumn<TreeWalk::Scope>("scope");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("a folder the user picked")
            << TreeWalk::Scope::realFileSystems << QStringList{u"inner/other.jpg"_s, u"own.jpg"_s};
        QTest::addRow("a volume's mount point") << TreeWalk::Scope::rootMount << QStringList{u"own.jpg"_s};
    }
    void mountsBelowTheRoot()
    {
        QFETCH(TreeWalk::Scope, scope);
        QFETCH(QStringList, expected);
        if (::geteuid() != 0)
            QSKIP("mounting needs root");
        QTemporaryDir dir;
        const QString tree = dir.filePath(u"tree"_s);
        QVERIFY(writeFile(tree + u"/own.jpg"_s, jpeg));
        Mounted mounts;
        // Its own file system, so that the bind mounts below are other mounts.
        if (!mounts.mount("tmpfs", dir.filePath(u"elsewhere"_s), "tmpfs", 0))
            QSKIP("tmpfs mount refused");
        QVERIFY(writeFile(dir.filePath(u"elsewhere/other.jpg"_s), jpeg));
        if (!mounts.mount(encoded(dir.filePath(u"elsewhere"_s)).constData(), tree + u"/inner"_s, nullptr, MS_BIND))
            QSKIP("bind mount refused");
        QVERIFY(mounts.mount(encoded(tree).constData(), tree + u"/again"_s, nullptr, MS_BIND));
        QVERIFY(mounts.mount("proc", tree + u"/proc"_s, "proc", 0));
        if (!mounts.mount("sysfs", tree + u"/sys"_s, "sysfs", 0))
            qInfo("sysfs mount refused; proc stands for both");

        ReviewRecorder sink;
        scanDirectoryTree(tree, defaultSignatures(), sink, scope);
        QStringList found;
        for (const CarvedFile &hit : std::as_const(sink.hits))
            found.append(hit.sourcePath.mid(tree.size() + 1));
        QCOMPARE(found, expected);

        // A root on a pseudo file system is refused as a whole.
        TreeWalk::Walker onProc(tree + u"/proc"_s, {scope, false});
        QVERIFY(!onProc.open());
    }

    // A btrfs subvolume mounted on its own below a volume's mount point (how
    // Fedora mounts /home on the disk of "/") is part of that volume; a
    // tmpfs mounted there is not.
    void subvolumesMountedBelowAreTheSameVolume()
    {
        const QString mkfs = QStandardPaths::findExecutable(u"mkfs.btrfs"_s, {u"/sbin"_s, u"/usr/sbin"_s});
        const QString btrfs = QStandardPaths::findExecutable(u"btrfs"_s, {u"/bin"_s, u"/usr/bin"_s, u"/sbin"_s});
        if (::geteuid() != 0 || mkfs.isEmpty() || btrfs.isEmpty())
            QSKIP("needs root and btrfs-progs");
        QTemporaryDir dir;
        const QString image = dir.filePath(u"btrfs.img"_s);
        const QString volume = dir.filePath(u"volume"_s);
        QVERIFY(writeFile(image, QByteArray()) && QFile::resize(image, 128 * 1024 * 1024) && QDir().mkpath(volume));
        if (quietly(mkfs, {u"-q"_s, image}) != 0)
            QSKIP("mkfs.btrfs failed");
        QProcess losetup;
        losetup.start(u"/sbin/losetup"_s, {u"-f"_s, u"--show"_s, image});
        const QString device = losetup.waitForFinished() ? QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed() : QString();
        if (device.isEmpty())
            QSKIP("no loop device");
        struct Detach {
            QString device;
            ~Detach() { quietly(u"/sbin/losetup"_s, {u"-d"_s, device}); }
        } detach{device};
        Mounted mounts; // unmounted before the device is detached
        if (!mounts.mount(encoded(device).constData(), volume, "btrfs", 0))
            QSKIP("btrfs mount refused");
        QCOMPARE(quietly(btrfs, {u"-q"_s, u"subvolume"_s, u"create"_s, volume + u"/home"_s}), 0);
        QVERIFY(writeFile(volume + u"/home/u/photo.jpg"_s, jpeg));
        QVERIFY(QDir().mkpath(volume + u"/mnt-home"_s));
        QCOMPARE(quietly(u"/bin/mount"_s, {u"-o"_s, u"subvol=home"_s, device, volume + u"/mnt-home"_s}), 0);
        mounts.points.prepend(volume + u"/mnt-home"_s);
        QVERIFY(mounts.mount("tmpfs", volume + u"/tmp"_s, "tmpfs", 0));
        QVERIFY(writeFile(volume + u"/tmp/other.jpg"_s, jpeg));

        ReviewRecorder sink;
        scanDirectoryTree(volume, defaultSignatures(), sink, TreeWalk::Scope::rootMount);
        QStringList found;
        for (const CarvedFile &hit : std::as_const(sink.hits))
            found.append(hit.sourcePath.mid(volume.size() + 1));
        QCOMPARE(found, (QStringList{u"home/u/photo.jpg"_s, u"mnt-home/u/photo.jpg"_s}));
    }
};

QTEST_GUILESS_MAIN(TestTreeWalk)
#include "tst_treewalk.moc"
