#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "helpers/testsupport.h"

using Plants = QList<QPair<qint64, QByteArray>>;

namespace {

// The straightforward procedure: every step read with one pread of step +
// overlap bytes, every candidate window read again with its own pread. Gives
// each hit as a line and its bytes.
QStringList referenceScan(const QString &path, const QList<FileSignature> &signatures, QList<QByteArray> *hitBytes)
{
    QStringList hits;
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
                hits << describeHit(quint64(a), s.typeName, end, health);
                *hitBytes << window.left(end);
            }
        }
    }
    ::close(fd);
    return hits;
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
            // Validators look past the header, and so past the step.
            {"validated headers in a step's last byte", 3 * MiB, false,
             {{MiB - 1, QByteArray("\0\0\0\x18" "ftypheic", 12)}, {2 * MiB - 1, QByteArray("RIFF\x10\0\0\0WEBP", 12)}}, {}},
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
        const QList<FileSignature> signatures = types.isEmpty() ? defaultSignatures() : catalogueRows(types);
        const QString path = writeImage(m_dir.path(), QStringLiteral("img.dd"), size, random, plants);
        QVERIFY(!path.isEmpty());

        QList<QByteArray> expectedBytes;
        const QStringList expected = referenceScan(path, signatures, &expectedBytes);
        RecordingSink sink;
        scanRawFile(path, signatures, QStringLiteral("img.dd"), sink);

        QVERIFY(sink.errors.isEmpty());
        QCOMPARE(describeHits(sink.hits), expected);
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const CarvedFile &hit = sink.hits.at(i);
            QCOMPARE(hit.sourcePath, QStringLiteral("img.dd"));
            QByteArray saved;
            QVERIFY(hit.data->read(&saved, nullptr));
            QCOMPARE(saved, expectedBytes.at(i));
            QCOMPARE(hit.data->head, saved.left(32));
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

    // The last step counts in full: 2 MiB of a 1.5 MiB image, capped at 1.0.
    void progressOfAPartialLastStep()
    {
        const QString path = writeImage(m_dir.path(), QStringLiteral("half.img"), MiB + MiB / 2, false,
                                        {{10, jpegBytes(100)}, {MiB + 10, jpegBytes(100)}});
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("half.img"), sink);
        QCOMPARE(sink.statuses, QStringList{QStringLiteral("Scanning half.img...")});
        QCOMPARE(sink.batches, 2); // one batch per step that found something
        QCOMPARE(sink.progress.size(), 2);
        QCOMPARE(sink.progress.at(0).text, QStringLiteral("Scanning half.img: 1 MB / 1.6 MB — 1 files found"));
        QCOMPARE(sink.progress.at(1).bytes, quint64(MiB + MiB / 2));
        QCOMPARE(sink.progress.at(1).fraction, std::optional<double>(1.0));
        QCOMPARE(sink.progress.at(1).text, QStringLiteral("Scanning half.img: 1.6 MB / 1.6 MB — 2 files found"));
    }

    void emptyImageReadsNothing()
    {
        const QString path = writeImage(m_dir.path(), QStringLiteral("empty.img"), 0, false, {});
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("empty.img"), sink);
        QCOMPARE(sink.statuses, QStringList{QStringLiteral("Scanning empty.img...")});
        QVERIFY(sink.progress.isEmpty() && sink.hits.isEmpty() && sink.errors.isEmpty());
    }

    void cancellationFinishesTheStepInHand()
    {
        const QString path = writeImage(m_dir.path(), QStringLiteral("five.img"), 5 * MiB, false,
                                        {{MiB + 5, jpegBytes(50)}, {3 * MiB, jpegBytes(50)}});
        RecordingSink sink;
        sink.cancelWhen = [&] { return sink.progress.size() >= 2; };
        scanRawFile(path, catalogueRows({QStringLiteral("JPEG")}), QStringLiteral("five.img"), sink);
        QCOMPARE(sink.progress.size(), 2);
        QCOMPARE(sink.hits.size(), 1);
    }

    // /dev/zero never ends: scanning it would run until Stop.
    void endlessDeviceIsRefused()
    {
        RecordingSink sink;
        scanRawFile(QStringLiteral("/dev/zero"), catalogueRows({QStringLiteral("JPEG")}), QStringLiteral("zero"), sink);
        QCOMPARE(sink.errors.size(), 1);
        QVERIFY2(sink.errors.first().startsWith(QStringLiteral("Cannot scan /dev/zero: it is a character device")),
                 qPrintable(sink.errors.first()));
        QVERIFY(sink.statuses.isEmpty() && sink.progress.isEmpty());
    }

    void missingSourceIsAnErrorAndNothingElse()
    {
        const QString path = m_dir.path() + QStringLiteral("/missing.img");
        RecordingSink sink;
        scanRawFile(path, defaultSignatures(), QStringLiteral("missing.img"), sink);
        QCOMPARE(sink.errors.size(), 1);
        QVERIFY(sink.errors.first().startsWith(QStringLiteral("Cannot open ") + path + QStringLiteral(": No such file or directory")));
        QVERIFY(sink.statuses.isEmpty() && sink.progress.isEmpty());
    }

    // Which advice follows which failure; a busy device gets its own message,
    // with the path in it as often as the platform's text asks for it.
    void openErrorTexts_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::addRow("busy: the platform's text, no reason")
            << EBUSY << QStringLiteral("/dev/sdb1") << QStringLiteral("/dev/sdb1 busy, umount /dev/sdb1");
        QTest::newRow("busy, a path holding %2") << EBUSY << QStringLiteral("/tmp/a%2b.img")
                                                 << QStringLiteral("/tmp/a%2b.img busy, umount /tmp/a%2b.img");
        QTest::addRow("permission denied") << EACCES << QStringLiteral("/dev/sdb")
                                           << QStringLiteral("Cannot open /dev/sdb: Permission denied<rights>");
        QTest::addRow("operation not permitted") << EPERM << QStringLiteral("/dev/sdb")
                                                 << QStringLiteral("Cannot open /dev/sdb: Operation not permitted<rights>");
        QTest::addRow("anything else") << EIO << QStringLiteral("/dev/sdb")
                                       << QStringLiteral("Cannot open /dev/sdb: Input/output error<other>");
    }
    void openErrorTexts()
    {
        QFETCH(int, error);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        ScanTexts texts;
        texts.rawAccessPrivileges = QStringLiteral("<rights>");
        texts.deviceBusyTemplate = QStringLiteral("%1 busy, umount %1");
        texts.otherAdvice = QStringLiteral("<other>");
        QCOMPARE(DirectScan::openErrorText(path, error, texts), expected);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestDirectScan)
#include "tst_directscan.moc"
