#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "model/bytecount.h"

using Plants = QList<QPair<qint64, QByteArray>>;

namespace {

constexpr qint64 MiB = 1024 * 1024;

struct Progress {
    quint64 bytes = 0;
    std::optional<double> fraction;
    QString text;
};

class RecordingSink : public ScanSink
{
public:
    bool shouldCancel() const override { return cancelAfterProgress >= 0 && progress.size() >= cancelAfterProgress; }
    void postStatus(const QString &text) override { statuses.append(text); }
    void postError(const QString &text) override { errors.append(text); }
    void postCarvedFiles(QList<CarvedFile> files) override
    {
        ++batches;
        hits.append(files);
    }
    void postProgress(quint64 bytes, std::optional<double> fraction,
                      std::function<QString(qsizetype)> statusText) override
    {
        progress.append({bytes, fraction, statusText(hits.size())});
    }

    qsizetype cancelAfterProgress = -1;
    QStringList statuses;
    QStringList errors;
    QList<CarvedFile> hits;
    QList<Progress> progress;
    int batches = 0;
};

// One hit of the straightforward procedure: every step read with one pread of
// step + overlap bytes, every candidate window read again with its own pread.
struct ReferenceHit {
    quint64 offset = 0;
    QString type;
    qint64 size = 0;
    CarvedFileHealth health = CarvedFileHealth::unknown;
    QByteArray bytes;
};

QList<ReferenceHit> referenceScan(const QString &path, const QList<FileSignature> &signatures)
{
    QList<ReferenceHit> hits;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return hits;
    struct stat status {};
    ::fstat(fd, &status);
    const qint64 scanSize = status.st_size > 0 ? status.st_size : 100LL * 1024 * MiB;
    qsizetype longest = signatures.isEmpty() ? 16 : 0;
    for (const FileSignature &s : signatures)
        longest = std::max(longest, s.header.size());
    const qint64 readSize = MiB + longest + 16;
    QByteArray chunk(readSize, Qt::Uninitialized);
    for (qint64 offset = 0; offset < scanSize; offset += MiB) {
        const ssize_t n = ::pread(fd, chunk.data(), size_t(std::min(scanSize - offset, readSize)), offset);
        if (n < 1)
            break;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(chunk.constData());
        const std::span<const std::uint8_t> buffer(bytes, size_t(n));
        for (qint64 p = 0; p < std::min<qint64>(n, MiB); ++p) {
            for (const FileSignature &s : signatures) {
                if (!s.headerMatches(buffer, size_t(p)))
                    continue;
                if (s.validator && !s.validator(buffer.subspan(size_t(p), size_t(std::min<qint64>(16, n - p)))))
                    continue;
                const qint64 a = offset + p;
                const qint64 k = std::min({scanSize - a, s.maxFileSize, 10 * MiB});
                QByteArray window(k, Qt::Uninitialized);
                const ssize_t got = ::pread(fd, window.data(), size_t(k), a);
                if (got < 1)
                    continue;
                window.truncate(got);
                const qint64 h = s.header.size();
                qint64 end = got;
                CarvedFileHealth health = CarvedFileHealth::partial;
                const qint64 f = s.footer ? s.footer->size() : 0;
                if (f > 0 && got - f >= h) {
                    for (qint64 q = got - f; q >= h; --q) {
                        if (std::memcmp(window.constData() + q, s.footer->constData(), size_t(f)) == 0) {
                            end = q + f;
                            health = CarvedFileHealth::good;
                            break;
                        }
                    }
                }
                if (end <= h + 10)
                    continue;
                hits.append({quint64(a), s.typeName, end, health, window.left(end)});
            }
        }
    }
    ::close(fd);
    return hits;
}

QList<FileSignature> named(const QStringList &types)
{
    QList<FileSignature> chosen;
    for (const FileSignature &s : defaultSignatures()) {
        if (types.contains(s.typeName))
            chosen.append(s);
    }
    return chosen;
}

QByteArray jpegBytes(int bodySize)
{
    QByteArray b = QByteArray::fromHex("FFD8FFE0");
    b += QByteArray(bodySize, 'j');
    b += QByteArray::fromHex("FFD9");
    return b;
}

QByteArray pngBytes(int bodySize)
{
    return QByteArray::fromHex("89504E470D0A1A0A") + QByteArray(bodySize, 'p')
        + QByteArray::fromHex("49454E44AE426082");
}

QByteArray wavBytes(int bodySize)
{
    return QByteArray("RIFF\x10\x00\x00\x00WAVEfmt ", 16) + QByteArray(bodySize, 'w');
}

// An image of `size` bytes: pseudo-random (with chance hits) or a filler that
// holds no header, with files planted at the given offsets.
QString writeImage(const QString &folder, const QString &name, qint64 size, bool random,
                   const Plants &plants)
{
    QByteArray bytes(size, 'U');
    if (random) {
        QRandomGenerator generator{quint32(size)};
        for (qint64 i = 0; i + 4 <= size; i += 4) {
            const quint32 v = generator.generate();
            std::memcpy(bytes.data() + i, &v, 4);
        }
    }
    for (const auto &[at, content] : plants)
        bytes.replace(at, std::min<qint64>(content.size(), size - at), content.left(size - at));
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        return {};
    return path;
}

} // namespace

class TestDirectScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_dir.isValid());
    }

    void matchesTheStraightforwardProcedure_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("random");
        QTest::addColumn<Plants>("plants");
        QTest::addColumn<QStringList>("types"); // empty: the whole catalogue
        QTest::addColumn<bool>("mirrored");

        struct Case {
            const char *name;
            qint64 size;
            bool random;
            Plants plants;
            QStringList types;
        };
        const QStringList jpegOnly{QStringLiteral("JPEG")};
        const QList<Case> cases = {
            {"random data, many hits, footers beyond the step, short last step", 3 * MiB + 333'333, true,
             {{1000, jpegBytes(2 * MiB)},
              {MiB - 100, pngBytes(300'000)},
              {2 * MiB + 5, wavBytes(500)},
              {3 * MiB + 300'000, jpegBytes(100'000)}},
             {}},
            {"header 6 bytes before the end of the first MiB", 2 * MiB, false, {{MiB - 6, jpegBytes(5000)}}, {}},
            {"header exactly at 1 MiB", 2 * MiB, false, {{MiB, jpegBytes(5000)}}, {}},
            {"header cut by the end of the image", MiB + 10, false, {{MiB + 7, jpegBytes(100)}}, {}},
            {"window cut by the end of the image", MiB + 100, false, {{MiB, QByteArray::fromHex("FFD8FFE0")}}, {}},
            {"no footer within 10 MiB", 21 * MiB, false,
             {{0, QByteArray::fromHex("FFD8FFE0")}, {20 * MiB, jpegBytes(10)}}, jpegOnly},
            {"image of exactly one step", MiB, true, {{MiB - 30, jpegBytes(10)}}, {}},
            // The plain buffer holds 75 MiB and slides first at the step of
            // 65 MiB; the ring holds 16 MiB and wraps every 16 MiB.
            {"windows across read-ahead refills", 80 * MiB + 77, false,
             {{64 * MiB + 17, jpegBytes(3 * MiB)},
              {65 * MiB - 3, pngBytes(9 * MiB)},
              {74 * MiB + 999, jpegBytes(2 * MiB)},
              {76 * MiB - 2, pngBytes(4 * MiB)}},
             {QStringLiteral("JPEG"), QStringLiteral("PNG")}},
            {"random data across ring wraps", 40 * MiB + 5, true,
             {{16 * MiB - 100, jpegBytes(2 * MiB)}, {31 * MiB + 7, pngBytes(6 * MiB)}},
             {QStringLiteral("JPEG"), QStringLiteral("PNG"), QStringLiteral("GIF")}},
            {"empty signature list", 2 * MiB, true, {}, {QStringLiteral("none")}},
        };
        for (const Case &c : cases) {
            for (const bool mirrored : {true, false}) {
                QTest::addRow("%s, %s", c.name, mirrored ? "ring" : "plain buffer")
                    << c.size << c.random << c.plants << c.types << mirrored;
            }
        }
    }
    void matchesTheStraightforwardProcedure()
    {
        QFETCH(qint64, size);
        QFETCH(bool, random);
        QFETCH(Plants, plants);
        QFETCH(QStringList, types);
        QFETCH(bool, mirrored);
        DirectScan::setMirroredReadAhead(mirrored);
        const auto restore = qScopeGuard([] { DirectScan::setMirroredReadAhead(true); });
        const QList<FileSignature> signatures = types.isEmpty() ? defaultSignatures() : named(types);
        const QString path = writeImage(m_dir.path(), QStringLiteral("img.dd"), size, random, plants);
        QVERIFY(!path.isEmpty());

        const QList<ReferenceHit> expected = referenceScan(path, signatures);
        RecordingSink sink;
        scanRawFile(path, signatures, QStringLiteral("img.dd"), sink);

        QVERIFY(sink.errors.isEmpty());
        QCOMPARE(sink.hits.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const CarvedFile &hit = sink.hits.at(i);
            const ReferenceHit &want = expected.at(i);
            QCOMPARE(hit.offset, want.offset);
            QCOMPARE(hit.signatureType, want.type);
            QCOMPARE(hit.estimatedSize, want.size);
            QCOMPARE(hit.health, want.health);
            QCOMPARE(hit.sourcePath, QStringLiteral("img.dd"));
            QVERIFY(hit.data);
            QCOMPARE(hit.data->offset, want.offset);
            QCOMPARE(hit.data->length, want.size);
            QCOMPARE(hit.data->head, want.bytes.left(32));
            QByteArray saved;
            QVERIFY(hit.data->read(&saved, nullptr));
            QCOMPARE(saved, want.bytes);
        }
        // Every hit refers to the one source of the scan; none owns its bytes.
        if (!sink.hits.isEmpty()) {
            const auto *source = dynamic_cast<const FileByteSource *>(sink.hits.first().data->source.get());
            QVERIFY(source);
            QCOMPARE(source->path(), path);
            for (const CarvedFile &hit : std::as_const(sink.hits))
                QCOMPARE(hit.data->source.get(), sink.hits.first().data->source.get());
        }
        QCOMPARE(sink.progress.size(), qsizetype((size + MiB - 1) / MiB));
    }

    void plantedFilesComeBackWhole()
    {
        const QByteArray jpeg = jpegBytes(3 * MiB);
        const QString path = writeImage(m_dir.path(), QStringLiteral("whole.img"), 6 * MiB, false,
                                        {{MiB - 2, jpeg}});
        RecordingSink sink;
        scanRawFile(path, named({QStringLiteral("JPEG")}), QStringLiteral("whole.img"), sink);
        QCOMPARE(sink.hits.size(), 1);
        QCOMPARE(sink.hits.first().offset, quint64(MiB - 2));
        QCOMPARE(sink.hits.first().health, CarvedFileHealth::good);
        QByteArray bytes;
        QVERIFY(sink.hits.first().data->read(&bytes, nullptr));
        QCOMPARE(bytes, jpeg);
    }

    void progressOfAPartialLastStep()
    {
        const QString path = writeImage(m_dir.path(), QStringLiteral("half.img"), MiB + MiB / 2, false,
                                        {{10, jpegBytes(100)}, {MiB + 10, jpegBytes(100)}});
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("half.img"), sink);
        QCOMPARE(sink.statuses, QStringList{QStringLiteral("Scanning half.img...")});
        QCOMPARE(sink.batches, 2); // one batch per step that found something
        QCOMPARE(sink.progress.size(), 2);
        QCOMPARE(sink.progress.at(0).bytes, quint64(MiB));
        QCOMPARE(sink.progress.at(0).text, QStringLiteral("Scanning half.img: ") + formatByteCount(MiB)
                                               + QStringLiteral(" / ") + formatByteCount(MiB + MiB / 2)
                                               + QStringLiteral(" — 1 files found"));
        QCOMPARE(sink.progress.at(1).bytes, quint64(MiB + MiB / 2));
        QCOMPARE(sink.progress.at(1).fraction, std::optional<double>(1.0));
        QCOMPARE(sink.progress.at(1).text,
                 QStringLiteral("Scanning half.img: 1.6 MB / 1.6 MB — 2 files found"));
    }

    void emptyImageReadsNothing()
    {
        const QString path = writeImage(m_dir.path(), QStringLiteral("empty.img"), 0, false, {});
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("empty.img"), sink);
        QCOMPARE(sink.statuses, QStringList{QStringLiteral("Scanning empty.img...")});
        QVERIFY(sink.progress.isEmpty());
        QVERIFY(sink.hits.isEmpty());
        QVERIFY(sink.errors.isEmpty());
    }

    void cancellationFinishesTheStepInHand()
    {
        const QString path = writeImage(m_dir.path(), QStringLiteral("five.img"), 5 * MiB, false,
                                        {{MiB + 5, jpegBytes(50)}, {3 * MiB, jpegBytes(50)}});
        RecordingSink sink;
        sink.cancelAfterProgress = 2;
        scanRawFile(path, named({QStringLiteral("JPEG")}), QStringLiteral("five.img"), sink);
        QCOMPARE(sink.progress.size(), 2);
        QCOMPARE(sink.hits.size(), 1);
    }

    // /dev/zero never ends: scanning it would run until Stop.
    void endlessDeviceIsRefused()
    {
        if (!QFile::exists(QStringLiteral("/dev/zero")))
            QSKIP("no /dev/zero");
        RecordingSink sink;
        scanRawFile(QStringLiteral("/dev/zero"), named({QStringLiteral("JPEG")}), QStringLiteral("zero"), sink);
        QCOMPARE(sink.errors.size(), 1);
        QVERIFY2(sink.errors.first().startsWith(QStringLiteral("Cannot scan /dev/zero: it is a character device")),
                 qPrintable(sink.errors.first()));
        QVERIFY(sink.statuses.isEmpty());
        QVERIFY(sink.progress.isEmpty());
    }

    void missingSourceIsAnErrorAndNothingElse()
    {
        const QString path = m_dir.path() + QStringLiteral("/missing.img");
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("missing.img"), sink);
        QCOMPARE(sink.errors, QStringList{QStringLiteral("Cannot open ") + path
                                          + QStringLiteral(": No such file or directory\n\n💡 Try using \"Directory "
                                                           "Scan\" mode instead, which does not require raw device "
                                                           "access.")});
        QVERIFY(sink.statuses.isEmpty());
        QVERIFY(sink.progress.isEmpty());
    }

    void openErrorTexts_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("expected");
        const ScanTexts texts;
        QTest::addRow("busy names the path twice, no reason")
            << EBUSY
            << QStringLiteral("Cannot open /dev/rdisk4: Device busy\n\nThe volume may need to be unmounted first.\n"
                              "Try: diskutil unmount /dev/rdisk4 in Terminal.\n\n💡 Tip: Using \"Directory Scan\" "
                              "mode does not require unmounting.");
        QTest::addRow("permission denied") << EACCES
                                           << QStringLiteral("Cannot open /dev/rdisk4: Permission denied")
                + texts.rawAccessPrivileges;
        QTest::addRow("operation not permitted") << EPERM
                                                 << QStringLiteral("Cannot open /dev/rdisk4: Operation not permitted")
                + texts.rawAccessPrivileges;
        QTest::addRow("anything else") << EIO << QStringLiteral("Cannot open /dev/rdisk4: Input/output error")
                + texts.otherAdvice;
    }
    void openErrorTexts()
    {
        QFETCH(int, error);
        QFETCH(QString, expected);
        QCOMPARE(DirectScan::openErrorText(QStringLiteral("/dev/rdisk4"), error, ScanTexts()), expected);
    }

    void privilegesTextIsExact()
    {
        const QByteArray utf8 = ScanTexts().rawAccessPrivileges.toUtf8();
        QCOMPARE(utf8.size(), 699);
        QVERIFY(utf8.startsWith("\n\n\xE2\x9A\xA0\xEF\xB8\x8F Raw device access"));
        QVERIFY(utf8.contains("1\xEF\xB8\x8F\xE2\x83\xA3 Full Disk Access"));
        QVERIFY(utf8.endsWith("professional recovery tools run as root"));
    }

    void otherPlatformsSupplyTheirOwnTexts()
    {
        ScanTexts linux;
        linux.deviceBusyTemplate = QStringLiteral("%1 is busy: run umount %1");
        QCOMPARE(DirectScan::openErrorText(QStringLiteral("/dev/sdb1"), EBUSY, linux),
                 QStringLiteral("/dev/sdb1 is busy: run umount /dev/sdb1"));
        // A path holding "%2" is taken as it is.
        QCOMPARE(DirectScan::openErrorText(QStringLiteral("/tmp/a%2b.img"), EBUSY, linux),
                 QStringLiteral("/tmp/a%2b.img is busy: run umount /tmp/a%2b.img"));
    }

    void overlap_data()
    {
        QTest::addColumn<QStringList>("types");
        QTest::addColumn<qsizetype>("expected");
        QTest::addRow("catalogue: PNG header of 8") << QStringList() << qsizetype(24);
        QTest::addRow("empty list") << QStringList{QStringLiteral("none")} << qsizetype(32);
        QTest::addRow("BMP alone") << QStringList{QStringLiteral("BMP")} << qsizetype(18);
    }
    void overlap()
    {
        QFETCH(QStringList, types);
        QFETCH(qsizetype, expected);
        QCOMPARE(DirectScan::overlap(types.isEmpty() ? defaultSignatures() : named(types)), expected);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestDirectScan)
#include "tst_directscan.moc"
