#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "helpers/testsupport.h"
#include "model/bytecount.h"

// Raw scans on sources that misbehave: read errors, sources that shrink or
// vanish, sources of unknown size and sources without an end.

namespace {

constexpr qint64 imageSize = 24 * MiB;

struct Span {
    qint64 offset = 0;
    qint64 length = 0;
};
using Spans = QList<Span>;

// Filler and bodies that neither begin nor end any signature, so that bytes
// skipped as zeros in them change no hit.
QByteArray plantedImage()
{
    QByteArray bytes(imageSize, 'U');
    const auto plant = [&](qint64 at, const QByteArray &file) { bytes.replace(qsizetype(at), file.size(), file); };
    plant(10'000, QByteArray::fromHex("FFD8FFE0") + QByteArray(1000, '\x11') + QByteArray::fromHex("FFD9"));
    plant(6 * MiB + 7, QByteArray::fromHex("FFD8FFE0") + QByteArray(200'000, '\x11') + QByteArray::fromHex("FFD9"));
    plant(12 * MiB - 3, QByteArray::fromHex("89504E470D0A1A0A") + QByteArray(300, '\x11')
                            + QByteArray::fromHex("49454E44AE426082"));
    plant(20 * MiB + 1000, QByteArray("%PDF-1.4") + QByteArray(1000, '\x11') + QByteArray("%%EOF"));
    return bytes;
}

// Serves `bytes`, failing with `error` on every read that starts in a bad
// span (a read that reaches one stops short before it), and ending at `end`.
class FakeReader final : public SourceReader
{
public:
    explicit FakeReader(QByteArray data) : bytes(std::move(data)), end(bytes.size()) {}

    Result read(qint64 offset, std::uint8_t *into, qint64 length) override
    {
        qint64 stop = std::min(offset + length, end);
        if (offset >= stop)
            return {};
        for (const Span &span : std::as_const(bad)) {
            if (span.offset <= offset && offset < span.offset + span.length) {
                ++failedReads;
                return {0, error, error == ENODEV};
            }
            if (span.offset > offset && span.offset < stop)
                stop = span.offset;
        }
        std::memcpy(into, bytes.constData() + offset, std::size_t(stop - offset));
        return {stop - offset, 0, false};
    }
    std::optional<qint64> currentSize() override { return sizeNow; }

    QByteArray bytes;
    qint64 end;
    Spans bad;
    int error = EIO;
    std::optional<qint64> sizeNow;
    int failedReads = 0;
};

RecordingSink scan(FakeReader &reader, DirectScan::Sizes sizes)
{
    RecordingSink sink;
    scanSource(reader, sizes, std::make_shared<MemoryByteSource>(reader.bytes), defaultSignatures(),
               QStringLiteral("img"), sink);
    return sink;
}

DirectScan::Sizes knownSize(qint64 size)
{
    return {size, size};
}

bool run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
    return ok;
}

// A read-only loop device over `image`, detached again when it goes.
struct LoopDevice {
    QString path;
    explicit LoopDevice(const QString &image, bool readOnly = true)
    {
        QStringList arguments{QStringLiteral("-f"), QStringLiteral("--show"), image};
        if (readOnly)
            arguments.prepend(QStringLiteral("-r"));
        if (!run(QStringLiteral("losetup"), arguments, &path))
            path.clear();
    }
    ~LoopDevice()
    {
        if (!path.isEmpty())
            run(QStringLiteral("losetup"), {QStringLiteral("-d"), path});
    }
};

} // namespace

class TestRawScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Unreadable bytes are skipped and scanned as zeros: the scan reaches the
    // end, finds what the same image without those bytes holds, and reports
    // how much it could not read (a little more than the bad bytes, as skips
    // grow, but never less). A failing disk may take seconds per failed
    // read, so a long bad run must cost a few reads, not one per sector.
    void readErrorsAreSkippedAndReported_data()
    {
        QTest::addColumn<Spans>("bad");
        QTest::addRow("one bad sector") << Spans{{9 * MiB + 12'288, 512}};
        QTest::addRow("the first bytes") << Spans{{0, 4096}};
        QTest::addRow("the last bytes") << Spans{{imageSize - 1000, 1000}};
        QTest::addRow("a run across a step") << Spans{{16 * MiB - 50'000, 100'000}};
        QTest::addRow("inside a planted file") << Spans{{6 * MiB + 1007, 8192}};
        QTest::addRow("three megabytes: the skip grows") << Spans{{2 * MiB, 3 * MiB}};
        Spans many;
        for (qint64 k = 0; k < 10; ++k)
            many.append({MiB + 2 * k * MiB + 100, 512});
        QTest::addRow("ten bad sectors") << many;
    }
    void readErrorsAreSkippedAndReported()
    {
        QFETCH(Spans, bad);
        FakeReader failing(plantedImage());
        failing.bad = bad;
        failing.sizeNow = imageSize;
        QByteArray zeroed = failing.bytes;
        qint64 badBytes = 0;
        for (const Span &span : std::as_const(bad)) {
            zeroed.replace(qsizetype(span.offset), qsizetype(span.length), QByteArray(qsizetype(span.length), '\0'));
            badBytes += span.length;
        }
        FakeReader clean(zeroed);

        const RecordingSink sink = scan(failing, knownSize(imageSize));
        const RecordingSink expected = scan(clean, knownSize(imageSize));

        QVERIFY(expected.hits.size() >= 4);
        QCOMPARE(sink.hits.size(), expected.hits.size());
        for (qsizetype i = 0; i < expected.hits.size(); ++i) {
            QCOMPARE(sink.hits[i].offset, expected.hits[i].offset);
            QCOMPARE(sink.hits[i].signatureType, expected.hits[i].signatureType);
            QCOMPARE(sink.hits[i].estimatedSize, expected.hits[i].estimatedSize);
            QCOMPARE(sink.hits[i].health, expected.hits[i].health);
        }
        QCOMPARE(sink.lastScanned(), quint64(imageSize));
        QVERIFY(sink.outcome.has_value());
        QVERIFY(!sink.outcome->sourceLost);
        const qint64 unreadable = qint64(sink.outcome->unreadableBytes);
        QVERIFY2(unreadable >= badBytes && unreadable <= 2 * badBytes + 4096 * bad.size(),
                 qPrintable(QString::number(unreadable)));
        QVERIFY2(failing.failedReads <= 3 * bad.size() + 12, qPrintable(QString::number(failing.failedReads)));
        QCOMPARE(sink.errors.size(), 1);
        QVERIFY2(sink.errors.first().startsWith(formatByteCount(unreadable) + QStringLiteral(" could not be read")),
                 qPrintable(sink.errors.first()));
    }

    // A source that ends or goes away before its size ends the scan with an
    // error, keeps what was found before, and never waits.
    void sourceThatGoesAwayEndsTheScan_data()
    {
        QTest::addColumn<int>("error");    // 0: the data just ends
        QTest::addColumn<int>("sizeNow");  // in MiB; -1: can't tell
        QTest::addColumn<bool>("sizeKnown");
        QTest::addRow("shrinks") << 0 << 9 << true;
        QTest::addRow("pulled out: no such device") << ENODEV << -1 << true;
        QTest::addRow("fails, and its size is now 0") << EIO << 0 << true;
        QTest::addRow("fails for good, size unknown") << EIO << -1 << false;
    }
    void sourceThatGoesAwayEndsTheScan()
    {
        QFETCH(int, error);
        QFETCH(int, sizeNow);
        QFETCH(bool, sizeKnown);
        constexpr qint64 goneAt = 9 * MiB;
        FakeReader reader(plantedImage());
        if (error == 0)
            reader.end = goneAt;
        else
            reader.bad = {{goneAt, imageSize}};
        reader.error = error;
        if (sizeNow >= 0)
            reader.sizeNow = sizeNow * MiB;

        const RecordingSink sink = scan(reader, sizeKnown ? knownSize(imageSize) : DirectScan::Sizes());

        QVERIFY(sink.outcome.has_value());
        QVERIFY(sink.outcome->sourceLost);
        QVERIFY2(!sink.errors.isEmpty() && sink.errors.first().startsWith(QStringLiteral("Reading img stopped at ")),
                 qPrintable(sink.errors.join(u'|')));
        QList<quint64> offsets;
        for (const CarvedFile &hit : sink.hits)
            offsets << hit.offset;
        QVERIFY(offsets.contains(10'000));
        QVERIFY(offsets.contains(6 * MiB + 7));
        QVERIFY(std::all_of(offsets.cbegin(), offsets.cend(), [](quint64 at) { return at < goneAt; }));
        QVERIFY(sink.lastScanned() < quint64(imageSize));
    }

    // Without a size the scan reads to the real end, shows no total, and
    // counts exactly the bytes there are.
    void unknownSizeIsReadToItsEnd()
    {
        FakeReader reader(plantedImage().left(21 * MiB));
        const RecordingSink sink = scan(reader, DirectScan::Sizes());
        QVERIFY(sink.errors.isEmpty());
        QVERIFY(std::any_of(sink.hits.cbegin(), sink.hits.cend(),
                            [](const CarvedFile &hit) { return hit.offset == quint64(20 * MiB + 1000); }));
        QCOMPARE(sink.lastScanned(), quint64(21 * MiB));
        QCOMPARE(sink.progress.last().fraction, std::nullopt);
        QVERIFY2(sink.progress.last().text.contains(QStringLiteral(" scanned — ")), qPrintable(sink.progress.last().text));
    }

    void bytesScannedStopAtTheEnd_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addRow("one byte") << qint64(1);
        QTest::addRow("4 KiB") << qint64(4096);
        QTest::addRow("one step") << MiB;
        QTest::addRow("one step and a byte") << MiB + 1;
    }
    void bytesScannedStopAtTheEnd()
    {
        QFETCH(qint64, size);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("small.img"));
        QVERIFY(writeFile(path, QByteArray(size, 'U')));
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("small.img"), sink);
        QCOMPARE(sink.lastScanned(), quint64(size));
        QCOMPARE(sink.progress.last().fraction, std::optional<double>(1.0));
    }

    // Sources that can't be read to an end are refused at once, without
    // waiting for a writer or running until Stop.
    void sourcesWithoutAnEndAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::addRow("endless character device") << QStringLiteral("zero") << QStringLiteral("a character device");
        QTest::addRow("named pipe nobody writes to") << QStringLiteral("fifo") << QStringLiteral("a pipe");
        QTest::addRow("folder") << QStringLiteral("folder") << QStringLiteral("a folder");
    }
    void sourcesWithoutAnEndAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QTemporaryDir folder;
        QString path = folder.path();
        if (kind == QLatin1String("zero")) {
            path = QStringLiteral("/dev/zero");
            if (!QFile::exists(path))
                QSKIP("no /dev/zero");
        } else if (kind == QLatin1String("fifo")) {
            path = folder.filePath(QStringLiteral("pipe"));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("src"), sink);
        QCOMPARE(sink.errors.size(), 1);
        QVERIFY2(sink.errors.first().startsWith(QStringLiteral("Cannot scan ") + path + QStringLiteral(": it is ") + says),
                 qPrintable(sink.errors.first()));
        QVERIFY(sink.statuses.isEmpty());
        QVERIFY(sink.progress.isEmpty());
    }

