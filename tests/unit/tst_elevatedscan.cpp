#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/elevatedscan.h"
#include "carving/scansink.h"
#include "model/bytecount.h"
#include "system/commandrunner.h"
#include "system/platform.h"

using namespace std::chrono_literals;

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 chunk = ElevatedScan::chunkSize;

// ---- An administrator launcher that runs everything as the current user ----

struct LauncherLog {
    std::mutex mutex;
    int shellRuns = 0;
    int starts = 0;
    QStringList commands;
    QList<qint64> helperPids;
};

struct LauncherSetup {
    // linuxBackend hands every run to the real Linux backend, which runs
    // commands directly when the test runs as root.
    enum class Helper { runScript, exitAtOnce, failToStart, replacement, linuxBackend };
    Helper helper = Helper::runScript;
    QByteArray replacementScript;   // run as bash -c TEXT helper DEVICE FOLDER PID
    std::function<void(qint64 pid)> onHelperStarted;
    std::shared_ptr<LauncherLog> log = std::make_shared<LauncherLog>();
};

class TestRun final : public DetachedAdministratorRun
{
public:
    QProcess process;
    ~TestRun() override
    {
        process.kill();
        process.waitForFinished(1000);
    }
    bool isRunning() override
    {
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(0);
        return process.state() != QProcess::NotRunning;
    }
    void terminate() override { process.terminate(); }
};

AdministratorLauncher &linuxBackendAdministrator()
{
    static const std::unique_ptr<Platform> backend = makePlatform(PlatformKind::gnuLinux);
    return backend->administrator();
}

class TestLauncher final : public AdministratorLauncher
{
public:
    explicit TestLauncher(LauncherSetup setup) : m_setup(std::move(setup)) {}

    ToolResult runShell(const QString &command, StreamMode mode) override
    {
        {
            std::lock_guard lock(m_setup.log->mutex);
            ++m_setup.log->shellRuns;
            m_setup.log->commands << command;
        }
        if (m_setup.helper == LauncherSetup::Helper::linuxBackend)
            return linuxBackendAdministrator().runShell(command, mode);
        QProcess process;
        if (mode == StreamMode::combined)
            process.setProcessChannelMode(QProcess::MergedChannels);
        else
            process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        ToolResult result;
        result.launched = process.waitForStarted();
        if (!result.launched) {
            result.startError = process.errorString();
            return result;
        }
        process.waitForFinished(-1);
        result.output = QString::fromUtf8(process.readAllStandardOutput());
        result.exitStatus = process.exitCode();
        return result;
    }

    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath, const QStringList &arguments,
                                                            QString *error) override
    {
        using Helper = LauncherSetup::Helper;
        {
            std::lock_guard lock(m_setup.log->mutex);
            ++m_setup.log->starts;
        }
        if (m_setup.helper == Helper::failToStart) {
            *error = QStringLiteral("No such file or directory");
            return nullptr;
        }
        if (m_setup.helper == Helper::linuxBackend)
            return linuxBackendAdministrator().startDetached(scriptPath, arguments, error);
        auto run = std::make_unique<TestRun>();
        run->process.setStandardOutputFile(QProcess::nullDevice());
        run->process.setStandardErrorFile(QProcess::nullDevice());
        switch (m_setup.helper) {
        case Helper::runScript:
            run->process.start(QStringLiteral("/bin/bash"), QStringList{scriptPath} + arguments);
            break;
        case Helper::exitAtOnce:
            run->process.start(QStringLiteral("/bin/true"), {});
            break;
        case Helper::replacement:
            run->process.start(QStringLiteral("/bin/bash"),
                               QStringList{QStringLiteral("-c"), QString::fromUtf8(m_setup.replacementScript),
                                           QStringLiteral("helper")} + arguments);
            break;
        case Helper::failToStart:
        case Helper::linuxBackend:
            break;
        }
        if (!run->process.waitForStarted()) {
            *error = run->process.errorString();
            return nullptr;
        }
        {
            std::lock_guard lock(m_setup.log->mutex);
            m_setup.log->helperPids << run->process.processId();
        }
        if (m_setup.onHelperStarted)
            m_setup.onHelperStarted(run->process.processId());
        return run;
    }

private:
    LauncherSetup m_setup;
};

