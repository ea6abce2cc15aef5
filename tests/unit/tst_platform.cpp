#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "system/linuxplatform.h"
#include "system/macplatform.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString toolsFolder = QStringLiteral(QUORVEL_TEST_DATA "/tools");
const QString markedPrefix = u"printf '@@ELEVATED@@\\n'; "_s;

LinuxAdministratorConfig fakePkexec()
{
    return {toolsFolder + u"/pkexec"_s, u"/bin/sh"_s, u"/bin/bash"_s, false};
}

QStringList nulSeparated(const QByteArray &bytes)
{
    QStringList list = QString::fromUtf8(bytes).split(QChar(0));
    list.removeLast();
    return list;
}

// Sets an environment variable for the lifetime of one test.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::optional<QByteArray> &value)
        : m_name(name), m_old(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedEnv() { m_old ? qputenv(m_name, *m_old) : qunsetenv(m_name); }

private:
    const char *m_name;
    std::optional<QByteArray> m_old;
};

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pkexecArguments_data()
    {
        QTest::addColumn<StreamMode>("mode");
        QTest::addColumn<QString>("script");
        QTest::addRow("output") << StreamMode::outputOnly << markedPrefix + u"ls '/x'"_s;
        QTest::addRow("combined") << StreamMode::combined << markedPrefix + u"ls '/x'"_s;
        QTest::addRow("discard keeps the marker visible")
            << StreamMode::discardAll << markedPrefix + u"exec >/dev/null 2>&1; ls '/x'"_s;
    }
    void pkexecArguments()
    {
        QFETCH(StreamMode, mode);
        QFETCH(QString, script);
        QCOMPARE(pkexecShellArguments(u"/bin/sh"_s, u"ls '/x'"_s, mode), (QStringList{u"/bin/sh"_s, u"-c"_s, script}));
    }

    void markerParsing_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::addColumn<std::optional<QString>>("expectedOutput");
        QTest::addColumn<int>("expectedStatus");
        using Text = std::optional<QString>;
        QTest::addRow("authorized") << QByteArray("@@ELEVATED@@\nhello\n") << 0 << Text(u"hello\n"_s) << 0;
        QTest::addRow("command itself exits 127") << QByteArray("@@ELEVATED@@\nx\n") << 127 << Text(u"x\n"_s) << 127;
        QTest::addRow("only the marker") << QByteArray("@@ELEVATED@@\n") << 0 << Text(QString()) << 0;
        QTest::addRow("dismissed") << QByteArray() << 126 << Text(QString()) << 126;
        QTest::addRow("no agent, message kept out")
            << QByteArray("Error executing command as another user: No authentication agent found.\n") << 127
            << Text(QString()) << 127;
        QTest::addRow("no marker never succeeds") << QByteArray("hello\n") << 0 << Text(QString()) << 127;
        QTest::addRow("pkexec text before the marker")
            << QByteArray("warning: x\n@@ELEVATED@@\nout\n") << 0 << Text(u"out\n"_s) << 0;
        QTest::addRow("marker inside a line is not a marker")
            << QByteArray("xx@@ELEVATED@@\nout\n") << 1 << Text(QString()) << 1;
        QTest::addRow("invalid bytes after the marker") << QByteArray("@@ELEVATED@@\n\xff") << 0 << Text() << 0;
    }
    void markerParsing()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, status);
        QFETCH(std::optional<QString>, expectedOutput);
        QFETCH(int, expectedStatus);
        const ToolResult result = interpretElevatedRun({true, output, status, std::nullopt});
        QVERIFY(result.launched);
        QCOMPARE(result.output, expectedOutput);
        QCOMPARE(result.exitStatus, expectedStatus);
    }

    void pkexecRun_data()
    {
        QTest::addColumn<QByteArray>("dialog");
        QTest::addColumn<StreamMode>("mode");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expectedOutput");
        QTest::addColumn<int>("expectedStatus");
        const QString twoStreams = u"echo out; echo err >&2; exit 3"_s;
        QTest::addRow("allowed, output") << QByteArray("allow") << StreamMode::outputOnly << twoStreams << u"out\n"_s << 3;
        QTest::addRow("allowed, combined") << QByteArray("allow") << StreamMode::combined << twoStreams << u"out\nerr\n"_s << 3;
        QTest::addRow("allowed, discarded") << QByteArray("allow") << StreamMode::discardAll << twoStreams << QString() << 3;
        QTest::addRow("command exits like a dismissal")
            << QByteArray("allow") << StreamMode::outputOnly << u"echo ran; exit 126"_s << u"ran\n"_s << 126;
        QTest::addRow("dismissed") << QByteArray("dismiss") << StreamMode::outputOnly << twoStreams << QString() << 126;
        QTest::addRow("refused, combined") << QByteArray("refuse") << StreamMode::combined << twoStreams << QString() << 127;
    }
    void pkexecRun()
    {
        QFETCH(QByteArray, dialog);
        QFETCH(StreamMode, mode);
        QFETCH(QString, command);
        QFETCH(QString, expectedOutput);
        QFETCH(int, expectedStatus);
        QTemporaryDir dir;
        const QString log = dir.filePath(u"argv"_s);
        ScopedEnv dialogEnv("FAKE_PKEXEC", dialog);
        ScopedEnv logEnv("FAKE_PKEXEC_LOG", QFile::encodeName(log));

        LinuxAdministratorLauncher launcher(fakePkexec());
        const ToolResult result = launcher.runShell(command, mode);
        QVERIFY(result.launched);
        QCOMPARE(result.output.value_or(u"<absent>"_s), expectedOutput);
        QCOMPARE(result.exitStatus, expectedStatus);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(nulSeparated(file.readAll()), pkexecShellArguments(u"/bin/sh"_s, command, mode));
    }

    void missingPkexecIsNotLaunched()
    {
        LinuxAdministratorLauncher launcher({u"/nonexistent/pkexec"_s, u"/bin/sh"_s, u"/bin/bash"_s, false});
        const ToolResult result = launcher.runShell(u"true"_s, StreamMode::outputOnly);
        QVERIFY(!result.launched);
        QVERIFY(!result.startError.value_or(QString()).isEmpty());
        QString error;
        QVERIFY(!launcher.startDetached(u"/tmp/x.sh"_s, {}, &error));
        QVERIFY(!error.isEmpty());
    }

    void rootRunsTheShellDirectly()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to see the direct path give uid 0");
        // The backend of this machine, with no pkexec at all: as root it is never needed.
        ToolPaths tools = ToolPaths::defaultsFor(PlatformKind::gnuLinux);
        tools.pkexec = u"/nonexistent/pkexec"_s;
        auto platform = makePlatform(PlatformKind::gnuLinux, tools);
        const ToolResult result = platform->administrator().runShell(u"id -u; echo err >&2; exit 5"_s, StreamMode::combined);
        QVERIFY(result.launched);
        QCOMPARE(result.output.value_or(QString()), u"0\nerr\n"_s);
        QCOMPARE(result.exitStatus, 5);
    }

    void detachedRun_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addRow("through pkexec") << false;
        QTest::addRow("as root") << true;
    }
    void detachedRun()
    {
        QFETCH(bool, asRoot);
        QTemporaryDir dir;
        const QString script = dir.filePath(u"helper's.sh"_s);
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // No execute bit: the launcher runs it through bash.
        file.write("printf '%s\\0' \"$@\" > \"$1/args\"\nwhile [ -d \"$1\" ] && [ ! -f \"$1/stop\" ]; do sleep 0.05; done\n");
        file.close();

        LinuxAdministratorConfig config = fakePkexec();
        config.runningAsRoot = asRoot;
        if (asRoot)
            config.pkexec = u"/nonexistent/pkexec"_s;
        LinuxAdministratorLauncher launcher(config);
        const QStringList arguments = {dir.path(), u"/dev/loop 'x'"_s};
        QString error;
        auto run = launcher.startDetached(script, arguments, &error);
        QVERIFY2(run, qPrintable(error));
        QTRY_VERIFY(QFileInfo::exists(dir.filePath(u"args"_s)));
        QVERIFY(run->isRunning());
        QFile args(dir.filePath(u"args"_s));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(nulSeparated(args.readAll()), arguments);

        QFile stop(dir.filePath(u"stop"_s));
        QVERIFY(stop.open(QIODevice::WriteOnly));
        stop.close();
        QTRY_VERIFY(!run->isRunning());
    }

    // The script sits in a folder the user's processes can write to while
    // the password dialog is up; root must run the text as it was started.
    void detachedRunIgnoresLaterChangesToTheScript()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath(u"helper.sh"_s);
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("while [ ! -e \"$1/go\" ]; do sleep 0.02; done\necho original > \"$1/ran\"\n");
        file.close();
        LinuxAdministratorLauncher launcher(fakePkexec());
        QString error;
        auto run = launcher.startDetached(script, {dir.path()}, &error);
        QVERIFY2(run, qPrintable(error));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("echo replaced > \"$1/ran\"\n");
        file.close();
        QFile go(dir.filePath(u"go"_s));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        QTRY_VERIFY(!run->isRunning());
        QFile ran(dir.filePath(u"ran"_s));
        QVERIFY(ran.open(QIODevice::ReadOnly));
        QCOMPARE(ran.readAll(), QByteArray("original\n"));
    }

    void detachedRunCanBeTerminated()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath(u"wait.sh"_s);
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("while :; do sleep 0.05; done\n");
        file.close();
        LinuxAdministratorLauncher launcher(fakePkexec());
        QString error;
        auto run = launcher.startDetached(script, {}, &error);
        QVERIFY(run);
        QVERIFY(run->isRunning());
        run->terminate();
        QTRY_VERIFY_WITH_TIMEOUT(!run->isRunning(), 3000);
    }

    void macTextsAreVerbatim()
    {
        const PlatformTexts texts = PlatformTexts::macOS();
        QCOMPARE(texts.rawAccessPrivileges.toUtf8().size(), 699);
        QVERIFY(texts.rawAccessPrivileges.startsWith(u"\n\n\u26A0\uFE0F Raw device access"_s));
        QVERIFY(texts.rawAccessPrivileges.contains(u"1\uFE0F\u20E3 Full Disk Access\n   System Settings \u2192 Privacy"_s));
        QVERIFY(texts.rawAccessPrivileges.contains(u"\U0001F4A1 Recommendation:\n\u2022 Use"_s));
        QCOMPARE(texts.deviceBusyMessage(u"/dev/rdisk4s1"_s),
                 u"Cannot open /dev/rdisk4s1: Device busy\n\nThe volume may need to be unmounted first.\n"
                 "Try: diskutil unmount /dev/rdisk4s1 in Terminal.\n\n"
                 "\U0001F4A1 Tip: Using \"Directory Scan\" mode does not require unmounting."_s);
        QCOMPARE(texts.deletedFilesNotice.steps.size(), 3);
        QCOMPARE(texts.rawDeviceNotice.steps.first(), u"Click START DEEP SCAN \u2192 macOS will show a password dialog"_s);
    }

    void busyMessageKeepsPercentSignsOfThePath()
    {
        const QString path = u"/dev/%1%2 x"_s;
        QCOMPARE(PlatformTexts::gnuLinux().deviceBusyMessage(path).count(path), 2);
        QVERIFY(PlatformTexts::gnuLinux().deviceBusyMessage(u"/dev/sdb1"_s).contains(u"Try: umount /dev/sdb1 in a terminal."_s));
    }

    void gnuTextsMatchInShapeAndNameNoMacFacility()
    {
        const PlatformTexts mac = PlatformTexts::macOS();
        const PlatformTexts gnu = PlatformTexts::gnuLinux();
        const QList<std::pair<QString, QString>> pairs = {
            {mac.rawAccessPrivileges, gnu.rawAccessPrivileges},
            {mac.deviceBusyTemplate, gnu.deviceBusyTemplate},
            {mac.deletedFilesNotice.title, gnu.deletedFilesNotice.title},
            {mac.deletedFilesNotice.description, gnu.deletedFilesNotice.description},
            {mac.deletedFilesNotice.steps.join(u'\n'), gnu.deletedFilesNotice.steps.join(u'\n')},
            {mac.deletedFilesNotice.note, gnu.deletedFilesNotice.note},
            {mac.rawDeviceNotice.title, gnu.rawDeviceNotice.title},
            {mac.rawDeviceNotice.description, gnu.rawDeviceNotice.description},
            {mac.rawDeviceNotice.steps.join(u'\n'), gnu.rawDeviceNotice.steps.join(u'\n')},
            {mac.rawDeviceNotice.note, gnu.rawDeviceNotice.note},
            {mac.deletedFilesModeDescription, gnu.deletedFilesModeDescription},
            {mac.checkingSnapshotsStatus, gnu.checkingSnapshotsStatus},
            {mac.snapshotsFoundNote, gnu.snapshotsFoundNote},
            {mac.searchingIndexStatus, gnu.searchingIndexStatus},
            {mac.indexUnavailable, gnu.indexUnavailable},
            {mac.noDeletedFilesTips, gnu.noDeletedFilesTips},
            {mac.trashAccessDenied, gnu.trashAccessDenied},
            {mac.trashSubtitle, gnu.trashSubtitle},
            {mac.snapshotListFailed, gnu.snapshotListFailed},
            {mac.fullDiskAccessTitle, gnu.fullDiskAccessTitle},
        };
        const QStringList macOnly = {u"macOS"_s, u"Mac "_s, u"APFS"_s, u"Time Machine"_s, u"Spotlight"_s,
                                     u"Full Disk Access"_s, u"System Settings"_s, u"diskutil"_s, u"rdisk"_s,
                                     u"tmutil"_s, u"SIP"_s, u"/Volumes"_s};
        const QStringList marks = {u"\u26A0\uFE0F"_s, u"1\uFE0F\u20E3"_s, u"2\uFE0F\u20E3"_s, u"3\uFE0F\u20E3"_s,
                                   u"\U0001F4A1"_s, u"\u2022"_s, u"\u2192"_s, u"%1"_s, u"\n"_s};
        for (const auto &[macText, gnuText] : pairs) {
            QVERIFY2(!gnuText.isEmpty(), qPrintable(macText));
            for (const QString &word : macOnly)
                QVERIFY2(!gnuText.contains(word), qPrintable(word + u" in: "_s + gnuText));
            for (const QString &mark : marks)
                QVERIFY2(macText.count(mark) == gnuText.count(mark) || mark == u"\u2192"_s || mark == u"\n"_s
                             || mark == u"\u2022"_s,
                         qPrintable(mark + u" differs in: "_s + gnuText));
            QCOMPARE(macText.count(u'\n'), gnuText.count(u'\n'));
        }
        QCOMPARE(gnu.deletedFilesNotice.steps.size(), mac.deletedFilesNotice.steps.size());
        QCOMPARE(gnu.rawDeviceNotice.steps.size(), mac.rawDeviceNotice.steps.size());
    }

    void homeTrash_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("dataHome");
        QTest::addColumn<QString>("expectedBelowHome");
        QTest::addRow("XDG_DATA_HOME unset") << std::optional<QByteArray>() << u"/.local/share/Trash"_s;
        QTest::addRow("XDG_DATA_HOME empty") << std::optional<QByteArray>(QByteArray()) << u"/.local/share/Trash"_s;
        QTest::addRow("XDG_DATA_HOME set") << std::optional<QByteArray>("HOME/data") << u"/data/Trash"_s;
    }
    void homeTrash()
    {
        QFETCH(std::optional<QByteArray>, dataHome);
        QFETCH(QString, expectedBelowHome);
        QTemporaryDir home;
        ScopedEnv homeEnv("HOME", QFile::encodeName(home.path()));
        if (dataHome && !dataHome->isEmpty())
            dataHome = QFile::encodeName(home.path()) + dataHome->mid(4);
        ScopedEnv dataEnv("XDG_DATA_HOME", dataHome);

        const TrashLocation trash = makePlatform(PlatformKind::gnuLinux)->homeTrash();
        QCOMPARE(trash.root, home.path() + expectedBelowHome);
        QCOMPARE(trash.filesFolder, trash.root + u"/files"_s);
        QCOMPARE(trash.infoFolder, trash.root + u"/info"_s);

        const TrashLocation macTrash = makePlatform(PlatformKind::macOS)->homeTrash();
        QCOMPARE(macTrash.root, home.path() + u"/.Trash"_s);
        QCOMPARE(macTrash.filesFolder, macTrash.root);
    }

    void volumeTrashes_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("none") << u""_s << QStringList();
        QTest::addRow("sticky shared trash") << u"shared:1777"_s << QStringList{u".Trash/UID"_s};
        QTest::addRow("shared trash without sticky bit") << u"shared:0777"_s << QStringList();
        QTest::addRow("shared trash as a symlink") << u"sharedlink"_s << QStringList();
        QTest::addRow("personal trash") << u"personal"_s << QStringList{u".Trash-UID"_s};
        QTest::addRow("personal trash as a symlink") << u"personallink"_s << QStringList();
        QTest::addRow("both") << u"shared:1777 personal"_s << QStringList{u".Trash/UID"_s, u".Trash-UID"_s};
    }
    void volumeTrashes()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, expected);
        QTemporaryDir top;
        QTemporaryDir elsewhere;
        const QString uid = QString::number(::getuid());
        QDir().mkpath(elsewhere.filePath(uid));
        ::chmod(QFile::encodeName(elsewhere.path()).constData(), 01777);
        for (const QString &step : setup.split(u' ', Qt::SkipEmptyParts)) {
            if (step.startsWith(u"shared:"_s)) {
                QVERIFY(QDir().mkpath(top.filePath(u".Trash/"_s + uid)));
                ::chmod(QFile::encodeName(top.filePath(u".Trash"_s)).constData(), step.mid(7).toUInt(nullptr, 8));
            } else if (step == u"sharedlink"_s) {
                QVERIFY(QFile::link(elsewhere.path(), top.filePath(u".Trash"_s)));
            } else if (step == u"personal"_s) {
                QVERIFY(QDir().mkpath(top.filePath(u".Trash-"_s + uid)));
            } else if (step == u"personallink"_s) {
                QVERIFY(QFile::link(elsewhere.filePath(uid), top.filePath(u".Trash-"_s + uid)));
            }
        }
        QStringList roots;
        const auto platform = makePlatform(PlatformKind::gnuLinux);
        for (const TrashLocation &trash : platform->volumeTrashes(top.path() + u"/"_s))
            roots.append(trash.root.mid(top.path().size() + 1).replace(uid, u"UID"_s));
        QCOMPARE(roots, expected);
    }

    void macVolumeTrashIsPlainConcatenation()
    {
        const auto trashes = makePlatform(PlatformKind::macOS)->volumeTrashes(u"/"_s);
        QCOMPARE(trashes.size(), 1);
        QCOMPARE(trashes.first().root, u"//.Trashes"_s);
    }

    void statCommand_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expectedSize");
        QTest::addColumn<QString>("expectedType");
        QTest::addRow("file") << u"f.txt"_s << u"5"_s << u"Regular File"_s;
        QTest::addRow("empty file") << u"empty.txt"_s << u"0"_s << u"Regular File"_s;
        QTest::addRow("quote in the name") << u"it's \"x\".txt"_s << u"5"_s << u"Regular File"_s;
        QTest::addRow("directory") << u"dir"_s << QString() << u"Directory"_s;
        QTest::addRow("symbolic link, not followed") << u"link"_s << u"5"_s << u"Symbolic Link"_s;
        QTest::addRow("fifo") << u"fifo"_s << u"0"_s << u"Fifo File"_s;
        QTest::addRow("missing") << u"missing"_s << u"0"_s << u"Unknown"_s;
    }
    void statCommand()
    {
        QFETCH(QString, entry);
        QFETCH(QString, expectedSize);
        QFETCH(QString, expectedType);
        QTemporaryDir dir;
        const auto write = [&](const QString &name, const QByteArray &bytes) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
        };
        write(u"f.txt"_s, "hello");
        write(u"empty.txt"_s, "");
        write(u"it's \"x\".txt"_s, "hello");
        QDir(dir.path()).mkdir(u"dir"_s);
        QFile::link(u"f.txt"_s, dir.filePath(u"link"_s));
        ::mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0600);

        const auto platform = makePlatform(PlatformKind::gnuLinux);
        const ToolResult result =
            CommandRunner::processes()->run(u"/bin/sh"_s, {u"-c"_s, platform->statCommand(dir.filePath(entry))}, StreamMode::outputOnly);
        const QStringList fields = result.output.value_or(QString()).trimmed().split(u' ');
        QVERIFY2(fields.size() >= 4, qPrintable(result.output.value_or(QString())));
        if (!expectedSize.isEmpty())
            QCOMPARE(fields[0], expectedSize);
        QCOMPARE(fields.mid(3).join(u' '), expectedType);
        if (expectedType != u"Unknown"_s) {
            const QFileInfo info(dir.filePath(entry));
            QCOMPARE(fields[1].toLongLong(), QFileInfo(info.absoluteFilePath()).lastModified().toSecsSinceEpoch());
        }
    }

    void trashListCommandListsTheItemsOnly()
    {
        QTemporaryDir dir;
        const QString files = dir.filePath(u"it's files"_s);
        QDir().mkpath(files + u"/sub"_s);
        for (const QString &name : {u"a.txt"_s, u".hidden"_s, u"sub/deep.txt"_s}) {
            QFile f(files + u'/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const auto platform = makePlatform(PlatformKind::gnuLinux);
        const ToolResult result = CommandRunner::processes()->run(u"/bin/sh"_s, {u"-c"_s, platform->trashListCommand(files)}, StreamMode::outputOnly);
        QStringList paths = result.output.value_or(QString()).split(u'\n', Qt::SkipEmptyParts);
        paths.sort();
        QCOMPARE(paths, (QStringList{files + u"/.hidden"_s, files + u"/a.txt"_s, files + u"/sub"_s}));
    }

    void macCommandTexts()
    {
        const auto mac = makePlatform(PlatformKind::macOS);
        QCOMPARE(mac->copyCommand(u"/a/it's"_s, u"/b/x"_s, false), u"cp  '/a/it'\\''s' '/b/x'"_s);
        QCOMPARE(mac->copyCommand(u"/a/d"_s, u"/b/d (1)"_s, true), u"cp -R '/a/d' '/b/d (1)'"_s);
        QCOMPARE(mac->statCommand(u"/t/f"_s), u"stat -f '%z %m %B %HT' '/t/f' 2>/dev/null || echo '0 0 0 Unknown'"_s);
        QCOMPARE(mac->trashListCommand(u"/Users/u/.Trash"_s),
                 u"find '/Users/u/.Trash' -maxdepth 1 -not -name '.Trash' -not -name '.' 2>/dev/null"_s);
        QCOMPARE(mac->folderSizeCommand(u"/t/d"_s), u"du -sk '/t/d' 2>/dev/null | awk '{print $1}'"_s);
        QCOMPARE(mac->fileIndexArguments(u"/Users"_s, {u"jpg"_s, u"png"_s}),
                 (QStringList{u"-onlyin"_s, u"/Users"_s, u"kMDItemFSName == '*.jpg' OR kMDItemFSName == '*.png'"_s}));
        QCOMPARE(mac->indexSearchFolder(u"/"_s), u"/Users"_s);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->indexSearchFolder(u"/"_s), u"/home"_s);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->indexSearchFolder(u"/media/u/X"_s), u"/media/u/X"_s);
    }

    void locatePatternMatchesLiterally_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("matches");
        const QString folder = u"/home/u/it's (1)+[x]"_s;
        QTest::addRow("deep, upper case") << folder + u"/a/B.JPG"_s << true;
        QTest::addRow("second extension") << folder + u"/c.png"_s << true;
        QTest::addRow("regex characters are literal") << u"/home/u/it's (1)x[x]/a.jpg"_s << false;
        QTest::addRow("extension must end the name") << folder + u"/a.jpgx"_s << false;
        QTest::addRow("dot is literal") << folder + u"/ajpg"_s << false;
        QTest::addRow("sibling folder with the same prefix") << folder + u"2/a.jpg"_s << false;
        QTest::addRow("other extension") << folder + u"/a.gif"_s << false;
    }
    void locatePatternMatchesLiterally()
    {
        QFETCH(QString, path);
        QFETCH(bool, matches);
        const QStringList arguments = locateArguments(u"/home/u/it's (1)+[x]/"_s, {u"jpg"_s, u"png"_s});
        QCOMPARE(arguments.mid(0, 2), (QStringList{u"-i"_s, u"--regex"_s}));
        // plocate uses POSIX extended regular expressions, as grep -E does.
        QTemporaryDir dir;
        QFile candidates(dir.filePath(u"paths"_s));
        QVERIFY(candidates.open(QIODevice::WriteOnly));
        candidates.write(path.toUtf8() + '\n');
        candidates.close();
        const ToolResult grep = CommandRunner::processes()->run(u"/bin/grep"_s, {u"-E"_s, u"-i"_s, u"-e"_s, arguments[2], candidates.fileName()},
                                        StreamMode::combined);
        QCOMPARE(grep.exitStatus, matches ? 0 : 1);
    }

    void copyCommandCopiesAndHandsOver_data()
    {
        QTest::addColumn<bool>("throughPkexec");
        QTest::addColumn<bool>("isDirectory");
        QTest::addRow("file through pkexec") << true << false;
        QTest::addRow("folder through pkexec") << true << true;
        QTest::addRow("file as root") << false << false;
    }
    void copyCommandCopiesAndHandsOver()
    {
        QFETCH(bool, throughPkexec);
        QFETCH(bool, isDirectory);
        if (::geteuid() != 0)
            QSKIP("handing a copy to another user needs root");
        QTemporaryDir dir;
        const QString source = dir.filePath(isDirectory ? u"it's \"dir\""_s : u"it's \"f\".txt"_s);
        const QString file = isDirectory ? source + u"/inner.txt"_s : source;
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("payload");
        f.close();
        ::chmod(QFile::encodeName(file).constData(), 0640);
        const QDateTime old = QDateTime::fromSecsSinceEpoch(1'700'000'000);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        f.close();

        const QString destination = dir.filePath(u"out/restored $(id)"_s);
        QDir().mkpath(dir.filePath(u"out"_s));
        ScopedEnv uidEnv("FAKE_PKEXEC_UID", QByteArray("65534"));
        LinuxAdministratorConfig config = fakePkexec();
        config.runningAsRoot = !throughPkexec;
        LinuxAdministratorLauncher launcher(config);
        const ToolResult result = launcher.runShell(gnuCopyCommand(source, destination, isDirectory), StreamMode::discardAll);
        QCOMPARE(result.exitStatus, 0);

        const QString copied = isDirectory ? destination + u"/inner.txt"_s : destination;
        QFile copy(copied);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("payload"));
        const QFileInfo info(copied);
        QCOMPARE(info.permissions() & 0x0fff, QFileInfo(file).permissions() & 0x0fff);
        QCOMPARE(info.lastModified(), old);
        QCOMPARE(info.ownerId(), throughPkexec ? 65534u : 0u);
        QCOMPARE(QFileInfo(destination).ownerId(), throughPkexec ? 65534u : 0u);

        // A failing copy reports it.
        QVERIFY(launcher.runShell(gnuCopyCommand(dir.filePath(u"missing"_s), destination + u"2"_s, false),
                                  StreamMode::discardAll).exitStatus != 0);
    }

    void deviceReadProbe()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(u"image"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
        file.close();
        QVERIFY(canReadDevice(file.fileName()));
        QVERIFY(!canReadDevice(dir.filePath(u"missing"_s)));
        QVERIFY(!canReadDevice(dir.path()));
        // Agrees with what head(1) can read from the device of "/" (a
        // container may refuse it even to root).
        const ToolResult probe = CommandRunner::processes()->run(u"/bin/sh"_s,
                                         {u"-c"_s, u"head -c 4096 \"$(findmnt -no SOURCE /)\" >/dev/null"_s},
                                         StreamMode::discardAll);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->hasFullDiskAccess(), probe.exitStatus == 0);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->fullDiskAccessSettingsUrl(), QString());
        QCOMPARE(makePlatform(PlatformKind::macOS)->fullDiskAccessSettingsUrl(),
                 u"x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles"_s);
    }

    void toolsComeFromTrustedFoldersOnly()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(toolsFolder + u"/silent"_s, dir.filePath(u"findmnt"_s)));
        ScopedEnv path("PATH", QFile::encodeName(dir.path()) + ':' + qgetenv("PATH"));
        const ToolPaths tools = ToolPaths::defaultsFor(PlatformKind::gnuLinux);
        QVERIFY(!tools.findmnt.startsWith(dir.path()));
        QCOMPARE(tools.pkexec, u"/usr/bin/pkexec"_s);
        QCOMPARE(ToolPaths::defaultsFor(PlatformKind::macOS).diskutil, u"/usr/sbin/diskutil"_s);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