    // A loop device whose image is cut short while it is scanned, as a USB
    // stick pulled out is: the kernel shrinks the device under the reader.
    void pulledLoopDevice()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to attach a loop device");
        QTemporaryDir folder;
        const QString image = folder.filePath(QStringLiteral("stick.img"));
        QVERIFY(writeFile(image, plantedImage()));
        LoopDevice loop(image, false);
        if (loop.path.isEmpty())
            QSKIP("losetup refused");
        RecordingSink sink;
        bool pulled = false;
        sink.onProgress = [&] {
            if (pulled)
                return;
            pulled = true;
            QFile::resize(image, 8 * MiB);
            run(QStringLiteral("losetup"), {QStringLiteral("-c"), loop.path});
        };
        scanRawFile(loop.path, defaultSignatures(), QStringLiteral("stick"), sink);
        QVERIFY(sink.outcome.has_value() && sink.outcome->sourceLost);
        QVERIFY2(sink.errors.value(0).startsWith(QStringLiteral("Reading stick stopped at ")),
                 qPrintable(sink.errors.value(0)));
        QVERIFY(std::any_of(sink.hits.cbegin(), sink.hits.cend(),
                            [](const CarvedFile &hit) { return hit.offset == 10'000; }));
        QVERIFY(sink.lastScanned() < quint64(imageSize));
    }

    // A device whose middle the kernel refuses to read: a device-mapper error
    // target between two stretches of a loop device.
    void deviceMapperErrorTarget()
    {
        if (::geteuid() != 0)
            QSKIP("needs root for device-mapper");
        QTemporaryDir folder;
        const QString image = folder.filePath(QStringLiteral("disk.img"));
        QVERIFY(writeFile(image, plantedImage()));
        LoopDevice loop(image);
        if (loop.path.isEmpty())
            QSKIP("losetup refused");
        // In 512-byte sectors: 1 MiB that can't be read from 16 MiB on.
        const qint64 badFrom = 16 * MiB / 512;
        const qint64 badLength = MiB / 512;
        const qint64 total = imageSize / 512;
        const QString table = QStringLiteral("0 %1 linear %2 0\n%1 %3 error\n%4 %5 linear %2 %4\n")
                                  .arg(badFrom)
                                  .arg(loop.path)
                                  .arg(badLength)
                                  .arg(badFrom + badLength)
                                  .arg(total - badFrom - badLength);
        const QString name = QStringLiteral("quorvel-test-%1").arg(::getpid());
        QString said;
        QProcess dmsetup;
        dmsetup.start(QStringLiteral("dmsetup"), {QStringLiteral("create"), name});
        dmsetup.write(table.toLocal8Bit());
        dmsetup.closeWriteChannel();
        if (!dmsetup.waitForFinished(20000) || dmsetup.exitCode() != 0)
            QSKIP(qPrintable(QStringLiteral("the kernel offers no device-mapper: ")
                             + QString::fromLocal8Bit(dmsetup.readAllStandardError()).trimmed()));
        const auto remove = qScopeGuard([&] { run(QStringLiteral("dmsetup"), {QStringLiteral("remove"), name}); });

        RecordingSink sink;
        scanRawFile(QStringLiteral("/dev/mapper/") + name, defaultSignatures(), QStringLiteral("dm"), sink);
        QVERIFY(sink.outcome.has_value());
        QVERIFY(!sink.outcome->sourceLost);
        QVERIFY(sink.outcome->unreadableBytes >= quint64(MiB) && sink.outcome->unreadableBytes <= quint64(3 * MiB));
        QCOMPARE(sink.lastScanned(), quint64(imageSize));
        QVERIFY(std::any_of(sink.hits.cbegin(), sink.hits.cend(),
                            [](const CarvedFile &hit) { return hit.offset == quint64(20 * MiB + 1000); }));
    }
};

QTEST_GUILESS_MAIN(TestRawScan)
#include "tst_rawscan.moc"
