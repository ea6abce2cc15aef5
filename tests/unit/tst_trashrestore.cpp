#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helpers/trashtree.h"
#include "trash/trashlisting.h"
#include "trash/trashrestore.h"

using namespace Qt::Literals::StringLiterals;
using namespace trashtest;

namespace {

TrashItem scanned(const TrashTree &tree, const QString &name)
{
    return freedesktopTrashItem({tree.location(), QFileInfo(tree.root).absolutePath(), true}, name);
}

bool exists(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

int modeOf(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

QString infoFile(const TrashTree &tree, const QString &name)
{
    return tree.location().infoFolder + u'/' + name + u".trashinfo"_s;
}

// A small file system of its own, so that a restore onto it crosses devices.
class TmpfsMount
{
public:
    TmpfsMount(const QString &path, const char *options) : m_path(QFile::encodeName(path))
    {
        QDir().mkpath(path);
        m_mounted = ::geteuid() == 0 && ::mount("tmpfs", m_path.constData(), "tmpfs", 0, options) == 0;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount(m_path.constData());
    }
    bool isMounted() const { return m_mounted; }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

// Makes moves out of a folder fail for lack of rights: immutable for root,
// read-only for a user.
class RefusedFolder
{
public:
    explicit RefusedFolder(const QString &path) : m_path(QFile::encodeName(path))
    {
        if (::geteuid() != 0) {
            m_refused = ::chmod(m_path.constData(), 0555) == 0;
            return;
        }
        m_fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        m_refused = m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0
            && (flags |= FS_IMMUTABLE_FL, ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0);
    }
    ~RefusedFolder()
    {
        if (m_fd >= 0) {
            int flags = 0;
            if (::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
            }
            ::close(m_fd);
        }
        ::chmod(m_path.constData(), 0755);
    }
    bool isRefused() const { return m_refused; }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_refused = false;
};

} // namespace

class TestTrashRestore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Restored next to what is there already, nothing there is replaced: not
    // a file, not an empty folder (which a plain rename would replace), not a
    // dangling link.
    void collisionFreeNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isFolder");
        QTest::addColumn<QStringList>("existing"); // "NAME/" a folder, "NAME@" a dangling link
        QTest::addColumn<QString>("expected");
        QTest::addRow("free") << u"free.txt"_s << false << QStringList() << u"free.txt"_s;
        QTest::addRow("two taken") << u"a.txt"_s << false << QStringList{u"a.txt"_s, u"a (1).txt"_s} << u"a (2).txt"_s;
        QTest::addRow("last extension only") << u"archive.tar.gz"_s << false << QStringList{u"archive.tar.gz"_s}
                                             << u"archive.tar (1).gz"_s;
        QTest::addRow("leading dot") << u".profile"_s << false << QStringList{u".profile"_s} << u".profile (1)"_s;
        QTest::addRow("no extension") << u"notes"_s << false << QStringList{u"notes"_s} << u"notes (1)"_s;
        QTest::addRow("an empty folder in the way") << u"Photos"_s << true << QStringList{u"Photos/"_s} << u"Photos (1)"_s;
        QTest::addRow("a dangling link in the way") << u"a.txt"_s << false << QStringList{u"a.txt@"_s} << u"a (1).txt"_s;
    }
    void collisionFreeNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, isFolder);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const TrashTree tree(dir.filePath(u"Trash"_s));
        const QByteArray info = TrashTree::info(u"/home/ann/"_s + name, QDateTime::currentDateTime());
        if (isFolder)
            tree.addFolder(name, {{u"inner.txt"_s, "inside"}}, info);
        else
            tree.addFile(name, "trashed", info);
        writeFile(tree.root + u"/directorysizes"_s,
                  "4096 1700000000 " + QUrl::toPercentEncoding(name) + "\n8192 1700000000 Keep\n");
        const QString destination = dir.filePath(u"out"_s);
        QDir().mkpath(destination);
        for (const QString &entry : existing) {
            if (entry.endsWith(u'/'))
                QDir().mkpath(destination + u'/' + entry);
            else if (entry.endsWith(u'@'))
                QFile::link(dir.filePath(u"nowhere"_s), destination + u'/' + entry.chopped(1));
            else
                writeFile(destination + u'/' + entry, "existing");
        }

