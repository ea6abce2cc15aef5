#include <QTest>

#include "carving/carver.h"
#include "helpers/referencecarver.h"
#include "helpers/testsupport.h"

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
std::span<const std::uint8_t> span(const QByteArray &bytes) { return bytesOf(bytes); }

struct Hit {
    std::size_t position;
    QString type;
    qint64 end;
    CarvedFileHealth health;
    bool operator==(const Hit &) const = default;
};

std::vector<Hit> carve(const QList<FileSignature> &signatures, const CarveInput &input)
{
    const Carver carver(signatures);
    std::vector<Hit> hits;
    carver.carve(input, [&](const CarveHit &h) {
        hits.push_back({h.position, signatures[h.signature].typeName, h.end, h.health});
    });
    // Every named case also holds for the plain definition.
    const std::vector<CarveHit> reference = referenceCarve(signatures, input);
    bool same = reference.size() == hits.size();
    for (std::size_t i = 0; same && i < hits.size(); ++i) {
        same = reference[i].position == hits[i].position && signatures[reference[i].signature].typeName == hits[i].type
            && reference[i].end == hits[i].end && reference[i].health == hits[i].health;
    }
    if (!same)
        QTest::qFail("the engine and the reference carver disagree", __FILE__, __LINE__);
    return hits;
}

std::vector<Hit> carveInBuffer(const QList<FileSignature> &signatures, const QByteArray &buffer)
{
    return carve(signatures, CarveInput::inBuffer(span(buffer), std::size_t(buffer.size()), 0));
}

// 00 00 00 18 "ftypheic" and four zero bytes.
QByteArray heicBox() { return hex("00000018") + "ftypheic" + QByteArray(4, '\0'); }
} // namespace

QT_BEGIN_NAMESPACE
namespace QTest {
template<>
char *toString(const std::vector<Hit> &hits)
{
    QByteArray text;
    for (const Hit &h : hits)
        text += QStringLiteral("{%1 %2 %3 %4} ").arg(h.position).arg(h.type).arg(h.end).arg(rawValue(h.health)).toUtf8();
    return qstrdup(text.isEmpty() ? "(no hits)" : text.constData());
}
} // namespace QTest
QT_END_NAMESPACE

