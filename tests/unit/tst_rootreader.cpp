#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "carving/elevatedscan.h"
#include "carving/rootreader.h"
#include "carving/savecarved.h"
#include "helpers/fakeplatform.h"
#include "helpers/testsupport.h"
#include "system/linuxplatform.h"

// The administrator scan: its hits equal the direct scan's of the same bytes
// through both backends, its reader serves hits while it runs and saving
// after it, and the reader ends with the scan and with the program.

namespace {

constexpr qint64 chunk = ElevatedScan::chunkSize;

// Random bytes without 0x42 and 0xFF, so that chance hits stay few, with files
// across the 10 MiB chunk boundaries, a bare header in a chunk's last 4 bytes
// whose file goes on in the next chunk, a header 6 bytes before a 1 MiB step
// ends, and a file longer than any read-ahead.
constexpr qint64 longFileAt = 2 * chunk + 5 * MiB + 4096;
const QByteArray longFile = wholeJpegBytes(19 * MiB, '\x11');

QByteArray boundaryImage()
{
    QByteArray bytes(2 * chunk + 25 * MiB, Qt::Uninitialized);
    QRandomGenerator random(77);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    for (char &c : bytes) {
        if (c == '\x42' || c == '\xFF')
            c = '\x43';
    }
    const auto plant = [&](qint64 at, const QByteArray &file) { bytes.replace(qsizetype(at), file.size(), file); };
    plant(1000, jpegBytes(200, '\x11'));
    plant(MiB - 6, jpegBytes(300, '\x11'));
    plant(chunk - 100, QByteArray::fromHex("89504E470D0A1A0A") + QByteArray(300, '\x22')
                           + QByteArray::fromHex("49454E44AE426082"));
    plant(2 * chunk - 4, QByteArray::fromHex("FFD8FFE0"));
    plant(2 * chunk, QByteArray(200, '\x11') + QByteArray::fromHex("FFD9"));
    plant(2 * chunk + 5000, QByteArray("%PDF-1.4") + QByteArray(1000, 'x') + QByteArray("%%EOF"));
    plant(2 * chunk + 3 * MiB, jpegBytes(5000, '\x11'));
    plant(2 * chunk + 4 * MiB, wholeJpegBytes(600'000, '\x11'));
    plant(longFileAt, longFile);
    return bytes;
}

// Processes whose command line names `marker` (the device a reader serves).
QList<qint64> readersOf(const QString &marker)
{
    QList<qint64> found;
    const QByteArray wanted = QFile::encodeName(marker);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (ok && pid != QCoreApplication::applicationPid() && cmdline.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> words = cmdline.readAll().split('\0');
            if (words.contains(wanted) && words.value(0).endsWith("perl"))
                found << pid;
        }
    }
    return found;
}

const char childImageVariable[] = "QUORVEL_ROOTREADER_CHILD_IMAGE";
const char childServesVariable[] = "QUORVEL_ROOTREADER_CHILD_SERVES";

// Stands in for the program in the death test: scans through the root
// reader and hangs at the first progress step until it is killed.
int runChildScan()
{
    RecordingSink sink;
    sink.onProgress = [] {
        std::printf("PROGRESS\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(3600);
    };
    const auto platform = std::make_shared<FakePlatform>();
    ElevatedScanOptions options;
    options.readerHandsOver = !qEnvironmentVariableIsSet(childServesVariable);
    scanDeviceElevated(qEnvironmentVariable(childImageVariable), defaultSignatures(), QStringLiteral("Child"), 0, sink,
                       administratorsOf(platform), options);
    return 0;
}

struct Scanned {
    RecordingSink sink;
    std::shared_ptr<FakePlatform> platform;
};

} // namespace

class TestRootReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_dir.isValid());
        m_bytes = boundaryImage();
        m_image = m_dir.filePath(QStringLiteral("it's a disk.img"));
        QVERIFY(writeFile(m_image, m_bytes));
    }

    // Both backends, through the test launcher and, as root, on a loop
    // device through the real Linux backend: the same hits as the direct scan
    // of the same bytes, and saving them gives the direct scan's bytes with
    // one more administrator run.
    void hitsEqualTheDirectScan_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("loopDevice");
        QTest::addColumn<bool>("realBackend");
        QTest::addColumn<bool>("handOver");
        QTest::addColumn<qint64>("keepLimit");  // of the helper's chunks; 0: as the free space allows
        const int linux = int(PlatformKind::gnuLinux);
        const int mac = int(PlatformKind::macOS);
        QTest::addRow("root reader") << linux << false << false << true << qint64(0);
        QTest::addRow("root reader serving every read") << linux << false << false << false << qint64(0);
        QTest::addRow("helper protocol") << mac << false << false << true << qint64(0);
        QTest::addRow("helper protocol, little temporary space") << mac << false << false << true << chunk;
        QTest::addRow("helper protocol, temporary folder on the disk") << mac << false << false << true << qint64(-1);
        QTest::addRow("root reader on a loop device, Linux backend") << linux << true << true << true << qint64(0);
        QTest::addRow("root reader serving a loop device") << linux << true << true << false << qint64(0);
        QTest::addRow("helper protocol on a loop device") << mac << true << false << true << qint64(0);
    }
    void hitsEqualTheDirectScan()
    {
        QFETCH(int, kind);
        QFETCH(bool, loopDevice);
        QFETCH(bool, realBackend);
        QFETCH(bool, handOver);
        QFETCH(qint64, keepLimit);
        QString device = m_image;
        QString loop;
        const auto detach = qScopeGuard([&] {
            if (!loop.isEmpty())
                QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), loop});
        });
        if (loopDevice) {
            if (::geteuid() != 0)
                QSKIP("needs root to attach a loop device");
            QProcess losetup;
            losetup.start(QStringLiteral("losetup"), {QStringLiteral("-r"), QStringLiteral("-f"), QStringLiteral("--show"), m_image});
            if (!losetup.waitForFinished() || losetup.exitCode() != 0)
                QSKIP("losetup refused");
            device = loop = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
        }
        const auto fake = std::make_shared<FakePlatform>(PlatformKind(kind));
        const std::shared_ptr<Platform> platform = realBackend ? std::shared_ptr<Platform>(makePlatform(PlatformKind::gnuLinux))
                                                               : std::shared_ptr<Platform>(fake);
        RecordingSink direct;
        scanRawFile(device, defaultSignatures(), QStringLiteral("Disk"), direct);
        RecordingSink elevated;
        ElevatedScanOptions options;
        options.temporaryFolder = m_dir.path();
        options.pollInterval = std::chrono::milliseconds(10);
        options.readerHandsOver = handOver;
        options.helperKeepLimit = keepLimit;
        scanDeviceElevated(device, defaultSignatures(), QStringLiteral("Disk"), m_bytes.size(), elevated,
                           administratorsOf(platform), options);

        QCOMPARE(elevated.errors, QStringList());
        QCOMPARE(elevated.statuses, QStringList{QStringLiteral("Scanning Disk with administrator privileges...")});
        QCOMPARE(elevated.lastScanned(), quint64(m_bytes.size()));
        QCOMPARE(elevated.hits.size(), direct.hits.size());
        for (qsizetype i = 0; i < direct.hits.size(); ++i) {
            QCOMPARE(elevated.hits[i].offset, direct.hits[i].offset);
            QCOMPARE(elevated.hits[i].signatureType, direct.hits[i].signatureType);
            QCOMPARE(elevated.hits[i].estimatedSize, direct.hits[i].estimatedSize);
            QCOMPARE(elevated.hits[i].health, direct.hits[i].health);
            QCOMPARE(elevated.hits[i].data->head, direct.hits[i].data->head);
            if (keepLimit != 0 && direct.hits[i].offset == quint64(longFileAt))
                continue;
            QCOMPARE(elevated.hits[i].verification.state, direct.hits[i].verification.state);
            QCOMPARE(elevated.hits[i].verification.length, direct.hits[i].verification.length);
        }
        // The long file's walk reads on through chunks the scan has not
        // reached; with too little room to keep them it stops and says why.
        const auto longHit = std::find_if(elevated.hits.cbegin(), elevated.hits.cend(),
                                          [](const CarvedFile &hit) { return hit.offset == quint64(longFileAt); });
        QVERIFY(longHit != elevated.hits.cend());
        if (keepLimit == 0) {
            QVERIFY2(longHit->verification.isVerified(), qPrintable(longHit->verification.reason));
            QCOMPARE(longHit->verification.length, qint64(longFile.size()));
        } else {
            QVERIFY(longHit->verification.isUnverified());
            QVERIFY2(longHit->verification.reason.contains(QStringLiteral("the temporary folder")),
                     qPrintable(longHit->verification.reason));
        }
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("QuorvelRecovery_*")}), QStringList());
        const QList<quint64> planted{1000, MiB - 6, chunk - 100, 2 * chunk - 4, 2 * chunk + 5000, 2 * chunk + 3 * MiB};
        QList<CarvedFile> chosen;
        for (const CarvedFile &hit : std::as_const(elevated.hits)) {
            if (planted.contains(hit.offset)) {
                QCOMPARE(hit.health, CarvedFileHealth::good);
                chosen << hit;
            }
        }
        QCOMPARE(chosen.size(), planted.size());

        const qsizetype runsBefore = fake->admin.pipedRuns.size() + fake->admin.shellCommands.size();
        const QString folder = m_dir.filePath(QStringLiteral("saved-%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(saveCarvedFiles(chosen, folder).saved, int(chosen.size()));
        if (!realBackend)
            QCOMPARE(fake->admin.pipedRuns.size() + fake->admin.shellCommands.size(), runsBefore + 1);
        for (const CarvedFile &hit : std::as_const(chosen)) {
            QFile saved(QDir(folder).filePath(hit.suggestedFileName()));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(saved.readAll(), m_bytes.mid(qsizetype(hit.offset), qsizetype(hit.savedLength())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(readersOf(device), QList<qint64>(), 3000);
    }

    // While the scan runs, a step that checks a hit can read any range of the
    // device through the hit, from the scan's thread or another, without
    // another password.
    void hitsReadTheDeviceWhileTheScanRuns()
    {
        const auto platform = std::make_shared<FakePlatform>();
        RecordingSink sink;
        int checked = 0;
        sink.onHits = [&](const QList<CarvedFile> &files) {
            const CarvedFile &hit = files.first();
            const qint64 length = std::min<qint64>(12 * MiB, m_bytes.size() - qint64(hit.offset));
            QByteArray here;
            QByteArray there;
            std::thread other([&] { hit.data->source->read(quint64(m_bytes.size() - MiB), MiB, &there, nullptr); });
            QVERIFY(hit.data->source->read(hit.offset, length, &here, nullptr));
            other.join();
            QCOMPARE(here, m_bytes.mid(qsizetype(hit.offset), qsizetype(length)));
            QCOMPARE(there, m_bytes.right(MiB));
            ++checked;
        };
        scanDeviceElevated(m_image, defaultSignatures(), QStringLiteral("Disk"), 0, sink, administratorsOf(platform));
        QVERIFY(checked >= 3);
        QCOMPARE(platform->admin.pipedRuns.size(), 1);
        QCOMPARE(sink.lastScanned(), quint64(m_bytes.size()));
    }

    void stopEndsTheReader()
    {
        const auto platform = std::make_shared<FakePlatform>();
        RecordingSink sink;
        sink.cancelWhen = [&sink] { return !sink.progress.isEmpty(); };
        scanDeviceElevated(m_image, defaultSignatures(), QStringLiteral("Disk"), 0, sink, administratorsOf(platform));
        QCOMPARE(sink.progress.size(), 1);
        QCOMPARE(sink.statuses.last(), QStringLiteral("Scan cancelled by user"));
        QTRY_COMPARE_WITH_TIMEOUT(readersOf(m_image), QList<qint64>(), 3000);
    }

    // The program is killed mid-scan: the reader must not outlive it. One
    // that handed its descriptor over is gone before the scan begins.
    void readerEndsWhenTheProgramDies_data()
    {
        QTest::addColumn<bool>("handOver");
        QTest::addRow("descriptor handed over") << true;
        QTest::addRow("reader serving every read") << false;
    }
    void readerEndsWhenTheProgramDies()
    {
        QFETCH(bool, handOver);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(childImageVariable), m_image);
        if (!handOver)
            environment.insert(QString::fromLatin1(childServesVariable), QStringLiteral("1"));
        program.setProcessEnvironment(environment);
        program.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(program.waitForStarted());
        QByteArray said;
        while (!said.contains("PROGRESS") && program.state() == QProcess::Running && program.waitForReadyRead(15000))
            said += program.readAllStandardOutput();
        QVERIFY2(said.contains("PROGRESS"), said.constData());
        if (handOver)
            QTRY_COMPARE_WITH_TIMEOUT(readersOf(m_image), QList<qint64>(), 3000);
        else
            QCOMPARE(readersOf(m_image).size(), 1);
        ::kill(pid_t(program.processId()), SIGKILL);
        QVERIFY(program.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(readersOf(m_image), QList<qint64>(), 3000);
    }

    // What the user is told when the reader can't begin, through the Linux
    // launcher and a stand-in for pkexec.
    void readerThatCannotBegin_data()
    {
        QTest::addColumn<QByteArray>("dialog");  // what the password dialog does
        QTest::addColumn<QString>("device");     // relative to the test folder
        QTest::addColumn<QString>("error");
        const QString disk = QStringLiteral("it's a disk.img");
        QTest::addRow("dismissed") << QByteArray("dismiss") << disk
                                   << QStringLiteral("Reading %1 needs administrator rights, and the password dialog "
                                                     "was dismissed.");
        QTest::addRow("refused") << QByteArray("refuse") << disk
                                 << QStringLiteral("Failed to launch elevated scan: Error executing command as another "
                                                   "user: Not authorized");
        QTest::addRow("no such device") << QByteArray("allow") << QStringLiteral("gone")
                                        << QStringLiteral("Cannot open %1: No such file or directory");
        QTest::addRow("a named pipe") << QByteArray("allow") << QStringLiteral("pipe")
                                      << QStringLiteral("Cannot scan %1: it is a pipe");
    }
    void readerThatCannotBegin()
    {
        QFETCH(QByteArray, dialog);
        QFETCH(QString, device);
        QFETCH(QString, error);
        const QString path = m_dir.filePath(device);
        if (device == QLatin1String("pipe") && !QFileInfo::exists(path))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        const ScopedEnv answer("FAKE_PKEXEC", dialog);
        const QString pkexec = QStringLiteral(QUORVEL_TEST_DATA "/tools/pkexec");
        const AdministratorLauncherFactory launchers = [pkexec] {
            return std::make_unique<LinuxAdministratorLauncher>(
                LinuxAdministratorConfig{pkexec, QStringLiteral("/bin/sh"), QStringLiteral("/bin/bash"), false});
        };
        RecordingSink sink;
        scanDeviceElevated(path, defaultSignatures(), QStringLiteral("Disk"), 0, sink, launchers);
        QVERIFY(sink.hits.isEmpty() && sink.statuses.isEmpty() && sink.progress.isEmpty());
        QCOMPARE(sink.errors.size(), 1);
        QVERIFY2(sink.errors.first().startsWith(QString(error).replace(QStringLiteral("%1"), path)),
                 qPrintable(sink.errors.first()));
    }

    // A descriptor handed over for another file than the one named (a link
    // swapped while the dialog was open) is refused, not scanned; a reader
    // that can't send it at all (no sendmsg to call) serves the reads itself.
    void handOverThatFails_data()
    {
        QTest::addColumn<QByteArray>("arguments");  // what the stand-in interpreter passes on to perl
        QTest::addColumn<bool>("refused");
        QTest::addRow("another file opened") << QByteArray("a=$1 b=$2 c=$3; shift 4; exec /usr/bin/perl \"$a\" \"$b\" "
                                                           "\"$c\" \"$OTHER\" \"$@\"")
                                             << true;
        QTest::addRow("no way to send it") << QByteArray("a=$1 b=$2 c=$3 d=$4 e=$5 f=$6; shift 7; exec /usr/bin/perl "
                                                         "\"$a\" \"$b\" \"$c\" \"$d\" \"$e\" \"$f\" 0 \"$@\"")
                                           << false;
    }
    void handOverThatFails()
    {
        QFETCH(QByteArray, arguments);
        QFETCH(bool, refused);
        const QString other = m_dir.filePath(QStringLiteral("other.img"));
        QVERIFY(writeFile(other, QByteArray(4096, 'o')));
        const QString wrapper = m_dir.filePath(QStringLiteral("stand-in-perl"));
        QVERIFY(writeFile(wrapper, "#!/bin/sh\nOTHER='" + QFile::encodeName(other) + "'\n" + arguments + "\n"));
        QVERIFY(QFile::setPermissions(wrapper, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        auto platform = std::make_shared<FakePlatform>();
        const ReaderConnection::Opened opened = ReaderConnection::open(platform->admin, wrapper, m_image, {});
        if (refused) {
            QVERIFY(!opened.connection);
            QCOMPARE(opened.failure, ReaderConnection::Failure::notStarted);
            QCOMPARE(opened.reason, QStringLiteral("The reader opened something other than %1.").arg(m_image));
            return;
        }
        QVERIFY(opened.connection);
        QVERIFY(!opened.connection->readsDirectly());
        std::vector<std::uint8_t> bytes(4096);
        QCOMPARE(opened.connection->read(MiB, bytes.data(), 4096).bytes, qint64(4096));
        QVERIFY(std::memcmp(bytes.data(), m_bytes.constData() + MiB, 4096) == 0);
    }

    // The connection on its own: read-aheads collected in order, into a
    // buffer of the program's or into the ring the reader writes itself
    // (wrapping at its end), while another thread reads at random; the size
    // as it is now; and a close with read-aheads still out whose buffer then
    // goes away.
    void connectionAnswersEveryThreadInOrder_data()
    {
        QTest::addColumn<bool>("handOver");
        QTest::addColumn<bool>("shared");
        QTest::addColumn<bool>("kernelCopy");
        QTest::addRow("descriptor handed over") << true << false << true;
        QTest::addRow("through the pipe") << false << false << true;
        QTest::addRow("into the shared ring, copied by the kernel") << false << true << true;
        QTest::addRow("into the shared ring, read and written") << false << true << false;
    }
    void connectionAnswersEveryThreadInOrder()
    {
        QFETCH(bool, handOver);
        QFETCH(bool, shared);
        QFETCH(bool, kernelCopy);
        auto platform = std::make_shared<FakePlatform>();
        const QString copy = m_dir.filePath(QStringLiteral("shrinking.img"));
        QVERIFY(writeFile(copy, m_bytes));
        ReaderOptions options;
        options.kernelCopy = kernelCopy;
        options.handOver = handOver;
        ReaderConnection::Opened opened = ReaderConnection::open(platform->admin, QStringLiteral("/usr/bin/perl"), copy, options);
        QVERIFY(opened.connection);
        ReaderConnection &reader = *opened.connection;
        QCOMPARE(reader.size(), m_bytes.size());
        QCOMPARE(reader.readsDirectly(), handOver);
        if (handOver)
            QTRY_COMPARE_WITH_TIMEOUT(readersOf(copy), QList<qint64>(), 3000);

        std::atomic<int> wrong{0};
        std::thread random([&] {
            QRandomGenerator generator(5);
            for (int i = 0; i < 200; ++i) {
                const qint64 at = generator.bounded(qint64(m_bytes.size()));
                const qint64 length = generator.bounded(1, 300'000);
                std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
                const SourceReader::Result got = reader.read(at, out.data(), length);
                const qint64 expected = std::min(length, m_bytes.size() - at);
                if (got.bytes != expected || std::memcmp(out.data(), m_bytes.constData() + at, std::size_t(expected)) != 0)
                    ++wrong;
            }
        });
        constexpr qint64 ringSize = 8 * MiB;
        constexpr qint64 step = 3 * MiB;
        std::vector<std::uint8_t> own(std::size_t(2 * ringSize));
        std::uint8_t *ring = shared ? reader.sharedRing(ringSize) : own.data();
        QVERIFY(ring);
        for (qint64 at = 0; at < 18 * MiB; at += step) {
            reader.readAhead(at, ring + (at % ringSize), step);
            if (at >= step) {
                const qint64 previous = at - step;
                const SourceReader::Result got = reader.read(previous, ring + (previous % ringSize), step);
                QCOMPARE(got.bytes, step);
                QVERIFY(std::memcmp(ring + (previous % ringSize), m_bytes.constData() + previous, std::size_t(step)) == 0);
            }
        }
        random.join();
        QCOMPARE(wrong.load(), 0);

        QVERIFY(QFile::resize(copy, 3 * MiB));
        QCOMPARE(reader.currentSize(), std::optional<qint64>(3 * MiB));
        std::uint8_t byte = 0;
        QCOMPARE(reader.read(5 * MiB, &byte, 1).bytes, qint64(0));

        reader.readAhead(0, own.data(), 2 * MiB);
        reader.cancelReadAhead();
        own = {};
        reader.close();
        QVERIFY(!reader.isOpen());
        QCOMPARE(reader.read(0, &byte, 1).error, EPIPE);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_bytes;
    QString m_image;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(childImageVariable))
        return runChildScan();
    TestRootReader test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rootreader.moc"
