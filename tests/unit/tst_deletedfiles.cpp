#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/carvedfilemodel.h"
#include "carving/deletedfilesscan.h"
#include "carving/filecarvingservice.h"
#include "carving/savecarved.h"
#include "helpers/fakeplatform.h"
#include "helpers/testsupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString toolsFolder = QStringLiteral(QUORVEL_TEST_DATA "/tools");

// The real backend of a kind with the tools a test chooses, and optionally
// an administrator of its own.
class ScanPlatform : public FakePlatform
{
public:
    ScanPlatform(PlatformKind kind, const ToolPaths &tools) : FakePlatform(kind) { m_real = makePlatform(kind, tools); }
    AdministratorLauncher &administrator() override { return canned ? *canned : admin; }
    AdministratorLauncher *canned = nullptr;
};

ToolPaths linuxTools(const QString &locate = toolsFolder + u"/silent"_s)
{
    ToolPaths tools;
    tools.locate = locate;
    return tools;
}

// Answers every administrator run with `output`, as root's find would.
class CannedAdministrator final : public AdministratorLauncher
{
public:
    QStringList commands;
    QString output;
    ToolResult runShell(const QString &command, StreamMode) override
    {
        commands << command;
        return {true, output, 0, std::nullopt};
    }
    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &, const QStringList &, QString *) override
    {
        return nullptr;
    }
};

// A locate that prints these paths, NUL-separated, whatever it is asked.
QString listingTool(const QTemporaryDir &dir, const QStringList &paths)
{
    QByteArray script = "#!/bin/sh\n";
    for (const QString &path : paths)
        script += "printf '%s\\0' '" + shellQuoted(path).toUtf8() + "'\n";
    const QString tool = dir.filePath(u"locate"_s);
    return writeFile(tool, script) && QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner) ? tool : QString();
}

// Everything a scan says, in one ordered list: status and progress texts,
// and errors marked as such.
class Recorder final : public ScanSink
{
public:
    std::function<bool()> cancelWhen;
    QStringList texts;
    QList<CarvedFile> hits;

    bool shouldCancel() const override { return cancelWhen && cancelWhen(); }
    void postStatus(const QString &text) override { texts << text; }
    void postError(const QString &text) override { texts << u"error: "_s + text; }
    void postCarvedFiles(QList<CarvedFile> files) override { hits << files; }
    void postProgress(quint64, std::optional<double>, std::function<QString(qsizetype)> text) override
    {
        texts << text(hits.size());
    }
};

// A hit as one line, its path relative to `root`; sorted, since a folder
// lists its entries in no fixed order.
QStringList describe(const QList<CarvedFile> &hits, const QString &root)
{
    QStringList lines;
    for (const CarvedFile &hit : hits) {
        if (hit.recoveryStatus != RecoveryStatus::deleted || hit.data || hit.offset != 0)
            lines << u"not a whole deleted file: "_s + hit.sourcePath;
        lines << QStringList{QDir(root).relativeFilePath(hit.sourcePath), hit.signatureType,
                             QString::number(hit.estimatedSize), rawValue(hit.health),
                             hit.originalPath.value_or(u"-"_s)}
                     .join(u' ');
    }
    lines.sort();
    return lines;
}

// An item of the freedesktop.org Trash at `trash`, with an info file when
// `origin` (percent-encoded, as the info file holds it) is given.
void trashItem(const QString &trash, const QString &name, const QByteArray &bytes, const QByteArray &origin = {})
{
    QVERIFY(writeFile(trash + u"/files/"_s + name, bytes));
    if (!origin.isEmpty())
        QVERIFY(writeFile(trash + u"/info/"_s + name + u".trashinfo"_s,
                          "[Trash Info]\nPath=" + origin + "\nDeletionDate=2026-12-06T14:24:17\n"));
}

VolumeInfo volumeAt(const QString &mountPoint, const QString &fileSystem = u"ext4"_s, const QString &device = {})
{
    VolumeInfo volume;
    volume.mountPoint = mountPoint;
    volume.fileSystem = fileSystem;
    volume.device = device;
    return volume;
}

} // namespace

class TestDeletedFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Only the first Path= of the [Trash Info] group counts; paths themselves
    // are covered by the Trash folders below.
    void trashInfoOriginalPath()
    {
        QCOMPARE(DeletedFiles::trashInfoOriginalPath("[Other]\nPath=/x\n[Trash Info]\r\nPath=/a%20b\r\nPath=/c\n", u"/v"_s),
                 u"/a b"_s);
        QVERIFY(!DeletedFiles::trashInfoOriginalPath("Path=/x\n[Trash Info]\nDeletionDate=x\n", u"/v"_s));
    }

    // find's listing read a line at a time: the pieces of a name with a line
    // feed must not pass for paths in the Trash.
    void lineListingKeepsOnlyPathsInsideTheFolders()
    {
        const QString output = u"/U/.Trash/a.jpg\n  /U/.Trash/sp ace.png \n/U/.Trash/x\ny.jpg\n\n"
                               "/V/.Trashes/501/b.png\n/U/.Trash/../../etc/passwd\n/U/.Trash\n/U/.Trashy/c.jpg\n"_s;
        QCOMPARE(DeletedFiles::pathsFromLineListing(output, {u"/U/.Trash"_s, u"/V/.Trashes"_s}),
                 (QStringList{u"/U/.Trash/a.jpg"_s, u"/U/.Trash/sp ace.png"_s, u"/U/.Trash/x"_s,
                              u"/V/.Trashes/501/b.png"_s}));
    }

    // The stand-ins print the captured listings whatever they are asked,
    // except that btrfs lists every subvolume (7) without -s: five btrfs
    // snapshots of the file system, three Snapper snapshots of the config on
    // /tmp/q15cap/sub, and LVM snapshots of vgtest/data (2) and
    // vgthin/thinvol.
    void linuxSnapshotCountIsTheListings_data()
    {
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("btrfs");
        QTest::addColumn<int>("expected");
        QTest::addRow("btrfs: every snapshot of the file system")
            << u"btrfs"_s << u"/tmp/q15cap/mnt"_s << u"/dev/loop0"_s << u"btrfs"_s << 5;
        QTest::addRow("btrfs lists none: Snapper's config of the mount")
            << u"btrfs"_s << u"/tmp/q15cap/sub/"_s << u"/dev/loop0"_s << u"silent"_s << 3;
        QTest::addRow("btrfs is not asked about another file system")
            << u"ext4"_s << u"/tmp/q15cap/sub"_s << u"/dev/sda1"_s << u"btrfs"_s << 3;
        QTest::addRow("LVM: the snapshots of the volume's logical volume")
            << u"ext4"_s << u"/mnt"_s << u"/dev/vgtest/data"_s << u"btrfs"_s << 2;
        QTest::addRow("LVM: a volume of that name in another group")
            << u"ext4"_s << u"/mnt"_s << u"/dev/vgthin/data"_s << u"btrfs"_s << 0;
    }
    void linuxSnapshotCountIsTheListings()
    {
        QFETCH(QString, fileSystem);
        QFETCH(QString, mountPoint);
        QFETCH(QString, device);
        QFETCH(QString, btrfs);
        ToolPaths tools = linuxTools();
        tools.btrfs = toolsFolder + u'/' + btrfs;
        tools.snapper = toolsFolder + u"/snapper"_s;
        tools.lvs = toolsFolder + u"/lvs"_s;
        ScanPlatform platform(PlatformKind::gnuLinux, tools);
        Recorder sink;
        const DeletedFiles::Counts counts = DeletedFiles::scanSnapshotsAndSpotlight(
            platform, volumeAt(mountPoint, fileSystem, device), defaultSignatures(), sink);
        QTEST(counts.snapshots, "expected");
    }

    // The user's own Trash folders on Linux, read directly: the home trash
    // and the volume's .Trash-$uid, not a .Trash without the sticky bit.
    void linuxTrashFolders()
    {
        QTemporaryDir dir;
        ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_s)));
        const QString home = dir.filePath(u"data/Trash"_s);
        const QString volume = dir.filePath(u"vol"_s);
        const QString uid = QString::number(::getuid());
        trashItem(home, u"exact100.jpg"_s, jpegBytes(94));
        trashItem(home, u"photo.2.jpg"_s, jpegBytes(95), "/home/u/Pictures/photo.jpg");
        trashItem(home, u".hidden.png"_s, pngBytes(150));
        trashItem(home, u"voice"_s, QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16) + QByteArray(100, 'w'));
        trashItem(home, u"it's \"q\".jpg"_s, jpegBytes(200));
        trashItem(home, u"album/inner.png"_s, pngBytes(300));
        QVERIFY(writeFile(home + u"/info/album.trashinfo"_s, "[Trash Info]\nPath=/home/u/my%20album\n"));
        trashItem(home, u"notes.txt"_s, QByteArray(200, 'n'));
        QVERIFY(::mkfifo(QFile::encodeName(home + u"/files/pipe.jpg"_s).constData(), 0600) == 0);
        QVERIFY(writeFile(dir.filePath(u"outside.jpg"_s), jpegBytes(200)));
        QVERIFY(QFile::link(dir.filePath(u"outside.jpg"_s), home + u"/files/link.jpg"_s));
        trashItem(volume + u"/.Trash-"_s + uid, u"v.png"_s, pngBytes(500), "data/v.png");
        trashItem(volume + u"/.Trash/"_s + uid, u"unsafe.jpg"_s, jpegBytes(500));
        ::chmod(QFile::encodeName(volume + u"/.Trash"_s).constData(), 0777);

        ScanPlatform platform(PlatformKind::gnuLinux, linuxTools());
        Recorder sink;
        const DeletedFiles::Counts counts = DeletedFiles::scan(platform, volumeAt(volume), defaultSignatures(), sink);
        QCOMPARE(describe(sink.hits, dir.path()),
                 (QStringList{u"data/Trash/files/.hidden.png PNG 166 Good -"_s,
                              u"data/Trash/files/album/inner.png PNG 316 Good /home/u/my album/inner.png"_s,
                              u"data/Trash/files/it's \"q\".jpg JPEG 206 Good -"_s,
                              u"data/Trash/files/photo.2.jpg JPEG 101 Good /home/u/Pictures/photo.jpg"_s,
                              u"data/Trash/files/voice WAV 116 Good -"_s,
                              u"vol/.Trash-UID/files/v.png PNG 516 Good "_s.replace(u"UID"_s, uid) + volume
                                  + u"/data/v.png"_s}));
        QCOMPARE(counts.trashHits, 6);
        // Eleven entries: the folder and the FIFO, link, small and unknown files count too.
        QCOMPARE(sink.texts,
                 (QStringList{u"Phase 1: Scanning Trash folders..."_s, u"Found 11 files in Trash. Checking signatures..."_s,
                              u"Trash: Found 1 deleted files..."_s, u"Trash: Found 2 deleted files..."_s,
                              u"Trash: Found 3 deleted files..."_s, u"Trash: Found 4 deleted files..."_s,
                              u"Trash: Found 5 deleted files..."_s, u"Trash: Found 6 deleted files..."_s,
                              u"Phase 2: Checking file-system snapshots..."_s,
                              u"Searching locate index for recently known files..."_s,
                              u"Found 6 deleted files (6 in Trash, 0 from the locate index)"_s}));
        QVERIFY(platform.admin.shellCommands.isEmpty());
    }

    // A Trash folder the user can't read is the one case for the password
    // dialog. Root reads every folder, so as root this runs as nobody.
    void administratorOnlyForUnreadableTrash()
    {
        if (::geteuid() == 0) {
            const QString setpriv = QStandardPaths::findExecutable(u"setpriv"_s);
            if (setpriv.isEmpty())
                QSKIP("setpriv (util-linux) is needed to run this as another user");
            QProcess child;
            child.start(setpriv, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                  QCoreApplication::applicationFilePath(), QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(child.waitForFinished(60000));
            const QString output = QString::fromUtf8(child.readAllStandardOutput() + child.readAllStandardError());
            if (!output.contains(u"Start testing"_s))
                QSKIP("nobody can't run this test binary here");
            QVERIFY2(child.exitCode() == 0
                         && output.contains(u"PASS   : TestDeletedFiles::administratorOnlyForUnreadableTrash()"_s),
                     qPrintable(output));
            return;
        }
        QTemporaryDir dir;
        ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_s)));
        const QString volumeTrash = dir.filePath(u"vol/.Trash-"_s) + QString::number(::getuid());
        trashItem(dir.filePath(u"data/Trash"_s), u"mine.jpg"_s, jpegBytes(200));
        trashItem(volumeTrash, u"hidden.jpg"_s, jpegBytes(200));

        // Root's find: two names, one holding a line feed.
        CannedAdministrator root;
        root.output = volumeTrash + u"/files/hidden.jpg"_s + QChar(0) + volumeTrash + u"/files/two\nlines.jpg"_s + QChar(0);
        ScanPlatform platform(PlatformKind::gnuLinux, linuxTools());
        platform.canned = &root;

        Recorder readable;
        DeletedFiles::scanTrashFolders(platform, dir.filePath(u"vol"_s), defaultSignatures(), readable);
        QCOMPARE(readable.hits.size(), 2);
        QVERIFY(root.commands.isEmpty());

        // Not listable, but a name root's listing gives can be opened.
        QVERIFY(::chmod(QFile::encodeName(volumeTrash + u"/files"_s).constData(), 0100) == 0);
        Recorder unreadable;
        DeletedFiles::scanTrashFolders(platform, dir.filePath(u"vol"_s), defaultSignatures(), unreadable);
        ::chmod(QFile::encodeName(volumeTrash + u"/files"_s).constData(), 0700);
        QCOMPARE(root.commands, QStringList{u"find '"_s + volumeTrash + u"/files' -type f -size +100c -print0 2>/dev/null || true"_s});
        QCOMPARE(unreadable.texts.value(0), u"Found 3 files in Trash. Checking signatures..."_s);
        QCOMPARE(describe(unreadable.hits, dir.path()), describe(readable.hits, dir.path()));
    }

    // Nothing found: the tips, unless the index could not be asked at all.
    void nothingFound_data()
    {
        QTest::addColumn<QString>("locate");
        QTest::addColumn<bool>("withDatabase");
        QTest::addColumn<bool>("searched");
        QTest::addRow("index searched") << toolsFolder + u"/silent"_s << false << true;
        // plocate exits with 1 here as well, printing nothing.
        QTest::addRow("database without a match") << toolsFolder + u"/locatedb"_s << true << true;
        QTest::addRow("no locate") << QString() << false << false;
        QTest::addRow("database unreadable") << toolsFolder + u"/locatedb"_s << false << false;
    }
    void nothingFound()
    {
        QFETCH(QString, locate);
        QFETCH(bool, withDatabase);
        QFETCH(bool, searched);
        if (locate.endsWith(u"db"_s) && QStandardPaths::findExecutable(u"plocate"_s).isEmpty())
            QSKIP("plocate is not installed");
        QTemporaryDir dir;
        ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_s)));
        const QString database = dir.filePath(u"plocate.db"_s);
        ScopedEnv databaseEnv("QUORVEL_LOCATE_DB", QFile::encodeName(database));
        if (withDatabase
            && QProcess::execute(u"updatedb"_s, {u"-o"_s, database, u"-U"_s, QString::fromLatin1(QUORVEL_TEST_DATA),
                                                 u"-l"_s, u"no"_s, u"--prunepaths"_s, QString(), u"--prunefs"_s, QString()})
                   != 0)
            QSKIP("updatedb could not build a database here");
        ScanPlatform platform(PlatformKind::gnuLinux, linuxTools(locate));
        Recorder sink;
        DeletedFiles::scan(platform, volumeAt(dir.path()), defaultSignatures(), sink);
        const PlatformTexts &texts = platform.texts();
        QStringList expected = {u"Phase 1: Scanning Trash folders..."_s, u"Found 0 files in Trash. Checking signatures..."_s,
                                texts.checkingSnapshotsStatus, texts.searchingIndexStatus};
        expected << (searched ? u"error: "_s + texts.noDeletedFilesTips : texts.indexUnavailable)
                 << u"No deleted files found. Trash is empty and no snapshots available."_s;
        QCOMPARE(sink.texts, expected);
    }

    // A real plocate database that still names files deleted after it was
    // built: exactly those with a chosen extension come back.
    void locateIndexNamesDeletedFiles_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addRow("plain folder") << u"home"_s;
        QTest::addRow("glob and regex characters in the folder") << u"ho[me] (1)+*?"_s;
    }
    void locateIndexNamesDeletedFiles()
    {
        QFETCH(QString, folder);
        const QString updatedb = QStandardPaths::findExecutable(u"updatedb"_s);
        if (updatedb.isEmpty() || QStandardPaths::findExecutable(u"plocate"_s).isEmpty())
            QSKIP("plocate is not installed");
        QTemporaryDir dir;
        const QString root = dir.filePath(u"root"_s);
        const QString top = root + u'/' + folder;
        const QStringList gone = {u"/Docs/a.jpg"_s, u"/Docs/b.JPG"_s, u"/Docs/new\nline.png"_s, u"/Old/c.jpg"_s, u"/Docs/d.txt"_s};
        const QStringList kept = {u"/Docs/kept.jpg"_s, u"/Docs/Sub/kept.png"_s};
        for (const QString &name : gone + kept)
            QVERIFY(writeFile(top + name, "x"));
        QVERIFY(writeFile(root + u"/sibling/e.jpg"_s, "x"));
        const QString database = dir.filePath(u"plocate.db"_s);
        if (QProcess::execute(updatedb, {u"-o"_s, database, u"-U"_s, root, u"-l"_s, u"no"_s, u"--prunepaths"_s, QString(),
                                         u"--prunefs"_s, QString()})
            != 0)
            QSKIP("updatedb could not build a database here");
        for (const QString &name : gone)
            QVERIFY(QFile::remove(top + name));
        // A whole folder gone: only a database built with -l no still lists it.
        QVERIFY(QDir(top + u"/Old"_s).removeRecursively());
        QVERIFY(QFile::remove(root + u"/sibling/e.jpg"_s));

        ScopedEnv env("QUORVEL_LOCATE_DB", QFile::encodeName(database));
        ScanPlatform platform(PlatformKind::gnuLinux, linuxTools(toolsFolder + u"/locatedb"_s));
        Recorder sink;
        const DeletedFiles::Counts counts =
            DeletedFiles::scanSnapshotsAndSpotlight(platform, volumeAt(top), catalogueRows({u"JPEG"_s, u"PNG"_s}), sink);
        QCOMPARE(describe(sink.hits, top),
                 (QStringList{u"Docs/a.jpg JPEG 0 Partial -"_s, u"Docs/b.JPG JPEG 0 Partial -"_s,
                              u"Docs/new\nline.png PNG 0 Partial -"_s, u"Old/c.jpg JPEG 0 Partial -"_s}));
        QCOMPARE(counts.indexHits, 4);
        QCOMPARE(sink.texts.last(), u"Found 4 recently deleted files from locate index"_s);
    }

    // A file name is bytes. One that is not valid UTF-8 has no exact text,
    // and the text's bytes name no file: that must not make a file that
    // is still there pass for deleted.
    void indexNamesThatAreNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        const QByteArray kept = folder + "/caf\xe9.jpg";
        const int made = ::creat(kept.constData(), 0600);
        QVERIFY(made >= 0);
        ::close(made);
        // QTemporaryDir can't remove a name it can't spell.
        const auto remove = qScopeGuard([&kept] { ::unlink(kept.constData()); });
        const QString tool = dir.filePath(u"locate"_s);
        QVERIFY(writeFile(tool, "#!/bin/sh\nprintf '%s/caf\\351.jpg\\0%s/gon\\351.jpg\\0' '" + folder + "' '" + folder + "'\n"));
        QVERIFY(QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner));
        ScanPlatform platform(PlatformKind::gnuLinux, linuxTools(tool));
        Recorder sink;
        DeletedFiles::scanSnapshotsAndSpotlight(platform, volumeAt(dir.path()), catalogueRows({u"JPEG"_s}), sink);
        QCOMPARE(sink.hits.size(), 1);
        QVERIFY(QFileInfo(sink.hits[0].sourcePath).fileName().startsWith(u"gon"_s));
    }

    // Stop between paths: phase 1 ends early, phase 2 still asks the index
    // but takes none of its paths.
    void cancellationStopsBetweenPaths()
    {
        QTemporaryDir dir;
        ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_s)));
        for (const QString &name : {u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s})
            trashItem(dir.filePath(u"data/Trash"_s), name, jpegBytes(200));
        ScanPlatform platform(PlatformKind::gnuLinux, linuxTools(listingTool(dir, {dir.filePath(u"gone.jpg"_s)})));
        Recorder sink;
        sink.cancelWhen = [&sink] { return !sink.hits.isEmpty(); };
        const DeletedFiles::Counts counts = DeletedFiles::scan(platform, volumeAt(dir.path()), defaultSignatures(), sink);
        QCOMPARE(counts.trashHits, 1);
        QCOMPARE(counts.indexHits, 0);
        QCOMPARE(sink.texts.mid(3),
                 (QStringList{platform.texts().checkingSnapshotsStatus, platform.texts().searchingIndexStatus,
                              u"Found 1 deleted files (1 in Trash, 0 from the locate index)"_s}));
    }

    // The macOS backend: the administrator find of both Trash folders, the
    // walk that adds what it missed, tmutil and mdfind.
    void macTrashSnapshotsAndSpotlight()
    {
        QTemporaryDir dir;
        const QString home = dir.filePath(u"home"_s);
        const QString volume = dir.filePath(u"Team's Disk"_s);
        ScopedEnv homeEnv("HOME", QFile::encodeName(home));
        ScopedEnv log("FAKE_TOOL_LOG", QFile::encodeName(dir.filePath(u"log"_s)));
        QVERIFY(writeFile(home + u"/.Trash/a.jpg"_s, jpegBytes(95)));
        QVERIFY(writeFile(home + u"/.Trash/tiny.jpg"_s, jpegBytes(94)));
        QVERIFY(writeFile(home + u"/.Trash/folder/b.png"_s, pngBytes(200)));
        QVERIFY(writeFile(home + u"/.Trash/x\ny.jpg"_s, jpegBytes(200)));
        QVERIFY(writeFile(volume + u"/.Trashes/501/c.png"_s, pngBytes(200)));
        QVERIFY(writeFile(home + u"/here.jpg"_s, "x"));
        const QString spotlight = dir.filePath(u"spotlight"_s);
        // The last name holds a line feed; its tail must not pass for a
        // file gone from the working folder.
        QVERIFY(writeFile(spotlight, (home + u"/gone.JPG\n"_s + home + u"/here.jpg\n"_s + home + u"/gone.doc\n"_s + home
                                      + u"/new\nline.jpg\n"_s)
                                         .toUtf8()));
        ScopedEnv mdfindOutput("FAKE_MDFIND_OUTPUT", QFile::encodeName(spotlight));
        ToolPaths tools;
        tools.tmutil = toolsFolder + u"/tmutil"_s;
        tools.mdfind = toolsFolder + u"/mdfind"_s;
        ScanPlatform platform(PlatformKind::macOS, tools);

        Recorder sink;
        DeletedFiles::scan(platform, volumeAt(volume, u"apfs"_s), catalogueRows({u"JPEG"_s, u"PNG"_s}), sink);
        QCOMPARE(platform.admin.shellCommands,
                 QStringList{u"find '"_s + home + u"/.Trash' '"_s + dir.path()
                             + u"/Team'\\''s Disk/.Trashes' -type f -size +100c 2>/dev/null || true"_s});
        QCOMPARE(describe(sink.hits, dir.path()),
                 (QStringList{u"Team's Disk/.Trashes/501/c.png PNG 216 Good -"_s, u"home/.Trash/a.jpg JPEG 101 Good -"_s,
                              u"home/.Trash/folder/b.png PNG 216 Good -"_s, u"home/.Trash/x\ny.jpg JPEG 206 Good -"_s,
                              u"home/gone.JPG JPEG 0 Partial -"_s}));
        // find's four lines (one a piece of "x\ny.jpg"), then what the walk
        // adds: tiny.jpg, folder, x\ny.jpg and 501.
        QCOMPARE(sink.texts.mid(0, 2),
                 (QStringList{u"Phase 1: Scanning Trash folders..."_s, u"Found 8 files in Trash. Checking signatures..."_s}));
        QCOMPARE(sink.texts.mid(6),
                 (QStringList{u"Phase 2: Checking APFS snapshots..."_s,
                              u"Found 2 snapshot(s). Note: Direct snapshot mounting is restricted by macOS security."_s,
                              u"Searching Spotlight index for recently known files..."_s,
                              u"Found 1 recently deleted files from Spotlight index"_s,
                              u"Found 5 deleted files (4 in Trash, 1 from snapshots)"_s}));
        QCOMPARE(nulSeparatedFile(dir.filePath(u"log.tmutil"_s)), (QStringList{u"listlocalsnapshots"_s, volume}));
        QCOMPARE(nulSeparatedFile(dir.filePath(u"log.mdfind"_s)),
                 (QStringList{u"-onlyin"_s, volume, u"kMDItemFSName == '*.jpg' OR kMDItemFSName == '*.png'"_s}));
    }

    // The startup volume: its Trash is "//.Trashes", Spotlight searches
    // /Users, and without snapshots or hits the tips are shown.
    void macStartupVolume()
    {
        QTemporaryDir dir;
        ScopedEnv homeEnv("HOME", QFile::encodeName(dir.path()));
        ScopedEnv log("FAKE_TOOL_LOG", QFile::encodeName(dir.filePath(u"log"_s)));
        ToolPaths tools;
        tools.tmutil = toolsFolder + u"/silent"_s;
        tools.mdfind = toolsFolder + u"/mdfind"_s;
        ScanPlatform platform(PlatformKind::macOS, tools);
        Recorder sink;
        DeletedFiles::scan(platform, volumeAt(u"/"_s, u"apfs"_s), catalogueRows({u"JPEG"_s}), sink);
        QVERIFY(platform.admin.shellCommands.value(0).contains(u" '//.Trashes' "_s));
        QCOMPARE(nulSeparatedFile(dir.filePath(u"log.mdfind"_s)).mid(0, 2), (QStringList{u"-onlyin"_s, u"/Users"_s}));
        QCOMPARE(sink.texts.mid(sink.texts.size() - 2),
                 (QStringList{u"error: "_s + platform.texts().noDeletedFilesTips, u"No deleted files found. Trash is empty and no snapshots available."_s}));
    }

    // Real snapshots on a btrfs loop image, none on ext4.
    void snapshotsOnARealVolume_data()
    {
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<int>("expected");
        QTest::addRow("btrfs with two read-only snapshots") << u"btrfs"_s << 2;
        QTest::addRow("ext4") << u"ext4"_s << 0;
    }
    void snapshotsOnARealVolume()
    {
        QFETCH(QString, fileSystem);
        QFETCH(int, expected);
        if (::geteuid() != 0)
            QSKIP("loop mounts and btrfs listings need root");
        QTemporaryDir dir;
        const QString image = u"'"_s + dir.filePath(u"volume.img"_s) + u"'"_s;
        const QString mountPoint = dir.filePath(u"mnt"_s);
        int status = -1;
        shellOutput(u"mkdir '%1' && truncate -s 128M %2 && mkfs.%3 -q %2 >/dev/null 2>&1 && mount -o loop %2 '%1'"_s.arg(
                        mountPoint, image, fileSystem),
                    &status);
        if (status != 0)
            QSKIP(qPrintable(u"could not make and mount a "_s + fileSystem + u" image here"_s));
        const auto unmount = qScopeGuard([&] { shellOutput(u"umount '"_s + mountPoint + u"'"_s); });
        if (fileSystem == u"btrfs"_s) {
            shellOutput(u"btrfs -q subvolume snapshot -r '%1' '%1/one' && btrfs -q subvolume snapshot -r '%1' '%1/two'"_s.arg(
                            mountPoint),
                        &status);
            QCOMPARE(status, 0);
        }
        const ToolPaths system = ToolPaths::defaultsFor(PlatformKind::gnuLinux);
        ToolPaths tools = linuxTools();
        tools.btrfs = system.btrfs;
        tools.snapper = system.snapper;
        tools.lvs = system.lvs;
        ScanPlatform platform(PlatformKind::gnuLinux, tools);
        Recorder sink;
        const DeletedFiles::Counts counts =
            DeletedFiles::scanSnapshotsAndSpotlight(platform, volumeAt(mountPoint, fileSystem), defaultSignatures(), sink);
        QCOMPARE(counts.snapshots, expected);
        QCOMPARE(sink.texts.first().startsWith(u"Found 2 snapshot(s). "_s), expected == 2);
    }

    // The service runs this mode by default and ends with its completion,
    // the tips staying in the error text. A Trash hit saves byte for byte
    // under the name it had before it was trashed; an index hit has nothing
    // left to save, and the index's name for the file in the Trash is none.
    void serviceRunsTheModeAndSavesItsHits_data()
    {
        QTest::addColumn<bool>("withHits");
        QTest::addRow("a file in the Trash and one in the index") << true;
        QTest::addRow("nothing found") << false;
    }
    void serviceRunsTheModeAndSavesItsHits()
    {
        QFETCH(bool, withHits);
        QTemporaryDir dir;
        ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_s)));
        const QByteArray photo = jpegBytes(4000, 'q');
        const QString original = dir.filePath(u"Pictures/photo.jpg"_s);
        const QString locate = listingTool(dir, {dir.filePath(u"gone.png"_s), original});
        if (withHits)
            trashItem(dir.filePath(u"data/Trash"_s), u"photo.2.jpg"_s, photo, original.toUtf8());
        auto platform = std::make_shared<ScanPlatform>(PlatformKind::gnuLinux,
                                                       linuxTools(withHits ? locate : toolsFolder + u"/silent"_s));
        FileCarvingService service(platform);
        service.scanDeletedFiles(volumeAt(dir.path()));
        QVERIFY(service.isScanning());
        QTRY_VERIFY(!service.isScanning());
        QVERIFY(service.statusMessage().startsWith(u"Scan complete: %1 files found"_s.arg(withHits ? 2 : 0)));
        QCOMPARE(service.scanProgress(), 1.0);
        QCOMPARE(service.errorMessage(), withHits ? QString() : platform->texts().noDeletedFilesTips);
        if (!withHits)
            return;
        QCOMPARE(service.carvedFiles()->index(0).data(int(CarvedFileModel::Role::originalPath)).toString(), original);
        const QString out = dir.filePath(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        QCOMPARE(service.saveAllCarvedFiles(out), (SaveCounts{1, 0, 1}));
        QCOMPARE(readFile(out + u"/photo.jpg"_s), photo);
    }

private:
    static QStringList nulSeparatedFile(const QString &path)
    {
        QStringList list = QString::fromUtf8(readFile(path)).split(QChar(0));
        list.removeLast();
        return list;
    }
};

QTEST_GUILESS_MAIN(TestDeletedFiles)
#include "tst_deletedfiles.moc"