class TestCarver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // In-buffer window cases, each with its expected hit list.
    void inBuffer_data()
    {
        QTest::addColumn<QStringList>("types");   // empty: the full catalogue
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<std::vector<Hit>>("expected");

        const QByteArray other(100, 'x');
        const QByteArray jpeg = hex("FFD8FFE0") + other + hex("FFD9") + QByteArray(20, 'y');
        QTest::addRow("footer found: good, end 106")
            << QStringList{"JPEG"} << jpeg << std::vector<Hit>{{0, "JPEG", 106, CarvedFileHealth::good}};
        QByteArray twoFooters = jpeg;
        twoFooters.replace(120, 2, hex("FFD9"));
        QTest::addRow("last footer wins")
            << QStringList{"JPEG"} << twoFooters << std::vector<Hit>{{0, "JPEG", 122, CarvedFileHealth::good}};
        QTest::addRow("9 bytes after the header: 12 <= 13, dropped")
            << QStringList{"JPEG"} << QByteArray("ab") + hex("FFD8FF") + QByteArray(9, 'z') << std::vector<Hit>{};
        QTest::addRow("11 bytes after the header: 14, partial")
            << QStringList{"JPEG"} << QByteArray("ab") + hex("FFD8FF") + QByteArray(11, 'z')
            << std::vector<Hit>{{2, "JPEG", 14, CarvedFileHealth::partial}};
        QTest::addRow("header cut by the buffer end")
            << QStringList{"PNG"} << QByteArray(40, 'q') + hex("89504E470D0A1A") << std::vector<Hit>{};
        QTest::addRow("PNG ends with its IEND chunk")
            << QStringList{"PNG"} << pngBytes(30) + "tail" << std::vector<Hit>{{0, "PNG", 46, CarvedFileHealth::good}};
        QTest::addRow("footer overlapping the header is not taken")
            << QStringList{"JPEG"} << hex("FFD8FFD9") + QByteArray(20, '\0')
            << std::vector<Hit>{{0, "JPEG", 24, CarvedFileHealth::partial}};
        QTest::addRow("nested JPEG: both reported")
            << QStringList{"JPEG"} << hex("FFD8FFE0") + QByteArray(20, 'a') + hex("FFD8FFE1") + QByteArray(20, 'b') + hex("FFD9")
            << std::vector<Hit>{{0, "JPEG", 50, CarvedFileHealth::good}, {24, "JPEG", 26, CarvedFileHealth::good}};
        QTest::addRow("HEIC then MP4 at one offset")
            << QStringList{} << QByteArray(5, 'a') + heicBox() + QByteArray(20, 'b')
            << std::vector<Hit>{{5, "HEIC", 36, CarvedFileHealth::partial}, {5, "MP4", 36, CarvedFileHealth::partial}};
        QTest::addRow("ftyp after a long zero run")
            << QStringList{} << QByteArray(5000, '\0') + hex("18") + "ftypqt  " + QByteArray(10, 'c')
            << std::vector<Hit>{{4997, "MP4", 22, CarvedFileHealth::partial}, {4997, "MOV", 22, CarvedFileHealth::partial}};
        QTest::addRow("BM everywhere it occurs, while the window exceeds 12")
            << QStringList{"BMP"} << QByteArray("xxBMyyyyyyyyyyyyBMzzzzzzzzzzzzzBMqqqqqqqqqq")
            << std::vector<Hit>{{2, "BMP", 41, CarvedFileHealth::partial}, {16, "BMP", 27, CarvedFileHealth::partial}};
        QTest::addRow("empty signature list") << QStringList{"-"} << jpeg << std::vector<Hit>{};
        QTest::addRow("empty buffer") << QStringList{} << QByteArray() << std::vector<Hit>{};
    }
    void inBuffer()
    {
        QFETCH(QStringList, types);
        QFETCH(QByteArray, buffer);
        QFETCH(std::vector<Hit>, expected);
        QList<FileSignature> signatures;
        if (types.isEmpty())
            signatures = defaultSignatures();
        for (const QString &type : types) {
            if (type != QLatin1String("-"))
                signatures << catalogueRow(type);
        }
        QCOMPARE(carveInBuffer(signatures, buffer), expected);
    }

    // The validator sees 16 bytes at most, fewer at the buffer end: a box
    // 10 bytes before the end hands 10 bytes over, enough for the MP4 rule
    // only.
    void validatorSeesAtMostSixteenBytes()
    {
        QList<std::size_t> lengths;
        FileSignature probe = catalogueRow(QStringLiteral("MP4"));
        probe.validator = [&](std::span<const std::uint8_t> bytes) {
            lengths << bytes.size();
            return SignatureRules::mp4(bytes);
        };
        const QByteArray buffer = QByteArray(30, 'a') + hex("00000018") + "ftypqt";
        const QByteArray longer = QByteArray(30, 'a') + hex("00000018") + "ftypqt" + QByteArray(30, 'b');
        const Carver carver({probe});
        std::size_t hits = 0;
        carver.carve(CarveInput::inBuffer(span(buffer), std::size_t(buffer.size()), 0), [&](const CarveHit &) { ++hits; });
        QCOMPARE(hits, std::size_t(0));   // a window of 10 bytes is too short
        QCOMPARE(lengths, QList<std::size_t>{10});
        lengths.clear();
        carver.carve(CarveInput::inBuffer(span(longer), std::size_t(longer.size()), 0), [&](const CarveHit &) { ++hits; });
        QCOMPARE(hits, std::size_t(1));
        QCOMPARE(lengths, QList<std::size_t>{16});
    }

    // The re-read window: the area reaches past the buffer, capped at 10 MiB
    // and at the end of the source.
    void readAheadWindow_data()
    {
        QTest::addColumn<qsizetype>("areaSize");
        QTest::addColumn<qsizetype>("headerAt");
        QTest::addColumn<qint64>("expectedEnd");
        constexpr qsizetype MiB = 1024 * 1024;
        QTest::addRow("20 MiB without footer: capped at 10 MiB") << 21 * MiB << qsizetype(100) << qint64(10 * MiB);
        QTest::addRow("100 bytes before the end") << 2 * MiB << 2 * MiB - 100 << qint64(100);
    }
    void readAheadWindow()
    {
        QFETCH(qsizetype, areaSize);
        QFETCH(qsizetype, headerAt);
        QFETCH(qint64, expectedEnd);
        QByteArray area(areaSize, 'r');
        area.replace(headerAt, 4, hex("FFD8FFE0"));
        CarveInput input;
        input.buffer = span(area).first(std::min<std::size_t>(std::size_t(area.size()), std::size_t(headerAt) + 64));
        input.scanLength = input.buffer.size();
        input.area = span(area);
        input.windowCap = 10 * 1024 * 1024;
        const std::vector<Hit> hits = carve({catalogueRow(QStringLiteral("JPEG"))}, input);
        QCOMPARE(hits, (std::vector<Hit>{{std::size_t(headerAt), "JPEG", expectedEnd, CarvedFileHealth::partial}}));
    }

    // A row whose size limit is zero or negative has no window and so no hit,
    // rather than an unbounded one.
    void nonPositiveMaxFileSizeGivesNoHit()
    {
        for (const qint64 maxFileSize : {qint64(0), qint64(-1)}) {
            FileSignature jpeg = catalogueRow(QStringLiteral("JPEG"));
            jpeg.maxFileSize = maxFileSize;
            QCOMPARE(carveInBuffer({jpeg}, hex("FFD8FFE0") + QByteArray(64, 'x')), std::vector<Hit>{});
        }
    }

    // Tens of thousands of hits sharing a 10 MiB read-ahead: the last-footer
    // search must not rescan the window per hit, which would take hours and
    // run into the test's time limit.
    void manyHitsShareOneFooterSearch()
    {
        constexpr std::size_t MiB = 1024 * 1024;
        QByteArray area(int(10 * MiB), '\0');
        for (int i = 0; i < 256 * 1024; i += 4)
            area.replace(i, 4, hex("FFD8FF00"));
        area.replace(int(9 * MiB), 2, hex("FFD9"));
        CarveInput input;
        input.buffer = span(area).first(256 * 1024);
        input.scanLength = input.buffer.size();
        input.area = span(area);
        input.windowCap = 10 * MiB;
        const Carver carver({catalogueRow(QStringLiteral("JPEG"))});
        std::size_t hits = 0;
        bool allGood = true;
        carver.carve(input, [&](const CarveHit &h) {
            ++hits;
            allGood &= h.health == CarvedFileHealth::good && h.end == qint64(9 * MiB + 2 - h.position);
        });
        QCOMPARE(hits, std::size_t(65536));
        QVERIFY(allGood);
    }

    void scanLengthLimitsStartPositionsOnly()
    {
        // The header at 8 is beyond scanLength; the one at 2 still finds its
        // footer beyond scanLength.
        const QByteArray buffer = hex("0000FFD8FF00AAAAFFD8FF") + QByteArray(20, 'x') + hex("FFD9");
        CarveInput input = CarveInput::inBuffer(span(buffer), 8, 1000);
        QCOMPARE(carve({catalogueRow(QStringLiteral("JPEG"))}, input),
                 (std::vector<Hit>{{2, "JPEG", qint64(buffer.size()) - 2, CarvedFileHealth::good}}));
        QCOMPARE(CarveInput::inBuffer(span(buffer), 1000, 0).scanLength, std::size_t(buffer.size()));
    }
};

QTEST_GUILESS_MAIN(TestCarver)
#include "tst_carver.moc"