AdministratorLauncherFactory factoryFor(const LauncherSetup &setup)
{
    return [setup] { return std::make_unique<TestLauncher>(setup); };
}

// ---- A sink that records everything ----

class RecordingSink final : public ScanSink
{
public:
    struct Progress {
        quint64 bytes = 0;
        std::optional<double> fraction;
        QString text;
    };

    std::function<bool(const RecordingSink &)> cancelWhen;
    std::function<void(const RecordingSink &)> onProgress;
    QStringList statuses;
    QStringList errors;
    QList<CarvedFile> hits;
    QList<Progress> progress;

    bool shouldCancel() const override { return cancelWhen && cancelWhen(*this); }
    void postStatus(const QString &text) override { statuses << text; }
    void postError(const QString &text) override { errors << text; }
    void postCarvedFiles(QList<CarvedFile> files) override { hits << files; }
    void postProgress(quint64 bytes, std::optional<double> fraction, std::function<QString(qsizetype)> text) override
    {
        progress << Progress{bytes, fraction, text(hits.size())};
        if (onProgress)
            onProgress(*this);
    }
};

// ---- Images ----

struct Plant {
    qint64 offset;
    QByteArray bytes;
};

QByteArray jpeg(int bodyLength)
{
    return QByteArray::fromHex("FFD8FFE0") + QByteArray(bodyLength, '\x11') + QByteArray::fromHex("FFD9");
}

// Pseudo-random filler without 0x42 and 0xFF, so that the two-byte headers
// (BM, FF FB, FF F1) don't turn up by chance and the planted files dominate.
QByteArray imageBytes(qint64 size, const QList<Plant> &plants)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    QRandomGenerator random(1234);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    for (char &c : bytes) {
        if (c == '\x42' || c == '\xFF')
            c = '\x43';
    }
    for (const Plant &plant : plants)
        bytes.replace(qsizetype(plant.offset), plant.bytes.size(), plant.bytes);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList workFolders(const QString &parent)
{
    return QDir(parent).entryList({QStringLiteral("QuorvelRecovery_*")}, QDir::AllEntries | QDir::Hidden);
}

// A process that has ended, reaped or not (a zombie under a parent that never
// reaps counts as gone).
bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

bool waitUntilGone(qint64 pid, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!processGone(pid)) {
        if (timer.elapsed() > milliseconds)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QList<FileSignature> signaturesNamed(const QStringList &names)
{
    QList<FileSignature> chosen;
    for (const FileSignature &signature : defaultSignatures()) {
        if (names.contains(signature.typeName))
            chosen << signature;
    }
    return chosen;
}

const char childImageVariable[] = "QUORVEL_ELEVATED_CHILD_IMAGE";
const char childTemporaryVariable[] = "QUORVEL_ELEVATED_CHILD_TMP";

// Stands in for the program in the kill test: scans the image, tells the parent
// the helper's pid, and hangs in the first progress step (chunk 0 still
// present, so the helper sits in its wait loop) until it is killed.
int runChildScan()
{
    class HangingSink final : public ScanSink
    {
    public:
        bool shouldCancel() const override { return false; }
        void postStatus(const QString &) override {}
        void postError(const QString &text) override { std::printf("ERROR %s\n", qPrintable(text)); }
        void postCarvedFiles(QList<CarvedFile>) override {}
        void postProgress(quint64, std::optional<double>, std::function<QString(qsizetype)>) override
        {
            std::printf("PROGRESS\n");
            std::fflush(stdout);
            for (;;)
                QThread::sleep(3600);
        }
    } sink;
    LauncherSetup setup;
    setup.onHelperStarted = [](qint64 pid) {
        std::printf("HELPER %lld\n", pid);
        std::fflush(stdout);
    };
    const QString image = qEnvironmentVariable(childImageVariable);
    ElevatedScanOptions options;
    options.temporaryFolder = qEnvironmentVariable(childTemporaryVariable);
    scanDeviceElevated(image, {}, QStringLiteral("Child"), QFileInfo(image).size(), sink, factoryFor(setup), options);
    return 0;
}

} // namespace

class TestElevatedScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void chunkLimit_data()
    {
        QTest::addColumn<qint64>("totalSize");
        QTest::addColumn<qint64>("expected");
        QTest::addRow("unknown size: to the device's end") << qint64(0) << qint64(0);
        QTest::addRow("negative size counts as unknown") << qint64(-1) << qint64(0);
        QTest::addRow("one byte") << qint64(1) << qint64(1);
        QTest::addRow("exactly one chunk") << qint64(10'485'760) << qint64(1);
        QTest::addRow("one byte over") << qint64(10'485'761) << qint64(2);
        QTest::addRow("500 GB") << qint64(500'000'000'000) << qint64(47684);
        QTest::addRow("1 TiB and a byte: no cap") << qint64(1'073'741'824'001) << qint64(102401);
    }
    void chunkLimit()
    {
        QFETCH(qint64, totalSize);
        QFETCH(qint64, expected);
        QCOMPARE(ElevatedScan::chunkLimit(totalSize), expected);
    }

    void chunkFileName_data()
    {
        QTest::addColumn<qint64>("index");
        QTest::addColumn<QString>("expected");
        QTest::addRow("first") << qint64(0) << QStringLiteral("chunk_000000.bin");
        QTest::addRow("seven") << qint64(7) << QStringLiteral("chunk_000007.bin");
        QTest::addRow("six digits") << qint64(999999) << QStringLiteral("chunk_999999.bin");
        QTest::addRow("grows past six digits") << qint64(102399) << QStringLiteral("chunk_102399.bin");
        QTest::addRow("seven digits") << qint64(1000000) << QStringLiteral("chunk_1000000.bin");
    }
    void chunkFileName()
    {
        QFETCH(qint64, index);
        QFETCH(QString, expected);
        QCOMPARE(ElevatedScan::chunkFileName(index), expected);
    }

    void workFolderNameIsPrefixAndUpperCaseUuid()
    {
        static const QRegularExpression form(
            QStringLiteral("^QuorvelRecovery_[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        const QString name = ElevatedScan::workFolderName();
        QVERIFY2(form.match(name).hasMatch(), qPrintable(name));
        QVERIFY(name != ElevatedScan::workFolderName());
    }

    // The protocol's fixed points in the script: its arguments, the limits,
    // the chunk names, the 30 s wait and the end mark.
    void helperScriptKeepsTheProtocol()
    {
        const QByteArray script = ElevatedScan::helperScript(ElevatedScan::chunkLimit(500'000'000'000));
        QVERIFY(script.startsWith("#!/bin/bash\nDEVICE=\"$1\"\nOUTDIR=\"$2\"\n"));
        QVERIFY(script.contains("\nMAX=47684\nBS=10485760\n"));
        QVERIFY(script.contains("OUTFILE=\"chunk_$(printf '%06d' $i).bin\""));
        QVERIFY(script.contains("while [ -f \"$OUTFILE\" ] && [ $WAITED -lt 300 ]; do"));
        QVERIFY(script.endsWith("note DONE"));
        QVERIFY(!script.endsWith("\n"));
    }

    // Root writes chunks and ready.txt into a folder this user owns, so any
    // of the user's processes can plant entries there while it runs. A link
    // in place of a chunk or of ready.txt must make the write fail, never
    // reach the file it points to.
    void helperNeverFollowsPlantedLinks_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addRow("chunk") << QStringLiteral("chunk_000000.bin");
        QTest::addRow("later chunk") << QStringLiteral("chunk_000001.bin");
        QTest::addRow("ready file") << QStringLiteral("ready.txt");
    }
    void helperNeverFollowsPlantedLinks()
    {
        QFETCH(QString, planted);
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(2 * chunk, {})));
        const QString victim = temporary.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "precious"));
        const QString work = temporary.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkdir(work));
        QVERIFY(QFile::link(victim, work + QLatin1Char('/') + planted));
        const QString script = work + QStringLiteral("/scan_helper.sh");
        QVERIFY(writeFile(script, ElevatedScan::helperScript(2)));

        QProcess helper;
        helper.start(QStringLiteral("/bin/bash"),
                     {script, image, work, QString::number(QCoreApplication::applicationPid())});
        QVERIFY(helper.waitForStarted());
        // Play the program's part: consume each chunk as it is announced.
        QElapsedTimer timer;
        timer.start();
        while (helper.state() != QProcess::NotRunning && timer.elapsed() < 10000) {
            for (const QString &name : QDir(work).entryList({QStringLiteral("chunk_*.bin")}, QDir::Files))
                QFile::remove(work + QLatin1Char('/') + name);
            helper.waitForFinished(50);
        }
        QVERIFY2(helper.state() == QProcess::NotRunning, "the helper went on");
        QCOMPARE(readFile(victim), QByteArray("precious"));
    }

    // The helper on its own, run by bash as the test user: it copies chunk 0,
    // waits for it to be consumed, and must end by itself within a few seconds
    // whatever way the program goes away, writing nothing more.
    void helperStopsByItself_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addRow("program killed") << QStringLiteral("kill");
        QTest::addRow("work folder removed") << QStringLiteral("remove");
        QTest::addRow("work folder replaced") << QStringLiteral("replace");
        QTest::addRow("stop file") << QStringLiteral("stop");
    }
    void helperStopsByItself()
    {
        QFETCH(QString, event);
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(3 * chunk, {})));
        const QString work = temporary.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkdir(work));
        const QString script = work + QStringLiteral("/scan_helper.sh");
        QVERIFY(writeFile(script, ElevatedScan::helperScript(3)));

        QProcess owner;
        owner.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
        QVERIFY(owner.waitForStarted());
        QProcess helper;
        helper.start(QStringLiteral("/bin/bash"), {script, image, work, QString::number(owner.processId())});
        QVERIFY(helper.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(work + QStringLiteral("/ready.txt")), QByteArray("0\n"), 5000);
        QVERIFY(QFile::exists(work + QStringLiteral("/chunk_000000.bin")));
        // As if an earlier chunk had not been consumed in time.
        QVERIFY(writeFile(work + QStringLiteral("/chunk_000005.bin"), "left over"));

        if (event == QLatin1String("kill")) {
            owner.kill();
            QVERIFY(owner.waitForFinished());
        } else if (event == QLatin1String("remove")) {
            QVERIFY(QDir(work).removeRecursively());
        } else if (event == QLatin1String("replace")) {
            QVERIFY(QDir().rename(work, work + QStringLiteral(".old")));
            QVERIFY(QDir().mkdir(work));
            QVERIFY(writeFile(work + QStringLiteral("/chunk_000000.bin"), "not the helper's"));
        } else {
            QVERIFY(writeFile(work + QStringLiteral("/stop"), {}));
        }
        QVERIFY2(helper.waitForFinished(3000), "the helper went on");

        // The helper removes its chunks when it quits, but touches nothing in a
        // folder that merely has the work folder's name.
        if (event == QLatin1String("replace")) {
            QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"chunk_000000.bin"});
            QCOMPARE(readFile(work + QStringLiteral("/chunk_000000.bin")), QByteArray("not the helper's"));
        } else {
            const QStringList left = QDir(work).entryList({QStringLiteral("chunk_*")}, QDir::Files);
            QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
        }
        if (event != QLatin1String("remove") && event != QLatin1String("replace"))
            QCOMPARE(readFile(work + QStringLiteral("/ready.txt")), QByteArray("0\n"));
        owner.kill();
        owner.waitForFinished();
    }

    void progressSteps_data()
    {
        QTest::addColumn<qint64>("imageSize");
        QTest::addColumn<qint64>("totalSize");
        QTest::addColumn<QList<quint64>>("bytes");
        QTest::addColumn<QList<std::optional<double>>>("fractions");
        QTest::addColumn<QString>("firstText");
        QTest::addColumn<bool>("endsEarly");
        const qint64 size = chunk + 2 * MiB;
        QTest::addRow("known size")
            << size << size << QList<quint64>{quint64(chunk), quint64(size)}
            << QList<std::optional<double>>{double(chunk) / double(size), 1.0}
            << QStringLiteral("Scanning Vol: 10.5 MB / 12.6 MB — 1 files found") << false;
        QTest::addRow("unknown size: no fraction, no total")
            << size << qint64(0) << QList<quint64>{quint64(chunk), quint64(size)}
            << QList<std::optional<double>>{std::nullopt, std::nullopt}
            << QStringLiteral("Scanning Vol: 10.5 MB — 1 files found") << false;
        QTest::addRow("device ends before its stated 1 GB")
            << size << qint64(1'000'000'000) << QList<quint64>{quint64(chunk), quint64(size)}
            << QList<std::optional<double>>{double(chunk) / 1e9, double(size) / 1e9}
            << QStringLiteral("Scanning Vol: 10.5 MB / 1 GB — 1 files found") << true;
        QTest::addRow("chunk limit stops before the device ends")
            << size << qint64(chunk) << QList<quint64>{quint64(chunk)} << QList<std::optional<double>>{1.0}
            << QStringLiteral("Scanning Vol: 10.5 MB / 10.5 MB — 1 files found") << false;
    }
    void progressSteps()
    {
        QFETCH(qint64, imageSize);
        QFETCH(qint64, totalSize);
        QFETCH(QList<quint64>, bytes);
        QFETCH(QList<std::optional<double>>, fractions);
        QFETCH(QString, firstText);
        QFETCH(bool, endsEarly);
        QTemporaryDir temporary;
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(imageSize, {{500, jpeg(100)}, {chunk + 500, jpeg(100)}})));
        LauncherSetup setup;
        RecordingSink sink;
        ElevatedScanOptions options;
        options.temporaryFolder = temporary.path();
        options.pollInterval = 10ms;
        scanDeviceElevated(image, signaturesNamed({QStringLiteral("JPEG")}), QStringLiteral("Vol"), totalSize, sink,
                           factoryFor(setup), options);
        QCOMPARE(sink.errors.size(), endsEarly ? 1 : 0);
        QList<quint64> seenBytes;
        QList<std::optional<double>> seenFractions;
        for (const auto &step : sink.progress) {
            seenBytes << step.bytes;
            seenFractions << step.fraction;
        }
        QCOMPARE(seenBytes, bytes);
        QCOMPARE(seenFractions.size(), fractions.size());
        for (qsizetype n = 0; n < fractions.size(); ++n) {
            QCOMPARE(seenFractions[n].has_value(), fractions[n].has_value());
            if (fractions[n])
                QCOMPARE(*seenFractions[n], *fractions[n]);
        }
        QCOMPARE(sink.progress.first().text, firstText);
        QCOMPARE(sink.hits.size(), bytes.size());
        QCOMPARE(workFolders(temporary.path()), QStringList());
    }

    // While the scan runs, the work folder belongs to this user alone and holds
    // the script as written.
    void workFolderIsPrivate()
    {
        QTemporaryDir temporary;
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(2 * MiB, {})));
        LauncherSetup setup;
        RecordingSink sink;
        QString folder;
        struct stat status {};
        QByteArray script;
        sink.onProgress = [&](const RecordingSink &) {
            const QStringList found = workFolders(temporary.path());
            if (found.size() != 1)
                return;
            folder = found.first();
            ::lstat(QFile::encodeName(temporary.filePath(folder)).constData(), &status);
            script = readFile(temporary.filePath(folder) + QStringLiteral("/scan_helper.sh"));
        };
        ElevatedScanOptions options;
        options.temporaryFolder = temporary.path();
        options.pollInterval = 10ms;
        ::umask(0);
        scanDeviceElevated(image, {}, QStringLiteral("Vol"), 2 * MiB, sink, factoryFor(setup), options);
        ::umask(022);
        QVERIFY2(folder.startsWith(QStringLiteral("QuorvelRecovery_")), qPrintable(folder));
        QVERIFY(S_ISDIR(status.st_mode));
        QCOMPARE(status.st_mode & 07777, mode_t(0700));
        QCOMPARE(status.st_uid, ::geteuid());
        QCOMPARE(script, ElevatedScan::helperScript(1));
        QCOMPARE(workFolders(temporary.path()), QStringList());
    }

    // Ways the helper ends before doing anything, or never starts.
    void scanEndsWithoutChunks_data()
    {
        QTest::addColumn<int>("helper");
        QTest::addColumn<bool>("folderCreatable");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QString>("errorPrefix");
        QTest::addColumn<int>("starts");
        QTest::addRow("password refused: the helper exits at once")
            << int(LauncherSetup::Helper::exitAtOnce) << true
            << QStringList{QStringLiteral("Scanning Vol with administrator privileges...")} << QString() << 1;
        QTest::addRow("helper can't be launched")
            << int(LauncherSetup::Helper::failToStart) << true << QStringList()
            << QStringLiteral("Failed to launch elevated scan: No such file or directory") << 1;
        QTest::addRow("no folder for the script")
            << int(LauncherSetup::Helper::runScript) << false << QStringList()
            << QStringLiteral("Failed to create helper script: Not a directory") << 0;
    }
    void scanEndsWithoutChunks()
    {
        QFETCH(int, helper);
        QFETCH(bool, folderCreatable);
        QFETCH(QStringList, statuses);
        QFETCH(QString, errorPrefix);
        QFETCH(int, starts);
        QTemporaryDir temporary;
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(MiB, {{0, jpeg(100)}})));
        QString parent = temporary.path();
        if (!folderCreatable) {
            parent = temporary.filePath(QStringLiteral("a-file"));
            QVERIFY(writeFile(parent, "x"));
        }
        LauncherSetup setup;
        setup.helper = LauncherSetup::Helper(helper);
        RecordingSink sink;
        ElevatedScanOptions options;
        options.temporaryFolder = parent;
        QElapsedTimer timer;
        timer.start();
        scanDeviceElevated(image, defaultSignatures(), QStringLiteral("Vol"), MiB, sink, factoryFor(setup), options);
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(sink.statuses, statuses);
        QCOMPARE(sink.errors, errorPrefix.isEmpty() ? QStringList() : QStringList{errorPrefix});
        QVERIFY(sink.hits.isEmpty());
        QVERIFY(sink.progress.isEmpty());
        QCOMPARE(setup.log->starts, starts);
        QCOMPARE(workFolders(temporary.path()), QStringList());
    }

    // Chunks still in the folder when DONE comes (the program was slower than
    // the helper's wait) are complete: they are carved, not dropped.
    void chunksLeftAtDoneAreCarved()
    {
        QTemporaryDir temporary;
        LauncherSetup setup;
        setup.helper = LauncherSetup::Helper::replacement;
        setup.replacementScript = R"(cd "$2" || exit 1
head -c 20000 /dev/zero > c && printf '\377\330\377\340' >> c && head -c 200 /dev/zero >> c && printf '\377\331' >> c
head -c 10485760 c > chunk_000000.bin && head -c 10485760 /dev/zero >> chunk_000000.bin
truncate -s 10485760 chunk_000000.bin && mv c chunk_000001.bin
echo DONE > r && mv r ready.txt
sleep 20)";
        RecordingSink sink;
        ElevatedScanOptions options;
        options.temporaryFolder = temporary.path();
        options.pollInterval = 10ms;
        scanDeviceElevated(QStringLiteral("/dev/null"), defaultSignatures(), QStringLiteral("Vol"), chunk + 20206, sink,
                           factoryFor(setup), options);
        QCOMPARE(sink.errors, QStringList());
        QCOMPARE(sink.hits.size(), 2);
        QCOMPARE(sink.hits.at(0).offset, quint64(20000));
        QCOMPARE(sink.hits.at(1).offset, quint64(chunk + 20000));
        QCOMPARE(workFolders(temporary.path()), QStringList());
        QVERIFY(waitUntilGone(setup.log->helperPids.value(0), 3000));
    }

    void cancelMidScan()
    {
        QTemporaryDir temporary;
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(3 * chunk, {})));
        LauncherSetup setup;
        RecordingSink sink;
        sink.cancelWhen = [](const RecordingSink &s) { return !s.progress.isEmpty(); };
        ElevatedScanOptions options;
        options.temporaryFolder = temporary.path();
        options.pollInterval = 10ms;
        scanDeviceElevated(image, {}, QStringLiteral("Vol"), 3 * chunk, sink, factoryFor(setup), options);
        QCOMPARE(sink.progress.size(), 1);
        QCOMPARE(sink.statuses.last(), QStringLiteral("Scan cancelled by user"));
        QCOMPARE(workFolders(temporary.path()), QStringList());
        QVERIFY2(waitUntilGone(setup.log->helperPids.value(0), 3000), "the helper went on");
        QCOMPARE(QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"disk.img"});
    }

    // The program dies (SIGKILL) while the helper waits for chunk 0 to be
    // consumed: nothing deletes the chunks now, so the helper must notice and
    // end by itself, removing its chunk and copying nothing more.
    void helperEndsWhenTheProgramIsKilled()
    {
        QTemporaryDir temporary;
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(3 * chunk, {})));
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(childImageVariable), image);
        environment.insert(QString::fromLatin1(childTemporaryVariable), temporary.path());
        program.setProcessEnvironment(environment);
        program.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(program.waitForStarted());
        QByteArray said;
        QElapsedTimer timer;
        timer.start();
        while (!said.contains("PROGRESS") && timer.elapsed() < 15000 && program.state() == QProcess::Running) {
            program.waitForReadyRead(200);
            said += program.readAllStandardOutput();
        }
        QVERIFY2(said.contains("PROGRESS"), said.constData());
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("HELPER (\\d+)")).match(QString::fromLatin1(said));
        QVERIFY(match.hasMatch());
        const qint64 helperPid = match.captured(1).toLongLong();
        const QStringList folders = workFolders(temporary.path());
        QCOMPARE(folders.size(), 1);
        const QString work = temporary.filePath(folders.first());

        ::kill(pid_t(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished());
        QVERIFY2(waitUntilGone(helperPid, 3000), "the helper outlived the program");
        const QStringList chunks = QDir(work).entryList({QStringLiteral("chunk_*")}, QDir::Files);
        QVERIFY2(chunks.isEmpty(), qPrintable(chunks.join(u' ')));
        QVERIFY(readFile(work + QStringLiteral("/ready.txt")) != QByteArray("DONE\n"));
    }

    // Saving elevated hits: one administrator run for several hits in several
    // chunks, fetching only the chunks that hold them, into a private folder
    // that goes away with the source.
    void byteSourceFetchesOnlyNeededChunksOnce()
    {
        QTemporaryDir temporary;
        const QByteArray bytes = imageBytes(3 * chunk + MiB, {});
        const QString image = temporary.filePath(QStringLiteral("dev'ice.img"));
        QVERIFY(writeFile(image, bytes));
        LauncherSetup setup;
        auto source = std::make_unique<ElevatedByteSource>(image, factoryFor(setup), temporary.path());
        const QList<ByteSource::Range> ranges = {
            {100, 5000}, {chunk - 32, 32}, {3 * chunk + 7, MiB - 7}, {2 * MiB, 300},
        };
        QString error;
        QVERIFY2(source->prepare(ranges, &error), qPrintable(error));
        QCOMPARE(setup.log->shellRuns, 1);
        const QString folder = source->fetchFolder();
        QStringList fetched = QDir(folder).entryList(QDir::Files);
        QCOMPARE(fetched, (QStringList{QStringLiteral("chunk_000000.bin"), QStringLiteral("chunk_000003.bin")}));
        struct stat status {};
        QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0700));
        QCOMPARE(status.st_uid, ::geteuid());

        for (const ByteSource::Range &range : ranges) {
            QByteArray out;
            QVERIFY2(source->read(range.offset, range.length, &out, &error), qPrintable(error));
            QCOMPARE(out, bytes.mid(qsizetype(range.offset), qsizetype(range.length)));
        }
        QCOMPARE(setup.log->shellRuns, 1);

        // A range nobody prepared is fetched on its own; one past the end fails.
        QByteArray out;
        QVERIFY(source->read(chunk + 10, 10, &out, &error));
        QCOMPARE(out, bytes.mid(chunk + 10, 10));
        QCOMPARE(setup.log->shellRuns, 2);
        QVERIFY(!source->read(quint64(bytes.size()) - 5, 10, &out, &error));
        QVERIFY(!error.isEmpty());

        // A new batch drops the chunks it no longer needs.
        QVERIFY(source->prepare({{chunk + 5, 5}}, &error));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("chunk_000001.bin")});
        QCOMPARE(setup.log->shellRuns, 2);

        source.reset();
        QVERIFY(!QFileInfo::exists(folder));
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(childImageVariable)) {
        QCoreApplication app(argc, argv);
        return runChildScan();
    }
    QCoreApplication app(argc, argv);
    TestElevatedScan test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_elevatedscan.moc"
