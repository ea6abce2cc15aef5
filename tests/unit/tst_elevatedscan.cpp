#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/carver.h"
#include "carving/elevatedscan.h"
#include "carving/savecarved.h"
#include "helpers/testsupport.h"
#include "system/commandrunner.h"
#include "system/platform.h"

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 chunk = ElevatedScan::chunkSize;

// ---- An administrator launcher that runs everything as the current user ----

struct LauncherLog {
    int shellRuns = 0;
    int starts = 0;
    QList<qint64> helperPids;
};

struct LauncherSetup {
    // linuxBackend hands every run to the real Linux backend, which runs
    // commands directly when the test runs as root.
    enum class Helper { runScript, replacement, failToStart, linuxBackend };
    Helper helper = Helper::runScript;
    QString replacementScript;   // run instead of the helper, with its arguments
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
        ++m_setup.log->shellRuns;
        if (m_setup.helper == LauncherSetup::Helper::linuxBackend)
            return linuxBackendAdministrator().runShell(command, mode);
        return CommandRunner::processes()->run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, mode);
    }

    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath, const QStringList &arguments,
                                                            QString *error) override
    {
        using Helper = LauncherSetup::Helper;
        ++m_setup.log->starts;
        if (m_setup.helper == Helper::failToStart) {
            *error = QStringLiteral("No such file or directory");
            return nullptr;
        }
        if (m_setup.helper == Helper::linuxBackend)
            return linuxBackendAdministrator().startDetached(scriptPath, arguments, error);
        auto run = std::make_unique<TestRun>();
        run->process.setStandardOutputFile(QProcess::nullDevice());
        run->process.setStandardErrorFile(QProcess::nullDevice());
        const QString script = m_setup.helper == Helper::replacement ? m_setup.replacementScript
                                                                     : QString::fromUtf8(readFile(scriptPath));
        run->process.start(QStringLiteral("/bin/bash"), QStringList{QStringLiteral("-c"), script, QStringLiteral("helper")} + arguments);
        if (!run->process.waitForStarted()) {
            *error = run->process.errorString();
            return nullptr;
        }
        m_setup.log->helperPids << run->process.processId();
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

// ---- Images ----

struct Plant {
    qint64 offset;
    QByteArray bytes;
};

// Pseudo-random filler without 0x42 and 0xFF, so that the two-byte headers
// (BM, FF FB, FF F1) don't turn up by chance and the planted files dominate.
QByteArray imageBytes(qint64 size, const QList<Plant> &plants = {})
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

// One scan in a temporary folder of its own, with a fast poll.
struct ScanRun {
    QTemporaryDir temporary;
    LauncherSetup setup;
    RecordingSink sink;
    ElevatedScanOptions options;

    ScanRun()
    {
        options.temporaryFolder = temporary.path();
        options.pollInterval = 10ms;
    }
    QString image(const QByteArray &bytes, const QString &name = QStringLiteral("disk.img"))
    {
        const QString path = temporary.filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }
    void scan(const QString &device, const QList<FileSignature> &signatures, qint64 totalSize)
    {
        scanDeviceElevated(device, signatures, QStringLiteral("Vol"), totalSize, sink, factoryFor(setup), options);
    }
    QStringList leftOver() const { return workFolders(temporary.path()); }
};

// The helper script on its own in `work`, run by bash as the test user over
// an image of `chunks` chunks, for as long as `ownerPid` lives.
struct HelperRun {
    QTemporaryDir temporary;
    QString work = temporary.filePath(QStringLiteral("work"));
    QProcess helper;

    bool start(qint64 chunks, qint64 ownerPid, const QString &planted = {})
    {
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        const QString script = work + QStringLiteral("/scan_helper.sh");
        if (!writeFile(image, imageBytes(chunks * chunk)) || !writeFile(script, ElevatedScan::helperScript(chunks)))
            return false;
        if (!planted.isEmpty() && !QFile::link(temporary.filePath(QStringLiteral("victim")), work + u'/' + planted))
            return false;
        helper.start(QStringLiteral("/bin/bash"), {script, image, work, QString::number(ownerPid)});
        return helper.waitForStarted();
    }
};

const char childImageVariable[] = "QUORVEL_ELEVATED_CHILD_IMAGE";
const char childTemporaryVariable[] = "QUORVEL_ELEVATED_CHILD_TMP";

// Stands in for the program in the kill test: scans the image, tells the parent
// the helper's pid, and hangs in the first progress step (chunk 0 still
// present, so the helper sits in its wait loop) until it is killed.
int runChildScan()
{
    RecordingSink sink;
    sink.onProgress = [] {
        std::printf("PROGRESS\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(3600);
    };
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
        QTest::addRow("exactly one chunk") << chunk << qint64(1);
        QTest::addRow("one byte over") << chunk + 1 << qint64(2);
        QTest::addRow("past 1 TiB: no cap") << 102400 * chunk + 1 << qint64(102401);
    }
    void chunkLimit()
    {
        QFETCH(qint64, totalSize);
        QFETCH(qint64, expected);
        QCOMPARE(ElevatedScan::chunkLimit(totalSize), expected);
    }

    // The names the script's printf '%06d' gives, past six digits too.
    void chunkFileNameMatchesTheScript()
    {
        for (const qint64 index : {qint64(7), qint64(1'000'000)})
            QCOMPARE(ElevatedScan::chunkFileName(index),
                     u"chunk_"_s + shellOutput(QStringLiteral("printf '%06d' %1").arg(index)) + u".bin"_s);
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
        HelperRun run;
        const QString victim = run.temporary.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "precious"));
        QVERIFY(run.start(2, QCoreApplication::applicationPid(), planted));
        // Play the program's part: consume each chunk once it is announced,
        // and only then (consuming the planted link itself would hide it).
        QElapsedTimer timer;
        timer.start();
        while (run.helper.state() != QProcess::NotRunning && timer.elapsed() < 10000) {
            bool announced = false;
            const int index = readFile(run.work + QStringLiteral("/ready.txt")).trimmed().toInt(&announced);
            if (announced)
                QFile::remove(run.work + QString::asprintf("/chunk_%06d.bin", index));
            run.helper.waitForFinished(50);
        }
        QVERIFY2(run.helper.state() == QProcess::NotRunning, "the helper went on");
        QCOMPARE(readFile(victim), QByteArray("precious"));
    }

    // The helper copies chunk 0, waits for it to be consumed, and must end by
    // itself within a few seconds whatever way the program goes away, writing
    // nothing more.
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
        QProcess owner;
        owner.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
        QVERIFY(owner.waitForStarted());
        const auto endOwner = qScopeGuard([&] {
            owner.kill();
            owner.waitForFinished();
        });
        HelperRun run;
        QVERIFY(run.start(3, owner.processId()));
        const QString work = run.work;
        QTRY_COMPARE_WITH_TIMEOUT(readFile(work + QStringLiteral("/ready.txt")), QByteArray("0\n"), 5000);
        QVERIFY(QFile::exists(work + QStringLiteral("/chunk_000000.bin")));
        // As if an earlier chunk had not been consumed in time.
        QVERIFY(writeFile(work + QStringLiteral("/chunk_000005.bin"), "left over"));

        if (event == u"kill"_s) {
            owner.kill();
            QVERIFY(owner.waitForFinished());
        } else if (event == u"remove"_s) {
            QVERIFY(QDir(work).removeRecursively());
        } else if (event == u"replace"_s) {
            QVERIFY(QDir().rename(work, work + QStringLiteral(".old")));
            QVERIFY(writeFile(work + QStringLiteral("/chunk_000000.bin"), "not the helper's"));
        } else {
            QVERIFY(writeFile(work + QStringLiteral("/stop"), {}));
        }
        QVERIFY2(run.helper.waitForFinished(3000), "the helper went on");

        // The helper removes its chunks when it quits, but touches nothing in a
        // folder that merely has the work folder's name.
        if (event == u"replace"_s) {
            QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"chunk_000000.bin"});
            QCOMPARE(readFile(work + QStringLiteral("/chunk_000000.bin")), QByteArray("not the helper's"));
        } else {
            const QStringList left = QDir(work).entryList({QStringLiteral("chunk_*")}, QDir::Files);
            QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
        }
        if (event == u"kill"_s || event == u"stop"_s)
            QCOMPARE(readFile(work + QStringLiteral("/ready.txt")), QByteArray("0\n"));
    }

    void progressSteps_data()
    {
        QTest::addColumn<qint64>("totalSize");
        QTest::addColumn<QList<quint64>>("bytes");
        QTest::addColumn<std::optional<double>>("lastFraction");
        QTest::addColumn<QString>("firstText");
        const qint64 size = chunk + 2 * MiB;
        QTest::addRow("known size")
            << size << QList<quint64>{quint64(chunk), quint64(size)} << std::optional<double>(1.0)
            << QStringLiteral("Scanning Vol: 10.5 MB / 12.6 MB — 1 files found");
        QTest::addRow("unknown size: no fraction, no total")
            << qint64(0) << QList<quint64>{quint64(chunk), quint64(size)} << std::optional<double>()
            << QStringLiteral("Scanning Vol: 10.5 MB — 1 files found");
        QTest::addRow("chunk limit stops before the device ends")
            << chunk << QList<quint64>{quint64(chunk)} << std::optional<double>(1.0)
            << QStringLiteral("Scanning Vol: 10.5 MB / 10.5 MB — 1 files found");
    }
    void progressSteps()
    {
        QFETCH(qint64, totalSize);
        QFETCH(QList<quint64>, bytes);
        QFETCH(std::optional<double>, lastFraction);
        QFETCH(QString, firstText);
        ScanRun run;
        const QString image = run.image(imageBytes(chunk + 2 * MiB, {{500, jpegBytes(100)}, {chunk + 500, jpegBytes(100)}}));
        run.scan(image, catalogueRows({QStringLiteral("JPEG")}), totalSize);
        QCOMPARE(run.sink.errors, QStringList());
        QList<quint64> seen;
        for (const auto &step : std::as_const(run.sink.progress)) {
            seen << step.bytes;
            QCOMPARE(step.fraction.has_value(), lastFraction.has_value());
        }
        QCOMPARE(seen, bytes);
        QCOMPARE(run.sink.progress.last().fraction, lastFraction);
        QCOMPARE(run.sink.progress.first().text, firstText);
        QCOMPARE(run.sink.hits.size(), bytes.size());
        QCOMPARE(run.leftOver(), QStringList());
    }

    // While the scan runs, the work folder belongs to this user alone, even
    // under an empty umask, and holds the script as written.
    void workFolderIsPrivate()
    {
        ScanRun run;
        const QString image = run.image(imageBytes(2 * MiB));
        QString folder;
        struct stat status {};
        QByteArray script;
        run.sink.onProgress = [&] {
            const QStringList found = run.leftOver();
            if (found.size() != 1)
                return;
            folder = run.temporary.filePath(found.first());
            ::lstat(QFile::encodeName(folder).constData(), &status);
            script = readFile(folder + QStringLiteral("/scan_helper.sh"));
        };
        const mode_t umask = ::umask(0);
        run.scan(image, {}, 2 * MiB);
        ::umask(umask);
        QVERIFY(!folder.isEmpty());
        QVERIFY(S_ISDIR(status.st_mode));
        QCOMPARE(status.st_mode & 07777, mode_t(0700));
        QCOMPARE(status.st_uid, ::geteuid());
        QCOMPARE(script, ElevatedScan::helperScript(1));
        QCOMPARE(run.leftOver(), QStringList());
    }

    // Ways a scan ends without carving anything: the helper can't be
    // started, or ends at once (the password was refused). It returns at once
    // and leaves neither the work folder nor a running helper behind.
    void scanEndsWithoutCarving_data()
    {
        QTest::addColumn<int>("helper");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("errors");
        const QStringList scanning{QStringLiteral("Scanning Vol with administrator privileges...")};
        QTest::addRow("password refused: the helper exits at once")
            << int(LauncherSetup::Helper::replacement) << QStringLiteral("exit 0") << scanning << QStringList();
        QTest::addRow("helper can't be launched")
            << int(LauncherSetup::Helper::failToStart) << QString() << QStringList()
            << QStringList{QStringLiteral("Failed to launch elevated scan: No such file or directory")};
        QTest::addRow("no folder for the script")
            << -1 << QString() << QStringList() << QStringList{QStringLiteral("Failed to create helper script: Not a directory")};
    }
    void scanEndsWithoutCarving()
    {
        QFETCH(int, helper);
        QFETCH(QString, replacement);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, errors);
        ScanRun run;
        const QString image = run.image(imageBytes(MiB, {{0, jpegBytes(100)}}));
        if (helper < 0) {
            run.options.temporaryFolder = run.temporary.filePath(QStringLiteral("a-file"));
            QVERIFY(writeFile(run.options.temporaryFolder, "x"));
        } else {
            run.setup.helper = LauncherSetup::Helper(helper);
            run.setup.replacementScript = replacement;
        }
        QElapsedTimer timer;
        timer.start();
        run.scan(image, defaultSignatures(), MiB);
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(run.sink.statuses, statuses);
        QCOMPARE(run.sink.errors, errors);
        QVERIFY(run.sink.hits.isEmpty() && run.sink.progress.isEmpty());
        QCOMPARE(run.setup.log->starts, helper < 0 ? 0 : 1);
        QCOMPARE(run.leftOver(), QStringList());
        for (const qint64 pid : std::as_const(run.setup.log->helperPids))
            QVERIFY2(waitUntilGone(pid, 3000), "the helper went on");
    }

    // Chunks still in the folder when DONE comes (the program was slower than
    // the helper's wait) are complete: they are carved, not dropped.
    void chunksLeftAtDoneAreCarved()
    {
        ScanRun run;
        run.setup.helper = LauncherSetup::Helper::replacement;
        run.setup.replacementScript = QStringLiteral(R"(cd "$2" || exit 1
head -c 20000 /dev/zero > c && printf '\377\330\377\340' >> c && head -c 200 /dev/zero >> c && printf '\377\331' >> c
cp c chunk_000000.bin && truncate -s 10485760 chunk_000000.bin && mv c chunk_000001.bin
echo DONE > r && mv r ready.txt
sleep 20)");
        run.scan(QStringLiteral("/dev/null"), defaultSignatures(), chunk + 20206);
        QCOMPARE(run.sink.errors, QStringList());
        QCOMPARE(describeHits(run.sink.hits),
                 (QStringList{describeHit(20000, QStringLiteral("JPEG"), 206, CarvedFileHealth::good),
                              describeHit(chunk + 20000, QStringLiteral("JPEG"), 206, CarvedFileHealth::good)}));
        QCOMPARE(run.leftOver(), QStringList());
        QVERIFY(waitUntilGone(run.setup.log->helperPids.value(0), 3000));
    }

    void cancelMidScan()
    {
        ScanRun run;
        const QString image = run.image(imageBytes(3 * chunk));
        run.sink.cancelWhen = [&] { return !run.sink.progress.isEmpty(); };
        run.scan(image, {}, 3 * chunk);
        QCOMPARE(run.sink.progress.size(), 1);
        QCOMPARE(run.sink.statuses.last(), QStringLiteral("Scan cancelled by user"));
        QVERIFY2(waitUntilGone(run.setup.log->helperPids.value(0), 3000), "the helper went on");
        QCOMPARE(QDir(run.temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"disk.img"});
    }

    // The program dies (SIGKILL) while the helper waits for chunk 0 to be
    // consumed: nothing deletes the chunks now, so the helper must notice and
    // end by itself, removing its chunk and copying nothing more.
    void helperEndsWhenTheProgramIsKilled()
    {
        QTemporaryDir temporary;
        const QString image = temporary.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, imageBytes(3 * chunk)));
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
        const QStringList folders = workFolders(temporary.path());
        QCOMPARE(folders.size(), 1);
        const QString work = temporary.filePath(folders.first());

        ::kill(pid_t(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished());
        QVERIFY2(waitUntilGone(match.captured(1).toLongLong(), 3000), "the helper outlived the program");
        const QStringList chunks = QDir(work).entryList({QStringLiteral("chunk_*")}, QDir::Files);
        QVERIFY2(chunks.isEmpty(), qPrintable(chunks.join(u' ')));
        QVERIFY(readFile(work + QStringLiteral("/ready.txt")) != QByteArray("DONE\n"));
    }

    // Saving elevated hits: one administrator run for several hits in several
    // chunks, fetching only the chunks that hold them, into a private folder
    // that goes away with the source.
    void byteSourceFetchesOnlyNeededChunksOnce()
    {
        ScanRun run;
        const QByteArray bytes = imageBytes(3 * chunk + MiB);
        const QString image = run.image(bytes, QStringLiteral("dev'ice.img"));
        auto source = std::make_unique<ElevatedByteSource>(image, factoryFor(run.setup), run.temporary.path());
        const QList<ByteSource::Range> ranges = {
            {100, 5000}, {chunk - 32, 32}, {3 * chunk + 7, MiB - 7}, {2 * MiB, 300},
        };
        QString error;
        QVERIFY2(source->prepare(ranges, &error), qPrintable(error));
        const QString folder = source->fetchFolder();
        QCOMPARE(QDir(folder).entryList(QDir::Files), (QStringList{"chunk_000000.bin", "chunk_000003.bin"}));
        struct stat status {};
        QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0700));
        QCOMPARE(status.st_uid, ::geteuid());
        for (const ByteSource::Range &range : ranges) {
            QByteArray out;
            QVERIFY2(source->read(range.offset, range.length, &out, &error), qPrintable(error));
            QCOMPARE(out, bytes.mid(qsizetype(range.offset), qsizetype(range.length)));
        }
        QCOMPARE(run.setup.log->shellRuns, 1);

        // A range nobody prepared is fetched on its own; one past the end fails.
        QByteArray out;
        QVERIFY(source->read(chunk + 10, 10, &out, &error));
        QCOMPARE(out, bytes.mid(chunk + 10, 10));
        QCOMPARE(run.setup.log->shellRuns, 2);
        QVERIFY(!source->read(quint64(bytes.size()) - 5, 10, &out, &error));
        QVERIFY(!error.isEmpty());

        // A new batch drops the chunks it no longer needs.
        QVERIFY(source->prepare({{chunk + 5, 5}}, &error));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"chunk_000001.bin"});
        QCOMPARE(run.setup.log->shellRuns, 2);
        source.reset();
        QVERIFY(!QFileInfo::exists(folder));
    }

    // Saving many elevated hits must not copy most of the device into the
    // temporary folder: the chunks are fetched batch by batch, within half
    // the free space, and removed after each batch; without the room for
    // even one batch nothing is fetched at all.
    void savingFetchesInBoundedBatches_data()
    {
        QTest::addColumn<qint64>("freeSpace");
        QTest::addColumn<int>("administratorRuns");
        QTest::addColumn<int>("saved");
        QTest::addRow("two chunks a batch") << 4 * chunk << 3 << 6;
        QTest::addRow("no room for a chunk") << chunk / 2 << 0 << 0;
    }

    void savingFetchesInBoundedBatches()
    {
        QFETCH(qint64, freeSpace);
        QFETCH(int, administratorRuns);
        QFETCH(int, saved);
        ScanRun run;
        const QByteArray jpeg = wholeJpegBytes(3000);
        QList<Plant> plants;
        for (qint64 i = 0; i < 6; ++i)
            plants.append({i * chunk + 1000 * (i + 1), jpeg});
        const QString image = run.image(imageBytes(6 * chunk, plants));
        const auto source = std::make_shared<ElevatedByteSource>(image, factoryFor(run.setup), run.temporary.path());
        source->freeSpace = [freeSpace] { return freeSpace; };
        QList<CarvedFile> hits;
        for (const Plant &plant : std::as_const(plants)) {
            CarvedFile hit;
            hit.signatureType = QStringLiteral("JPEG");
            hit.fileExtension = QStringLiteral("jpg");
            hit.offset = quint64(plant.offset);
            hit.estimatedSize = 100;
            hit.data = CarvedData{source, hit.offset, 100, jpeg.left(32)};
            hit.verification.state = Verification::State::verified;
            hit.verification.length = jpeg.size();
            hits.append(hit);
        }
        const QString out = run.temporary.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));

        const SaveCounts counts = saveCarvedFiles(hits, out);
        QCOMPARE(counts.saved, saved);
        QCOMPARE(counts.failed, 6 - saved);
        QCOMPARE(run.setup.log->shellRuns, administratorRuns);
        const QString fetched = source->fetchFolder();
        QCOMPARE(fetched.isEmpty(), administratorRuns == 0);
        if (!fetched.isEmpty())
            QCOMPARE(QDir(fetched).entryList(QDir::Files), QStringList());
        for (const QFileInfo &file : QDir(out).entryInfoList(QDir::Files))
            QCOMPARE(readFile(file.filePath()), jpeg);
        if (saved == 0) {
            const SaveResult refused = saveCarvedFile(hits.first(), out);
            QVERIFY(!refused && refused.error->description.contains(QStringLiteral("free space")));
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(childImageVariable))
        return runChildScan();
    TestElevatedScan test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_elevatedscan.moc"