        FakePlatform platform(PlatformKind::gnuLinux);
        const RestoreOutcome outcome = restoreTrashItem(scanned(tree, name), destination, platform);
        QVERIFY2(outcome.restored, qPrintable(outcome.error));
        QVERIFY(!outcome.leftInTrash);
        QCOMPARE(QFileInfo(outcome.restoredPath).fileName(), expected);
        QCOMPARE(readFile(outcome.restoredPath + (isFolder ? u"/inner.txt"_s : QString())),
                 QByteArray(isFolder ? "inside" : "trashed"));
        for (const QString &entry : existing) {
            if (entry.endsWith(u'/'))
                QVERIFY(QDir(destination + u'/' + entry).isEmpty());
            else if (entry.endsWith(u'@'))
                QVERIFY(QFileInfo(destination + u'/' + entry.chopped(1)).isSymLink());
            else
                QCOMPARE(readFile(destination + u'/' + entry), QByteArray("existing"));
        }
        QVERIFY(!exists(tree.location().filesFolder + u'/' + name));
        QVERIFY(!exists(infoFile(tree, name)));
        const QByteArray sizes = readFile(tree.root + u"/directorysizes"_s);
        QVERIFY(sizes.contains("Keep"));
        QCOMPARE(sizes.contains(QByteArray(QUrl::toPercentEncoding(name) + "\n")), !isFolder);
    }

    void restoresToOriginalLocation()
    {
        QTemporaryDir dir;
        const TrashTree tree(dir.filePath(u"Trash"_s));
        const QString original = dir.filePath(u"home/deep/er/file.txt"_s);
        const QDateTime when = QDateTime::currentDateTime();
        tree.addFile(u"file.txt"_s, "first", TrashTree::info(original, when));
        tree.addFile(u"file.2.txt"_s, "second", TrashTree::info(original, when));
        tree.addFile(u"unknown.txt"_s, "?", QByteArray());
        FakePlatform platform(PlatformKind::gnuLinux);

        const RestoreOutcome first = restoreTrashItemToOriginalLocation(scanned(tree, u"file.txt"_s), platform);
        QVERIFY2(first.restored, qPrintable(first.error));
        QCOMPARE(first.restoredPath, original);
        QCOMPARE(readFile(original), QByteArray("first"));

        const RestoreOutcome second = restoreTrashItemToOriginalLocation(scanned(tree, u"file.2.txt"_s), platform);
        QVERIFY2(second.restored, qPrintable(second.error));
        QCOMPARE(second.restoredPath, dir.filePath(u"home/deep/er/file (1).txt"_s));
        QCOMPARE(readFile(original), QByteArray("first"));

        const RestoreOutcome unknown = restoreTrashItemToOriginalLocation(scanned(tree, u"unknown.txt"_s), platform);
        QVERIFY(!unknown.restored);
        QVERIFY(exists(tree.location().filesFolder + u"/unknown.txt"_s));
    }

    // Onto another file system, the way mv does it: copied as the user,
    // checked, then removed from the Trash.
    void crossDeviceRestore()
    {
        QTemporaryDir dir;
        const QString stick = dir.filePath(u"stick"_s);
        TmpfsMount mount(stick, "size=16m");
        if (!mount.isMounted())
            QSKIP("mounting a tmpfs needs root");
        const TrashTree tree(dir.filePath(u"Trash"_s));
        const QDateTime when = QDateTime::currentDateTime();
        tree.addFile(u"photo.jpg"_s, QByteArray(300000, 'p'), TrashTree::info(u"/home/ann/photo.jpg"_s, when));
        const QString project = tree.addFolder(u"Project"_s, {{u"src/main.c"_s, "int main;"}, {u"README"_s, "read me"}},
                                               TrashTree::info(u"/home/ann/Project"_s, when));
        QVERIFY(QFile::link(u"src/main.c"_s, project + u"/link"_s));
        QVERIFY(::chmod(QFile::encodeName(project + u"/README"_s).constData(), 0640) == 0);
        QFile readme(project + u"/README"_s);
        const QDateTime old = QDateTime::fromSecsSinceEpoch(1'500'000'000);
        QVERIFY(readme.open(QIODevice::ReadWrite) && readme.setFileTime(old, QFileDevice::FileModificationTime));
        readme.close();
        // A read-only folder inside: the copy must still fill it, and the
        // Trash copy must still go.
        QDir().mkpath(project + u"/locked"_s);
        writeFile(project + u"/locked/kept.txt"_s, "kept");
        QVERIFY(::chmod(QFile::encodeName(project + u"/locked"_s).constData(), 0555) == 0);

        FakePlatform platform(PlatformKind::gnuLinux);
        for (const QString &name : {u"photo.jpg"_s, u"Project"_s}) {
            const RestoreOutcome outcome = restoreTrashItem(scanned(tree, name), stick, platform);
            QVERIFY2(outcome.restored, qPrintable(outcome.error));
            QVERIFY(!outcome.leftInTrash);
            QVERIFY(!exists(tree.location().filesFolder + u'/' + name));
            QVERIFY(!exists(infoFile(tree, name)));
        }
        QCOMPARE(readFile(stick + u"/photo.jpg"_s), QByteArray(300000, 'p'));
        QCOMPARE(readFile(stick + u"/Project/src/main.c"_s), QByteArray("int main;"));
        QCOMPARE(readFile(stick + u"/Project/locked/kept.txt"_s), QByteArray("kept"));
        const QFileInfo copied(stick + u"/Project/README"_s);
        QCOMPARE(copied.lastModified(), old);
        QCOMPARE(modeOf(copied.filePath()), 0640);
        QCOMPARE(QFileInfo(stick + u"/Project/link"_s).symLinkTarget(), stick + u"/Project/src/main.c"_s);
        QCOMPARE(modeOf(stick + u"/Project/locked"_s), 0555);
    }

    // A copy that fails half-way leaves nothing behind and the item where it
    // was, info file included.
    void failingCopyKeepsTheItem_data()
    {
        QTest::addColumn<bool>("isFolder");
        QTest::addRow("file") << false;
        QTest::addRow("folder") << true;
    }
    void failingCopyKeepsTheItem()
    {
        QFETCH(bool, isFolder);
        QTemporaryDir dir;
        const QString small = dir.filePath(u"small"_s);
        TmpfsMount mount(small, "size=64k");
        if (!mount.isMounted())
            QSKIP("mounting a tmpfs needs root");
        const TrashTree tree(dir.filePath(u"Trash"_s));
        const QByteArray info = TrashTree::info(u"/home/ann/big"_s, QDateTime::currentDateTime());
        if (isFolder)
            tree.addFolder(u"big"_s, {{u"a-small.txt"_s, QByteArray(10000, 's')}, {u"b-large.bin"_s, QByteArray(400000, 'l')}}, info);
        else
            tree.addFile(u"big"_s, QByteArray(400000, 'l'), info);

        FakePlatform platform(PlatformKind::gnuLinux);
        const RestoreOutcome outcome = restoreTrashItem(scanned(tree, u"big"_s), small, platform);
        QVERIFY(!outcome.restored);
        QVERIFY(QDir(small).isEmpty());
        QVERIFY(platform.admin.shellCommands.isEmpty());
        QCOMPARE(readFile(infoFile(tree, u"big"_s)), info);
        QCOMPARE(QFileInfo(tree.location().filesFolder + u"/big"_s).isDir(), isFolder);
        QCOMPARE(readFile(tree.location().filesFolder + (isFolder ? u"/big/b-large.bin"_s : u"/big"_s)),
                 QByteArray(400000, 'l'));
    }

    // A move refused for lack of rights: the administrator copies the item,
    // which stays in the Trash with its info file.
    void administratorCopyWhenRefused_data()
    {
        QTest::addColumn<bool>("dismissed");
        QTest::addRow("password given") << false;
        QTest::addRow("dialog dismissed") << true;
    }
    void administratorCopyWhenRefused()
    {
        QFETCH(bool, dismissed);
        QTemporaryDir dir;
        const TrashTree tree(dir.filePath(u"Trash"_s));
        tree.addFolder(u"Stuff"_s, {{u"x.txt"_s, "x"}}, TrashTree::info(u"/home/ann/Stuff"_s, QDateTime::currentDateTime()));
        const TrashItem item = scanned(tree, u"Stuff"_s);
        const QString destination = dir.filePath(u"out"_s);
        QDir().mkpath(destination + u"/Stuff"_s);
        RefusedFolder refused(tree.location().filesFolder);
        if (!refused.isRefused())
            QSKIP("this file system can't refuse a move here");

        FakePlatform platform(PlatformKind::gnuLinux);
        platform.admin.refuse = dismissed;
        const RestoreOutcome outcome = restoreTrashItem(item, destination, platform);
        QCOMPARE(platform.admin.shellCommands.size(), 1);
        QCOMPARE(outcome.restored, !dismissed);
        QCOMPARE(readFile(destination + u"/Stuff (1)/x.txt"_s), dismissed ? QByteArray() : QByteArray("x"));
        QCOMPARE(outcome.leftInTrash, !dismissed);
        QVERIFY(exists(tree.location().filesFolder + u"/Stuff/x.txt"_s));
        QVERIFY(exists(infoFile(tree, u"Stuff"_s)));
        QVERIFY(QDir(destination + u"/Stuff"_s).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTrashRestore)
#include "tst_trashrestore.moc"
