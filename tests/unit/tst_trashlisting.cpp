#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "helpers/trashtree.h"
#include "system/platform.h"
#include "trash/trashinfo.h"
#include "trash/trashlisting.h"
#include "trash/trashscan.h"

using namespace Qt::Literals::StringLiterals;
using namespace trashtest;

namespace {

// Answers administrator shell text with captured output, or refuses to start.
class ScriptedRunner final : public CommandRunner
{
public:
    std::function<QByteArray(const QString &command)> answer;
    bool launches = true;
    QStringList commands;

    RawToolResult runRaw(const QString &, const QStringList &arguments, StreamMode) override
    {
        RawToolResult result;
        commands.append(arguments.value(1));
        result.launched = launches;
        if (launches)
            result.output = answer ? answer(arguments.value(1)) : QByteArray();
        else
            result.startError = u"No such file or directory"_s;
        return result;
    }
};

QDateTime localTime(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

QDateTime epoch(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

QStringList names(const QList<TrashItem> &items)
{
    QStringList result;
    for (const TrashItem &item : items)
        result.append(item.fileName);
    return result;
}

} // namespace

class TestTrashListing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trashInfo_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("path"); // empty: absent
        QTest::addColumn<QDateTime>("date"); // invalid: absent
        QTest::addRow("GLib, home Trash: percent-encoded space, percent sign, hash and UTF-8")
            << QByteArray("[Trash Info]\nPath=/tmp/lp/home/docs/report%2050%25%23%C3%BC.txt\nDeletionDate=2026-12-06T14:24:17\n")
            << u"/tmp/lp/home/docs/report 50%#ü.txt"_s << localTime(2026, 12, 6, 14, 24, 17);
        QTest::addRow("GLib, volume Trash: relative to the volume's top")
            << QByteArray("[Trash Info]\nPath=data/a.txt\nDeletionDate=2026-12-06T14:24:20\n") << u"/tmp/lp/vol/data/a.txt"_s
            << localTime(2026, 12, 6, 14, 24, 20);
        QTest::addRow("Qt, volume Trash: absolute")
            << QByteArray("[Trash Info]\nPath=/tmp/lp/vol/data/qt3.txt\nDeletionDate=2026-12-06T14:25:00\n")
            << u"/tmp/lp/vol/data/qt3.txt"_s << localTime(2026, 12, 6, 14, 25, 0);
        QTest::addRow("the standard's own compact date")
            << QByteArray("[Trash Info]\nPath=/x/foo\nDeletionDate=20040831T22:32:08\n") << u"/x/foo"_s
            << localTime(2004, 8, 31, 22, 32, 8);
        QTest::addRow("a zone designator is honoured")
            << QByteArray("[Trash Info]\nPath=/x/z\nDeletionDate=2020-01-02T03:04:05Z\n") << u"/x/z"_s
            << QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
        QTest::addRow("a broken date keeps the path")
            << QByteArray("[Trash Info]\nPath=/x/broken.txt\nDeletionDate=yesterday\n") << u"/x/broken.txt"_s
            << QDateTime();
        QTest::addRow("first keys of the group count, other groups don't")
            << QByteArray("[Desktop Entry]\nPath=/wrong\n[Trash Info]\n# comment\nPath=/right\nPath=/later\n"
                          "DeletionDate=2020-01-02T03:04:05\nDeletionDate=2021-01-01T00:00:00\n[Other]\nPath=/no\n")
            << u"/right"_s << localTime(2020, 1, 2, 3, 4, 5);
        QTest::addRow("CRLF and spaces around '='")
            << QByteArray("[Trash Info]\r\nPath = /a%20b\r\nDeletionDate = 2020-01-02T03:04:05\r\n") << u"/a b"_s
            << localTime(2020, 1, 2, 3, 4, 5);
        QTest::addRow("no group header") << QByteArray("Path=/a\nDeletionDate=2020-01-02T03:04:05\n") << QString() << QDateTime();
        QTest::addRow("'..' in a relative path")
            << QByteArray("[Trash Info]\nPath=../../etc/passwd\n") << QString() << QDateTime();
        QTest::addRow("a NUL byte") << QByteArray("[Trash Info]\nPath=/a%00b\n") << QString() << QDateTime();
        QTest::addRow("empty file") << QByteArray() << QString() << QDateTime();
    }
    void trashInfo()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, path);
        QFETCH(QDateTime, date);
        const TrashInfo info = parseTrashInfo(text, u"/tmp/lp/vol"_s);
        QCOMPARE(info.originalPath.value_or(QString()), path);
        QCOMPARE(info.deletionDate.has_value(), date.isValid());
        if (date.isValid())
            QCOMPARE(*info.deletionDate, date);
    }

    // The home Trash and the user's Trash of a mounted volume, read directly.
    void scansFreedesktopFolders()
    {
        QTemporaryDir dir;
        const TrashTree home(dir.filePath(u"share/Trash"_s));
        const QDateTime newest = localTime(2026, 3, 1, 10, 0, 0);
        const QString report = home.addFile(u"report 50%#ü.txt"_s, "hello",
                                            TrashTree::info(u"/home/ann/docs/report 50%#ü.txt"_s, newest));
        const QString duplicate = home.addFile(u"dup.2.txt"_s, "abc", TrashTree::info(u"/home/ann/dup.txt"_s, newest.addDays(-2)));
        const QString orphan = home.addFile(u"orphan.bin"_s, "1234567", QByteArray());
        const QString broken = home.addFile(u"broken.txt"_s, "ab", "[Trash Info]\nPath=/home/ann/broken.txt\nDeletionDate=soon\n");
        const QString album = home.addFolder(
            u"Album"_s, {{u"a.jpg"_s, QByteArray(100, 'a')}, {u".hidden"_s, QByteArray(10, 'h')}, {u"sub/b.png"_s, QByteArray(1000, 'b')}},
            TrashTree::info(u"/home/ann/Album"_s, newest.addDays(-1)));
        // A trashed link is the link, never what it points at.
        QDir().mkpath(dir.filePath(u"outside"_s));
        writeFile(dir.filePath(u"outside/big"_s), QByteArray(50000, 'x'));
        const QString link = home.location().filesFolder + u"/link"_s;
        QVERIFY(QFile::link(dir.filePath(u"outside"_s), link));
        // An info file that links elsewhere is not read.
        writeFile(dir.filePath(u"outside/fake.trashinfo"_s), "[Trash Info]\nPath=/etc/shadow\n");
        QVERIFY(QFile::link(dir.filePath(u"outside/fake.trashinfo"_s), home.location().infoFolder + u"/link.trashinfo"_s));

        const QString top = dir.filePath(u"vol"_s);
        const TrashTree volume(top + u"/.Trash-"_s + QString::number(::getuid()));
        const QString relative = volume.addFile(u"a.txt"_s, "volume", "[Trash Info]\nPath=data/a.txt\nDeletionDate=2026-02-01T00:00:00\n");
        const QString absolute = volume.addFile(u"qt.txt"_s, "qt", TrashTree::info(top + u"/data/qt.txt"_s, {}));
        // A volume's Trash names no place outside the volume.
        const QString elsewhere = volume.addFile(u"evil.desktop"_s, "x", TrashTree::info(u"/home/ann/.config/autostart/evil.desktop"_s, {}));
        // Without the sticky bit another user could have made $top/.Trash.
        const TrashTree planted(top + u"/.Trash/"_s + QString::number(::getuid()));
        planted.addFile(u"planted.txt"_s, "x", TrashTree::info(u"/x/planted.txt"_s, newest));
        QVERIFY(QFile::setPermissions(top + u"/.Trash"_s, QFileDevice::Permissions(0x7777)));

        TrashPlatform platform(PlatformKind::gnuLinux);
        platform.home = home.location();
        VolumeInfo mounted;
        mounted.mountPoint = top;
        platform.volumes = {mounted};
        QList<double> progress;
        const TrashScanOutcome outcome = scanUserTrash(platform, [&](double f) { progress.append(f); });

        QVERIFY(!outcome.errorMessage);
        QVERIFY(platform.admin.shellCommands.isEmpty());
        QCOMPARE(outcome.items.size(), 9);
        QVERIFY(!names(outcome.items).contains(u"planted.txt"_s));
        QCOMPARE(progress.value(progress.size() - 1, 0.0) > 0.0, true);

        const TrashItem first = itemAt(outcome.items, report);
        QCOMPARE(first.fileName, u"report 50%#ü.txt"_s);
        QCOMPARE(first.originalPath, std::optional<QString>(u"/home/ann/docs/report 50%#ü.txt"_s));
        QCOMPARE(first.deletedDate, std::optional<QDateTime>(newest));
        QCOMPARE(first.fileSize, 5);
        QCOMPARE(first.category, FileCategory::document);
        QVERIFY(first.modifiedDate);
        // The name comes from the info file, not from files/.
        QCOMPARE(itemAt(outcome.items, duplicate).fileName, u"dup.txt"_s);

        const TrashItem lost = itemAt(outcome.items, orphan);
        QCOMPARE(lost.fileName, u"orphan.bin"_s);
        QVERIFY(!lost.originalPath);
        QVERIFY(!lost.deletedDate);
        QCOMPARE(lost.fileSize, 7);
        const TrashItem undated = itemAt(outcome.items, broken);
        QCOMPARE(undated.originalPath, std::optional<QString>(u"/home/ann/broken.txt"_s));
        QVERIFY(!undated.deletedDate);

        const TrashItem folder = itemAt(outcome.items, album);
        QVERIFY(folder.isDirectory);
        QCOMPARE(folder.category, FileCategory::folder);
        QCOMPARE(folder.fileSize, 1110);
        const TrashItem linked = itemAt(outcome.items, link);
        QVERIFY(!linked.isDirectory);
        QVERIFY(linked.fileSize < 50000);
        QVERIFY(!linked.originalPath);

        QCOMPARE(itemAt(outcome.items, relative).originalPath, std::optional<QString>(top + u"/data/a.txt"_s));
        QCOMPARE(itemAt(outcome.items, absolute).originalPath, std::optional<QString>(top + u"/data/qt.txt"_s));
        QVERIFY(!itemAt(outcome.items, elsewhere).originalPath);

        // Newest first; items without a date after all dated ones.
        QCOMPARE(names(outcome.items).mid(0, 4),
                 (QStringList{u"report 50%#ü.txt"_s, u"Album"_s, u"dup.txt"_s, u"a.txt"_s}));
        for (qsizetype i = 4; i < outcome.items.size(); ++i)
            QVERIFY(!outcome.items[i].deletedDate);
    }

    void emptyTrashNeverAsksForAPassword_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addRow("missing") << u"missing"_s;
        QTest::addRow("empty") << u"empty"_s;
        QTest::addRow("only a dangling info file") << u"dangling"_s;
    }
    void emptyTrashNeverAsksForAPassword()
    {
        QFETCH(QString, shape);
        QTemporaryDir dir;
        TrashPlatform platform(PlatformKind::gnuLinux);
        platform.home = {dir.filePath(u"Trash"_s), dir.filePath(u"Trash/files"_s), dir.filePath(u"Trash/info"_s)};
        if (shape != u"missing"_s) {
            const TrashTree tree(platform.home.root);
            if (shape == u"dangling"_s)
                writeFile(tree.location().infoFolder + u"/gone.txt.trashinfo"_s, TrashTree::info(u"/a/gone.txt"_s, {}));
        }
        const TrashScanOutcome outcome = scanUserTrash(platform, {});
        QVERIFY(outcome.items.isEmpty());
        QVERIFY(!outcome.errorMessage);
        QVERIFY(platform.admin.shellCommands.isEmpty());
    }

    void unreadableHomeTrashAsksTheAdministratorOnce()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every folder; run the tests as a user to cover this");
        QTemporaryDir dir;
        const TrashTree tree(dir.filePath(u"Trash"_s));
        tree.addFile(u"a.txt"_s, "a", TrashTree::info(u"/x/a.txt"_s, QDateTime::currentDateTime()));
        tree.addFile(u"b.txt"_s, "b", TrashTree::info(u"/x/b.txt"_s, QDateTime::currentDateTime()));
        QVERIFY(QFile::setPermissions(tree.location().filesFolder, {}));
        TrashPlatform platform(PlatformKind::gnuLinux);
        platform.home = tree.location();
        scanUserTrash(platform, {});
        QFile::setPermissions(tree.location().filesFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(platform.admin.shellCommands.size(), 1);
    }

    // What root sees of a Trash it lists for the user must match what the user
    // would have seen, whatever the names hold.
    void administratorListingMatchesDirectListing()
    {
        QTemporaryDir dir;
        const TrashTree tree(dir.filePath(u"Trash"_s));
        const QDateTime when = localTime(2025, 5, 4, 3, 2, 1);
        tree.addFile(u"line\nbreak.txt"_s, "12345", TrashTree::info(u"/x/line\nbreak.txt"_s, when));
        tree.addFile(u"-rf"_s, "1", TrashTree::info(u"/x/-rf"_s, when.addDays(-1)));
        tree.addFile(u"it's \"quoted\" $(id).md"_s, "22", TrashTree::info(u"/x/it's \"quoted\" $(id).md"_s, when.addDays(-2)));
        tree.addFile(u"no info"_s, "333", QByteArray());
        tree.addFolder(u"Folder"_s, {{u"inner/x.bin"_s, QByteArray(5000, 'x')}}, TrashTree::info(u"/x/Folder"_s, when.addDays(-3)));
        writeFile(dir.filePath(u"secret"_s), "[Trash Info]\nPath=/etc/shadow\n");
        QVERIFY(QFile::link(dir.filePath(u"secret"_s), tree.location().infoFolder + u"/no info.trashinfo"_s));

        const TrashFolder folder{tree.location(), dir.path(), true};
        const ToolResult run = CommandRunner::processes()->run(
            u"/bin/sh"_s, {u"-c"_s, freedesktopAdministratorListCommand(tree.location())}, StreamMode::outputOnly);
        QList<TrashItem> listed = parseFreedesktopAdministratorList(run.output, folder);
        QList<TrashItem> direct;
        for (const QString &name : folderEntries(tree.location().filesFolder).value_or(QStringList()))
            direct.append(freedesktopTrashItem(folder, name));
        sortNewestFirst(listed);
        sortNewestFirst(direct);

        QCOMPARE(listed.size(), 5);
        QCOMPARE(names(listed), names(direct));
        for (qsizetype i = 0; i < listed.size(); ++i) {
            const QString name = listed[i].fileName;
            QCOMPARE(listed[i].trashPath, direct[i].trashPath);
            QCOMPARE(listed[i].originalPath, direct[i].originalPath);
            QCOMPARE(listed[i].deletedDate, direct[i].deletedDate);
            QCOMPARE(listed[i].isDirectory, direct[i].isDirectory);
            QCOMPARE(listed[i].modifiedDate.has_value(), true);
            // du counts blocks, the direct walk bytes.
            if (listed[i].isDirectory)
                QVERIFY2(listed[i].fileSize >= direct[i].fileSize, qPrintable(name));
            else
                QCOMPARE(listed[i].fileSize, direct[i].fileSize);
        }
    }

    void itemFacts_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QDateTime>("modified");
        QTest::addColumn<QDateTime>("birth");
        QTest::addColumn<bool>("isDirectory");
        QTest::addRow("five words") << u"1234 1700000000 1690000000 Regular File\n"_s << qint64(1234)
                                    << QDateTime(QDate(2023, 11, 14), QTime(22, 13, 20), Qt::UTC)
                                    << QDateTime(QDate(2023, 7, 22), QTime(4, 26, 40), Qt::UTC) << false;
        QTest::addRow("a directory") << u"96 1700000000 1690000000 Directory"_s << qint64(96) << epoch(1700000000)
                                     << epoch(1690000000) << true;
        QTest::addRow("stat failed inside the command") << u"0 0 0 Unknown"_s << qint64(0) << epoch(0) << epoch(0) << false;
        QTest::addRow("three fields") << u"1 2 3"_s << qint64(0) << QDateTime() << QDateTime() << false;
        QTest::addRow("nothing") << QString() << qint64(0) << QDateTime() << QDateTime() << false;
        QTest::addRow("signs, fractions and exponents") << u"+7 1.5 1e3 Symbolic Link"_s << qint64(7)
                                                        << QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC) << epoch(1000) << false;
        QTest::addRow("not numbers") << u"12a 0x10 nan Directory"_s << qint64(0) << QDateTime() << QDateTime() << true;
        QTest::addRow("size out of range") << u"9223372036854775808 1 1 Regular"_s << qint64(0) << epoch(1) << epoch(1)
                                           << false;
    }
    void itemFacts()
    {
        QFETCH(QString, output);
        QFETCH(qint64, size);
        QFETCH(QDateTime, modified);
        QFETCH(QDateTime, birth);
        QFETCH(bool, isDirectory);
        const ItemFacts facts = parseItemFacts(output.isNull() ? std::nullopt : std::optional<QString>(output));
        QCOMPARE(facts.size, size);
        QCOMPARE(facts.modified.value_or(QDateTime()), modified);
        QCOMPARE(facts.birth.value_or(QDateTime()), birth);
        QCOMPARE(facts.isDirectory, isDirectory);
    }

    // The macOS administrator listing, on output of the shape the tools print.
    void macAdministratorListing_data()
    {
        QTest::addColumn<QByteArray>("du");
        QTest::addColumn<qint64>("folderSize");
        QTest::addRow("du 2048") << QByteArray("2048\n") << qint64(2097152);
        QTest::addRow("du prints abc") << QByteArray("abc\n") << qint64(0);
        QTest::addRow("du prints nothing") << QByteArray() << qint64(0);
    }
    void macAdministratorListing()
    {
        QFETCH(QByteArray, du);
        QFETCH(qint64, folderSize);
        QTemporaryDir dir;
        const QString trash = dir.filePath(u".Trash"_s);
        QDir().mkpath(trash);
        // Only hidden entries: the direct listing finds nothing.
        writeFile(trash + u"/.DS_Store"_s, "x");
        auto runner = std::make_shared<ScriptedRunner>();
        runner->answer = [&](const QString &command) -> QByteArray {
            if (command.startsWith(u"find "_s))
                return QFile::encodeName(trash + u"/.DS_Store\n"_s + trash + u"/report.pdf\n"_s + trash + u"/Photos\n\n"_s);
            if (command.startsWith(u"du "_s))
                return du;
            if (command.contains(u"Photos"_s))
                return "96 1700000000 1690000000 Directory\n";
            if (command.contains(u"report.pdf"_s))
                return "1234 1700000000 1690000000 Regular File\n";
            return "6148 1690000000 1690000000 Regular File\n";
        };
        TrashPlatform platform(PlatformKind::macOS, runner);
        platform.home = {trash, trash, QString()};
        const TrashScanOutcome outcome = scanUserTrash(platform, {});

        QVERIFY(!outcome.errorMessage);
        QCOMPARE(names(outcome.items), (QStringList{u"report.pdf"_s, u"Photos"_s, u".DS_Store"_s}));
        const TrashItem report = outcome.items[0];
        QCOMPARE(report.fileSize, 1234);
        QCOMPARE(report.deletedDate, std::optional<QDateTime>(epoch(1700000000)));
        QCOMPARE(report.modifiedDate, std::optional<QDateTime>(epoch(1690000000)));
        QVERIFY(!report.isDirectory);
        QVERIFY(!report.originalPath);
        QVERIFY(outcome.items[1].isDirectory);
        QCOMPARE(outcome.items[1].fileSize, folderSize);
    }

    void macListingThatCannotStart()
    {
        QTemporaryDir dir;
        auto runner = std::make_shared<ScriptedRunner>();
        runner->launches = false;
        TrashPlatform platform(PlatformKind::macOS, runner);
        platform.home = {dir.path(), dir.path(), QString()};
        const TrashScanOutcome outcome = scanUserTrash(platform, {});
        QVERIFY(outcome.items.isEmpty());
        QCOMPARE(outcome.errorMessage, std::optional<QString>(PlatformTexts::macOS().trashAccessDenied));
    }

    void macDirectListing()
    {
        QTemporaryDir dir;
        const QString trash = dir.filePath(u".Trash"_s);
        QDir().mkpath(trash + u"/Folder/.git"_s);
        writeFile(trash + u"/.DS_Store"_s, "x");
        writeFile(trash + u"/notes.txt"_s, "12345");
        writeFile(trash + u"/Folder/kept.bin"_s, QByteArray(10, 'k'));
        writeFile(trash + u"/Folder/.hidden"_s, QByteArray(100, 'h'));
        writeFile(trash + u"/Folder/.git/object"_s, QByteArray(1000, 'g'));
        const QDateTime modified = epoch(1600000000);
        QFile notes(trash + u"/notes.txt"_s);
        QVERIFY(notes.open(QIODevice::ReadWrite) && notes.setFileTime(modified, QFileDevice::FileModificationTime));
        notes.close();

        auto runner = std::make_shared<ScriptedRunner>();
        TrashPlatform platform(PlatformKind::macOS, runner);
        platform.home = {trash, trash, QString()};
        const TrashScanOutcome outcome = scanUserTrash(platform, {});
        QVERIFY(runner->commands.isEmpty());
        QCOMPARE(outcome.items.size(), 2);
        QCOMPARE(itemAt(outcome.items, trash + u"/notes.txt"_s).deletedDate, std::optional<QDateTime>(modified));
        QCOMPARE(itemAt(outcome.items, trash + u"/Folder"_s).fileSize, 10);
    }
};

QTEST_GUILESS_MAIN(TestTrashListing)
#include "tst_trashlisting.moc"
