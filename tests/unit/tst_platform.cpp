#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "helpers/testsupport.h"
#include "system/linuxplatform.h"
#include "system/pipedprocess.h"
#include "system/macplatform.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString toolsFolder = QStringLiteral(QUORVEL_TEST_DATA "/tools");

LinuxAdministratorConfig fakePkexec(bool runningAsRoot = false)
{
    return {runningAsRoot ? u"/nonexistent/pkexec"_s : toolsFolder + u"/pkexec"_s, u"/bin/sh"_s, u"/bin/bash"_s,
            runningAsRoot};
}

QStringList nulSeparated(const QByteArray &bytes)
{
    QStringList list = QString::fromUtf8(bytes).split(QChar(0));
    list.removeLast();
    return list;
}

// Every text of a set, each with a name for the failure message.
QList<std::pair<const char *, QString>> textsOf(const PlatformTexts &t)
{
    return {
        {"rawAccessPrivileges", t.rawAccessPrivileges}, {"deviceBusyTemplate", t.deviceBusyTemplate},
        {"deletedFilesNotice.title", t.deletedFilesNotice.title},
        {"deletedFilesNotice.description", t.deletedFilesNotice.description},
        {"deletedFilesNotice.steps", t.deletedFilesNotice.steps.join(u'\n')},
        {"deletedFilesNotice.note", t.deletedFilesNotice.note}, {"rawDeviceNotice.title", t.rawDeviceNotice.title},
        {"rawDeviceNotice.description", t.rawDeviceNotice.description},
        {"rawDeviceNotice.steps", t.rawDeviceNotice.steps.join(u'\n')}, {"rawDeviceNotice.note", t.rawDeviceNotice.note},
        {"deletedFilesModeDescription", t.deletedFilesModeDescription},
        {"checkingSnapshotsStatus", t.checkingSnapshotsStatus}, {"snapshotsFoundNote", t.snapshotsFoundNote},
        {"searchingIndexStatus", t.searchingIndexStatus}, {"indexUnavailable", t.indexUnavailable},
        {"indexHitsFoundTemplate", t.indexHitsFoundTemplate}, {"deletedFilesTotalsTemplate", t.deletedFilesTotalsTemplate},
        {"noDeletedFilesTips", t.noDeletedFilesTips}, {"trashAccessDenied", t.trashAccessDenied},
        {"trashSubtitle", t.trashSubtitle},
        {"snapshotListFailed", t.snapshotListFailed}, {"fullDiskAccessTitle", t.fullDiskAccessTitle},
        {"snapshotsSubtitle", t.snapshotsSubtitle},
    };
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // pkexec's own messages and statuses must never pass for the command's.
    void markerParsing_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::addColumn<std::optional<QString>>("expectedOutput");
        QTest::addColumn<int>("expectedStatus");
        using Text = std::optional<QString>;
        QTest::addRow("authorized") << QByteArray("@@ELEVATED@@\nhello\n") << 0 << Text(u"hello\n"_s) << 0;
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
        ScopedEnv dialogEnv("FAKE_PKEXEC", dialog);
        const ToolResult result = LinuxAdministratorLauncher(fakePkexec()).runShell(command, mode);
        QVERIFY(result.launched);
        QCOMPARE(result.output.value_or(u"<absent>"_s), expectedOutput);
        QCOMPARE(result.exitStatus, expectedStatus);
    }

    // Every way of asking for rights says what is missing and how to get it.
    void missingPkexecIsNotLaunched()
    {
        LinuxAdministratorLauncher launcher({u"/nonexistent/pkexec"_s, u"/bin/sh"_s, u"/bin/bash"_s, false});
        const QString told = u"/nonexistent/pkexec is not installed, so administrator rights can't be asked for. "
                             u"Install it with \"sudo apt install pkexec\"."_s;
        const ToolResult result = launcher.runShell(u"true"_s, StreamMode::outputOnly);
        QVERIFY(!result.launched);
        QCOMPARE(result.startError.value_or(QString()), told);
        QTemporaryDir folder;
        const QString script = folder.filePath(u"x.sh"_s);
        QVERIFY(writeFile(script, "true\n"));
        QString error;
        QVERIFY(!launcher.startDetached(script, {}, &error));
        QCOMPARE(error, told);
        error.clear();
        QVERIFY(!launcher.startPiped(u"/usr/bin/perl"_s, {}, -1, &error));
        QCOMPARE(error, told);
    }

    // A detached helper gets its arguments whole, runs until told to stop or
    // terminated, and runs the script's text as it was when started: the
    // script sits in a folder the user's processes can write to while the
    // password dialog is up.
    void detachedRun_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addColumn<bool>("terminate");
        QTest::addRow("through pkexec, stop file") << false << false;
        QTest::addRow("as root, stop file") << true << false;
        QTest::addRow("through pkexec, terminated") << false << true;
    }
    void detachedRun()
    {
        QFETCH(bool, asRoot);
        QFETCH(bool, terminate);
        QTemporaryDir dir;
        const QString script = dir.filePath(u"helper's.sh"_s);
        // No execute bit: the launcher runs it through bash.
        QVERIFY(writeFile(script, "printf '%s\\0' \"$@\" > \"$1/args\"\n"
                                  "while [ -d \"$1\" ] && [ ! -f \"$1/stop\" ]; do sleep 0.05; done\n"
                                  "echo original > \"$1/ran\"\n"));
        const QStringList arguments = {dir.path(), u"/dev/loop 'x'"_s};
        QString error;
        auto run = LinuxAdministratorLauncher(fakePkexec(asRoot)).startDetached(script, arguments, &error);
        QVERIFY2(run, qPrintable(error));
        QVERIFY(writeFile(script, "echo replaced > \"$1/ran\"\n"));
        // The shell creates the file before printf fills it: wait for the
        // arguments themselves, not for the file.
        QTRY_COMPARE(nulSeparated(readFile(dir.filePath(u"args"_s))), arguments);
        QVERIFY(run->isRunning());

        if (terminate)
            run->terminate();
        else
            QVERIFY(writeFile(dir.filePath(u"stop"_s), {}));
        QTRY_VERIFY_WITH_TIMEOUT(!run->isRunning(), 3000);
        QCOMPARE(readFile(dir.filePath(u"ran"_s)), terminate ? QByteArray() : QByteArray("original\n"));
    }

    // A path holding "%1" or "%2" must come out as it went in.
    void busyMessageKeepsPercentSignsOfThePath()
    {
        const QString path = u"/dev/%1%2 x"_s;
        for (const PlatformTexts &texts : {PlatformTexts::gnuLinux(), PlatformTexts::macOS()})
            QCOMPARE(texts.deviceBusyMessage(path).count(path), 2);
    }

    // The Linux texts stand where the macOS ones do: same shape (emoji marks,
    // placeholders, line count), and no macOS facility named.
    void gnuTextsMatchInShapeAndNameNoMacFacility()
    {
        const auto mac = textsOf(PlatformTexts::macOS());
        const auto gnu = textsOf(PlatformTexts::gnuLinux());
        const QStringList macOnly = {u"macOS"_s, u"Mac "_s, u"APFS"_s, u"Time Machine"_s, u"Spotlight"_s,
                                     u"Full Disk Access"_s, u"System Settings"_s, u"diskutil"_s, u"rdisk"_s,
                                     u"tmutil"_s, u"SIP"_s, u"/Volumes"_s};
        const QStringList marks = {u"\u26A0\uFE0F"_s, u"1\uFE0F\u20E3"_s, u"2\uFE0F\u20E3"_s, u"3\uFE0F\u20E3"_s,
                                   u"\U0001F4A1"_s, u"%1"_s, u"%2"_s, u"%3"_s, u"\n"_s};
        for (qsizetype i = 0; i < mac.size(); ++i) {
            const QString &macText = mac[i].second;
            const QString &gnuText = gnu[i].second;
            QVERIFY2(!gnuText.isEmpty(), mac[i].first);
            for (const QString &word : macOnly)
                QVERIFY2(!gnuText.contains(word), qPrintable(word + u" in "_s + QLatin1String(mac[i].first)));
            for (const QString &mark : marks)
                QVERIFY2(macText.count(mark) == gnuText.count(mark), qPrintable(mark + u" in "_s + QLatin1String(mac[i].first)));
        }
    }

    void homeTrash_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("dataHome");
        QTest::addColumn<QString>("expectedBelowHome");
        QTest::addRow("XDG_DATA_HOME unset") << std::optional<QByteArray>() << u"/.local/share/Trash"_s;
        QTest::addRow("XDG_DATA_HOME empty") << std::optional<QByteArray>(QByteArray()) << u"/.local/share/Trash"_s;
        QTest::addRow("XDG_DATA_HOME set") << std::optional<QByteArray>("/data") << u"/data/Trash"_s;
    }
    void homeTrash()
    {
        QFETCH(std::optional<QByteArray>, dataHome);
        QFETCH(QString, expectedBelowHome);
        QTemporaryDir home;
        ScopedEnv homeEnv("HOME", QFile::encodeName(home.path()));
        if (dataHome && !dataHome->isEmpty())
            dataHome = QFile::encodeName(home.path()) + *dataHome;
        ScopedEnv dataEnv("XDG_DATA_HOME", dataHome);

        const TrashLocation trash = makePlatform(PlatformKind::gnuLinux)->homeTrash();
        QCOMPARE(trash.root, home.path() + expectedBelowHome);
        QCOMPARE(trash.filesFolder, trash.root + u"/files"_s);
        QCOMPARE(trash.infoFolder, trash.root + u"/info"_s);
        QCOMPARE(makePlatform(PlatformKind::macOS)->homeTrash().filesFolder, home.path() + u"/.Trash"_s);
    }

    // A volume's shared Trash counts only with the sticky bit, and neither
    // kind may be a link somebody else planted.
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
        for (const TrashLocation &trash : makePlatform(PlatformKind::gnuLinux)->volumeTrashes(top.path() + u"/"_s))
            roots.append(trash.root.mid(top.path().size() + 1).replace(uid, u"UID"_s));
        QCOMPARE(roots, expected);
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
        QVERIFY(writeFile(dir.filePath(u"f.txt"_s), "hello"));
        QVERIFY(writeFile(dir.filePath(u"empty.txt"_s), ""));
        QVERIFY(writeFile(dir.filePath(u"it's \"x\".txt"_s), "hello"));
        QDir(dir.path()).mkdir(u"dir"_s);
        QFile::link(u"f.txt"_s, dir.filePath(u"link"_s));
        ::mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0600);

        const QString output = shellOutput(makePlatform(PlatformKind::gnuLinux)->statCommand(dir.filePath(entry)));
        const QStringList fields = output.split(u' ');
        QVERIFY2(fields.size() >= 4, qPrintable(output));
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
        for (const QString &name : {u"a.txt"_s, u".hidden"_s, u"sub/deep.txt"_s})
            QVERIFY(writeFile(files + u'/' + name, {}));
        QStringList paths = shellOutput(makePlatform(PlatformKind::gnuLinux)->trashListCommand(files)).split(u'\n');
        paths.sort();
        QCOMPARE(paths, (QStringList{files + u"/.hidden"_s, files + u"/a.txt"_s, files + u"/sub"_s}));
    }

    // The shell texts of both backends hand a hostile path to their tool as
    // one argument: fakes named like the tools print what they were given.
    void commandTextsKeepPathsWhole_data()
    {
        QTest::addColumn<PlatformKind>("kind");
        QTest::addColumn<QString>("command");
        for (const PlatformKind kind : {PlatformKind::macOS, PlatformKind::gnuLinux}) {
            const char *name = kind == PlatformKind::macOS ? "macOS" : "Linux";
            for (const char *command : {"cp", "stat", "find"})
                QTest::addRow("%s %s", name, command) << kind << QString::fromLatin1(command);
        }
    }
    void commandTextsKeepPathsWhole()
    {
        QFETCH(PlatformKind, kind);
        QFETCH(QString, command);
        QTemporaryDir fakes;
        for (const QString &tool : {u"cp"_s, u"stat"_s, u"find"_s})
            QVERIFY(QFile::link(toolsFolder + u"/printargs"_s, fakes.filePath(tool)));
        ScopedEnv path("PATH", QFile::encodeName(fakes.path()) + ':' + qgetenv("PATH"));
        ScopedEnv asker("PKEXEC_UID", std::nullopt);
        const QString hostile = u"/tmp/it's \"x\" $(touch /tmp/quorvel-pwned) `id`\n\\"_s;
        const QString other = hostile + u" (1)"_s;
        const auto platform = makePlatform(kind);
        QString text = platform->trashListCommand(hostile);
        if (command == u"cp"_s)
            text = platform->copyCommand(hostile, other, false);
        else if (command == u"stat"_s)
            text = platform->statCommand(hostile);
        QProcess shell;
        shell.start(u"/bin/sh"_s, {u"-c"_s, text});
        QVERIFY(shell.waitForFinished());
        const QStringList arguments = nulSeparated(shell.readAllStandardOutput());
        QVERIFY2(arguments.contains(hostile), qPrintable(arguments.join(u'|')));
        if (command == u"cp"_s)
            QVERIFY(arguments.contains(other));
        QVERIFY(!QFile::exists(u"/tmp/quorvel-pwned"_s));
    }

    void indexSearchFolder()
    {
        QCOMPARE(makePlatform(PlatformKind::macOS)->indexSearchFolder(u"/"_s), u"/Users"_s);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->indexSearchFolder(u"/"_s), u"/home"_s);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->indexSearchFolder(u"/media/u/X"_s), u"/media/u/X"_s);
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
        QVERIFY(writeFile(file, "payload"));
        ::chmod(QFile::encodeName(file).constData(), 0640);
        const QDateTime old = QDateTime::fromSecsSinceEpoch(1'700'000'000);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        f.close();

        const QString destination = dir.filePath(u"out/restored $(id)"_s);
        QDir().mkpath(dir.filePath(u"out"_s));
        ScopedEnv uidEnv("FAKE_PKEXEC_UID", QByteArray("65534"));
        LinuxAdministratorLauncher launcher(fakePkexec(!throughPkexec));
        QCOMPARE(launcher.runShell(gnuCopyCommand(source, destination, isDirectory), StreamMode::discardAll).exitStatus, 0);

        const QString copied = isDirectory ? destination + u"/inner.txt"_s : destination;
        QCOMPARE(readFile(copied), QByteArray("payload"));
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
        QVERIFY(writeFile(dir.filePath(u"image"_s), QByteArray(8192, 'x')));
        QVERIFY(canReadDevice(dir.filePath(u"image"_s)));
        QVERIFY(!canReadDevice(dir.filePath(u"missing"_s)));
        QVERIFY(!canReadDevice(dir.path()));
        // Agrees with what head(1) can read from the device of "/" (a
        // container may refuse it even to root).
        int status = -1;
        shellOutput(u"head -c 4096 \"$(findmnt -no SOURCE /)\" >/dev/null 2>&1"_s, &status);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->hasFullDiskAccess(), status == 0);
    }

    void toolsComeFromTrustedFoldersOnly()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(toolsFolder + u"/silent"_s, dir.filePath(u"findmnt"_s)));
        ScopedEnv path("PATH", QFile::encodeName(dir.path()) + ':' + qgetenv("PATH"));
        QVERIFY(!ToolPaths::defaultsFor(PlatformKind::gnuLinux).findmnt.startsWith(dir.path()));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
