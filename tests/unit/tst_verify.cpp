#include <QTemporaryDir>
#include <QTest>

#include <random>

#include "carving/verify/checksums.h"
#include "carving/verify/hitverifier.h"
#include "carving/verify/walkers.h"
#include "helpers/samplefiles.h"
#include "helpers/testsupport.h"
#include "model/bytesource.h"
#include "model/filesignature.h"

using namespace Verify;

namespace {

Outcome walk(const QString &typeName, const QByteArray &bytes)
{
    HitBytes hit(bytesOf(bytes));
    const Walker walker = walkerFor(typeName);
    return walker ? walker(hit, nullptr) : Outcome::refused(QStringLiteral("no walker"));
}

// Bytes read through a source, as a scan reads past its read-ahead.
class CountingSource : public ByteSource
{
public:
    explicit CountingSource(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override
    {
        ++reads;
        if (offset + quint64(length) > quint64(unreadableFrom)) {
            *error = QStringLiteral("Input/output error");
            return false;
        }
        *out = m_bytes.mid(qsizetype(offset), qsizetype(length));
        return out->size() == length;
    }
    mutable int reads = 0;
    qint64 unreadableFrom = std::numeric_limits<qint64>::max();

private:
    QByteArray m_bytes;
};

// A large device of zeros with a few pieces planted in it, that counts
// what is read through it; no memory is taken for the zeros.
class PlantedSource : public ByteSource
{
public:
    explicit PlantedSource(quint64 size)
        : m_size(size)
    {
    }
    void plant(quint64 offset, const QByteArray &bytes) { m_planted.append({offset, bytes}); }
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *) const override
    {
        const quint64 end = std::min(m_size, offset + quint64(length));
        *out = QByteArray(qsizetype(end > offset ? end - offset : 0), '\0');
        for (const auto &[at, bytes] : m_planted) {
            for (qsizetype i = 0; i < bytes.size(); ++i) {
                if (at + quint64(i) >= offset && at + quint64(i) < end)
                    (*out)[qsizetype(at + quint64(i) - offset)] = bytes[i];
            }
        }
        bytesRead += quint64(out->size());
        return true;
    }
    mutable quint64 bytesRead = 0;

private:
    quint64 m_size;
    QList<std::pair<quint64, QByteArray>> m_planted;
};

} // namespace

class TestVerify : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void checksums_data();
    void checksums();

    void wholeFiles_data();
    void wholeFiles();
    void followedByOtherBytes_data() { wholeFiles_data(); }
    void followedByOtherBytes();
    void backToBack_data() { wholeFiles_data(); }
    void backToBack();
    void truncated_data() { wholeFiles_data(); }
    void truncated();
    void readPastTheWindow_data() { wholeFiles_data(); }
    void readPastTheWindow();

    void damaged_data();
    void damaged();
    void embeddedAndUpdated_data();
    void embeddedAndUpdated();

    void randomBytesAfterHeaders_data();
    void randomBytesAfterHeaders();

    void limitsAndReasons_data();
    void limitsAndReasons();
    void searchMemoMatchesPlainSearch();
    void endSearchesStayWithinBudget_data();
    void endSearchesStayWithinBudget();

private:
    QTemporaryDir m_folder;
    QList<SampleFile> m_samples;
    const SampleFile *sample(const QString &name) const
    {
        for (const SampleFile &s : m_samples) {
            if (s.name == name)
                return &s;
        }
        return nullptr;
    }
};

void TestVerify::initTestCase()
{
    QVERIFY(m_folder.isValid());
    m_samples = makeSampleFiles(m_folder.path());
}

void TestVerify::checksums_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<quint32>("expected");
    // Check values of "123456789" from the published CRC catalogues.
    QTest::addRow("crc-32") << "crc32" << quint32(0xCBF43926);
    QTest::addRow("crc-16 buypass") << "crc16" << quint32(0xFEE8);
    QTest::addRow("crc-8") << "crc8" << quint32(0xF4);
}

void TestVerify::checksums()
{
    QFETCH(QString, kind);
    QFETCH(quint32, expected);
    const QByteArray text("123456789");
    quint32 whole = 0, split = 0;
    if (kind == QLatin1String("crc32")) {
        whole = crc32(bytesOf(text));
        split = crc32(bytesOf(text.mid(4)), crc32(bytesOf(text.left(4))));
    } else if (kind == QLatin1String("crc16")) {
        whole = crc16(bytesOf(text));
        split = crc16(bytesOf(text.mid(4)), crc16(bytesOf(text.left(4))));
    } else {
        whole = crc8(bytesOf(text));
        split = crc8(bytesOf(text.mid(4)), crc8(bytesOf(text.left(4))));
    }
    QCOMPARE(whole, expected);
    QCOMPARE(split, expected);
}

void TestVerify::wholeFiles_data()
{
    QTest::addColumn<QString>("name");
    for (const SampleFile &s : std::as_const(m_samples))
        QTest::addRow("%s", qPrintable(s.name)) << s.name;
}

#define FETCH_SAMPLE()                                                                                                 \
    QFETCH(QString, name);                                                                                             \
    const SampleFile *s = sample(name);                                                                                \
    QVERIFY(s);                                                                                                        \
    if (s->bytes.isEmpty())                                                                                            \
        QSKIP(qPrintable(s->missing));

void TestVerify::wholeFiles()
{
    FETCH_SAMPLE();
    const Outcome outcome = walk(s->typeName, s->bytes);
    QVERIFY2(outcome.verified, qPrintable(outcome.reason));
    QCOMPARE(outcome.length, quint64(s->bytes.size()));
}

void TestVerify::followedByOtherBytes()
{
    FETCH_SAMPLE();
    // What follows a deleted file on a disk: the zeros of its last block,
    // then whatever was written there before.
    for (const QByteArray &after : QList<QByteArray>{QByteArray(700, 0) + randomBytes(5000, 1), randomBytes(5000, 2)}) {
        const Outcome outcome = walk(s->typeName, s->bytes + after);
        QVERIFY2(outcome.verified, qPrintable(outcome.reason));
        QCOMPARE(outcome.length, quint64(s->bytes.size()));
    }
}

void TestVerify::backToBack()
{
    FETCH_SAMPLE();
    if (!s->endsByItself)
        QSKIP("frames of two streams of one kind chain into one");
    const Outcome outcome = walk(s->typeName, s->bytes + s->bytes);
    QVERIFY2(outcome.verified, qPrintable(outcome.reason));
    QCOMPARE(outcome.length, quint64(s->bytes.size()));
}

void TestVerify::truncated()
{
    FETCH_SAMPLE();
    // Without its last byte a PDF still ends in "%%EOF", which may close it.
    const qsizetype lastCut = s->typeName == QLatin1String("PDF") ? s->bytes.size() - 2 : s->bytes.size() - 1;
    for (const qsizetype keep : {s->bytes.size() / 2 + 7, lastCut}) {
        const Outcome outcome = walk(s->typeName, s->bytes.left(keep));
        QVERIFY2(!outcome.verified, qPrintable(QStringLiteral("verified %1 of %2 bytes").arg(outcome.length).arg(keep)));
        QVERIFY(!outcome.reason.isEmpty());
    }
}

void TestVerify::readPastTheWindow()
{
    FETCH_SAMPLE();
    // Only the first bytes are in memory; the rest comes through the source.
    const QByteArray disk = randomBytes(333, 3) + s->bytes + randomBytes(4000, 4);
    const auto source = std::make_shared<CountingSource>(disk);
    for (const qsizetype inMemory : {qsizetype(0), qsizetype(17), s->bytes.size() / 3}) {
        const QByteArray head = s->bytes.left(inMemory);
        HitBytes hit(bytesOf(head), source, 333, quint64(disk.size() - 333));
        const Outcome outcome = walkerFor(s->typeName)(hit, nullptr);
        QVERIFY2(outcome.verified, qPrintable(outcome.reason));
        QCOMPARE(outcome.length, quint64(s->bytes.size()));
    }
}

void TestVerify::damaged_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("after");   // the last occurrence of these bytes; empty: the file's start
    QTest::addColumn<int>("at");             // from there; negative: from the end
    QTest::addColumn<QString>("reason");
    QTest::addRow("png data") << "png" << QByteArray() << -40 << "CRC mismatch";
    QTest::addRow("png header") << "png" << QByteArray() << 20 << "CRC mismatch";
    QTest::addRow("flac frame") << "flac" << QByteArray() << -300 << "frame";
    QTest::addRow("7z start header") << "7z" << QByteArray() << 14 << "CRC mismatch";
    QTest::addRow("7z end header") << "7z" << QByteArray() << -5 << "CRC mismatch";
    QTest::addRow("rar 4 block") << "rar 4" << QByteArray() << 14 << "CRC mismatch";
    QTest::addRow("rar 5 block") << "rar 5" << QByteArray() << 13 << "CRC mismatch";
    QTest::addRow("zip directory offset") << "zip" << QByteArray("PK\x05\x06") << 16 << "start of the archive";
    QTest::addRow("zip entry offset") << "zip" << QByteArray("PK\x01\x02") << 42 << "does not match";
    QTest::addRow("jpeg header") << "jpeg baseline" << QByteArray() << 5 << "";
    QTest::addRow("gif image") << "gif" << QByteArray("\x2C\0\0\0\0", 5) << 10 << "";
    QTest::addRow("tiff directory") << "tiff" << QByteArray() << 4 << "";
    QTest::addRow("mp4 movie box") << "mp4" << QByteArray("moov") << 6 << "movie";
}

void TestVerify::damaged()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, after);
    QFETCH(int, at);
    QFETCH(QString, reason);
    const SampleFile *s = sample(name);
    QVERIFY(s);
    if (s->bytes.isEmpty())
        QSKIP(qPrintable(s->missing));
    QByteArray bytes = s->bytes;
    const qsizetype base = after.isEmpty() ? (at < 0 ? bytes.size() : 0) : bytes.lastIndexOf(after);
    QVERIFY(base >= 0);
    const qsizetype position = base + at;
    bytes[position] = char(bytes[position] ^ 0x5A);
    const Outcome outcome = walk(s->typeName, bytes + randomBytes(2000, 5));
    QVERIFY2(!outcome.verified, qPrintable(QStringLiteral("verified %1 bytes").arg(outcome.length)));
    QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
}

void TestVerify::embeddedAndUpdated_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("change");
    // A thumbnail's end marker inside the picture is not the picture's end.
    QTest::addRow("jpeg with thumbnail") << "jpeg baseline" << "thumbnail";
    // An incremental update: the end is the last revision's "%%EOF" line.
    QTest::addRow("pdf update") << "pdf" << "update";
    // A PDF inside a PDF's stream ends nothing.
    QTest::addRow("pdf in pdf") << "pdf" << "embed";
}

void TestVerify::embeddedAndUpdated()
{
    QFETCH(QString, name);
    QFETCH(QString, change);
    const SampleFile *s = sample(name);
    QVERIFY(s);
    if (s->bytes.isEmpty())
        QSKIP(qPrintable(s->missing));
    QByteArray file;
    if (change == QLatin1String("thumbnail")) {
        // APP1 "Exif": TIFF header, an IFD naming the thumbnail, the thumbnail.
        const QByteArray &thumb = sample(QStringLiteral("jpeg grey restart"))->bytes;
        QByteArray tiff("II*\0\x08\0\0\0", 8);
        tiff += QByteArray("\x02\0", 2);
        const quint32 thumbAt = 8 + 2 + 2 * 12 + 4;
        const auto entry = [](quint16 tag, quint32 value) {
            QByteArray e(12, '\0');
            e[0] = char(tag & 0xFF), e[1] = char(tag >> 8), e[2] = 4, e[4] = 1;
            for (int i = 0; i < 4; ++i)
                e[8 + i] = char((value >> (8 * i)) & 0xFF);
            return e;
        };
        tiff += entry(513, thumbAt) + entry(514, quint32(thumb.size())) + QByteArray(4, '\0') + thumb;
        const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
        QByteArray app1("\xFF\xE1", 2);
        app1.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF));
        file = s->bytes.left(2) + app1 + payload + s->bytes.mid(2);
    } else if (change == QLatin1String("update")) {
        const qsizetype xref = s->bytes.size();
        file = s->bytes + "99 0 obj\n<< /Type /Test >>\nendobj\n";
        const qsizetype newXref = file.size();
        file += "xref\n99 1\n" + QByteArray::number(xref).rightJustified(10, '0') + " 00000 n \ntrailer\n<< /Size 100 >>\n"
            + "startxref\n" + QByteArray::number(newXref) + "\n%%EOF\n";
    } else {
        // Another PDF's end where no cross-reference section is, as in an
        // attached file; inserted after the section so that it stays valid.
        file = s->bytes;
        const qsizetype trailer = file.lastIndexOf("trailer");
        QVERIFY(trailer > 0);
        file.insert(trailer, "%inner\n" + s->bytes.left(200) + "\nstartxref\n999999\n%%EOF\n");
    }
    const Outcome outcome = walk(s->typeName, file + randomBytes(3000, 6));
    QVERIFY2(outcome.verified, qPrintable(outcome.reason));
    QCOMPARE(outcome.length, quint64(file.size()));
}

void TestVerify::randomBytesAfterHeaders_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < defaultSignatures().size(); ++i)
        QTest::addRow("%s", qPrintable(defaultSignatures().at(i).typeName)) << i;
}

void TestVerify::randomBytesAfterHeaders()
{
    QFETCH(int, row);
    const FileSignature &signature = defaultSignatures().at(row);
    // Header (and what the validator asks for) over random bytes: what a raw
    // scan finds by the thousand and must never take for a file.
    QByteArray shape = signature.header;
    if (signature.validator) {
        static const QHash<QString, QByteArray> shapes = {
            {QStringLiteral("WebP"), QByteArray("RIFF\x10\0\0\0WEBP", 12)},
            {QStringLiteral("HEIC"), QByteArray("\0\0\0\x18" "ftypheic", 12)},
            {QStringLiteral("MP4"), QByteArray("\0\0\0\x18" "ftypisom", 12)},
            {QStringLiteral("MOV"), QByteArray("\0\0\0\x14" "ftypqt  ", 12)},
            {QStringLiteral("AVI"), QByteArray("RIFF\x10\0\0\0" "AVI ", 12)},
            {QStringLiteral("WAV"), QByteArray("RIFF\x10\0\0\0WAVE", 12)},
            {QStringLiteral("M4A"), QByteArray("\0\0\0\x18" "ftypM4A ", 12)},
        };
        shape = shapes.value(signature.typeName);
    }
    int verified = 0;
    for (unsigned trial = 0; trial < 2000; ++trial) {
        QByteArray bytes = randomBytes(4096, trial);
        // Random size fields mostly point far away; keep some nearby ones too.
        if (trial % 2 && signature.validator)
            bytes[4] = char(trial % 64);
        bytes.replace(0, shape.size(), shape);
        if (walk(signature.typeName, bytes).verified)
            ++verified;
    }
    QCOMPARE(verified, 0);
}

void TestVerify::limitsAndReasons_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("reason");
    QTest::addRow("device ends") << "device" << "ends past the end of the device";
    QTest::addRow("type limit") << "limit" << "larger than";
    QTest::addRow("read error") << "unreadable" << "unreadable at";
}

void TestVerify::limitsAndReasons()
{
    QFETCH(QString, situation);
    QFETCH(QString, reason);
    const SampleFile *png = sample(QStringLiteral("png"));
    QVERIFY(png && !png->bytes.isEmpty());
    const QByteArray disk = png->bytes + randomBytes(100, 7);
    const auto source = std::make_shared<CountingSource>(disk);
    quint64 remaining = quint64(disk.size());
    if (situation == QLatin1String("device"))
        remaining = quint64(png->bytes.size() - 10);
    if (situation == QLatin1String("unreadable"))
        source->unreadableFrom = png->bytes.size() / 2;
    // The span must outlive the walk: the scan's read-ahead as it holds the head.
    const QByteArray head = png->bytes.left(100);
    HitBytes hit(bytesOf(head), source, 0, remaining);
    if (situation == QLatin1String("limit"))
        hit.setTypeLimit(quint64(png->bytes.size() - 10));
    const Outcome outcome = walkPng(hit);
    QVERIFY(!outcome.verified);
    QVERIFY2(outcome.reason.startsWith(reason), qPrintable(outcome.reason));
}

void TestVerify::searchMemoMatchesPlainSearch()
{
    // Markers spread over a source; walks from increasing offsets search
    // ahead of themselves for the next one, as PDF candidates do.
    QByteArray disk = randomBytes(3 * 1024 * 1024, 8);
    std::mt19937 generator(9);
    for (int i = 0; i < 40; ++i)
        disk.replace(qsizetype(generator() % quint32(disk.size() - 8)), 5, "%%EOF");
    const auto source = std::make_shared<CountingSource>(disk);
    SearchMemo memo("%%EOF");
    quint64 offset = 0;
    for (int query = 0; query < 300; ++query) {
        offset += generator() % 20000;
        if (offset >= quint64(disk.size()))
            break;
        const quint64 remaining = quint64(disk.size()) - offset;
        const quint64 from = generator() % 64;
        const quint64 to = from + generator() % (2 * 1024 * 1024);
        HitBytes plain({}, source, offset, remaining);
        HitBytes remembered({}, source, offset, remaining);
        remembered.setSearchMemo(&memo);
        QCOMPARE(remembered.find("%%EOF", from, to), plain.find("%%EOF", from, to));
    }
}

void TestVerify::endSearchesStayWithinBudget_data()
{
    QTest::addColumn<int>("junkHeaders");     // PDF headers with no end, 8 MiB apart from 0 on
    QTest::addColumn<quint64>("base");
    QTest::addColumn<quint64>("scannedPerByte");
    QTest::addColumn<bool>("realPdf");        // a whole PDF after them, longer than its read-ahead
    QTest::addColumn<quint64>("mostRead");

    constexpr quint64 MiB = 1024 * 1024;
    // Unbounded, each header would read on to the end of the 128 MiB device.
    QTest::addRow("junk, fixed budget") << 12 << 4 * MiB << quint64(0) << false << 4 * MiB;
    QTest::addRow("junk, budget grows with the scan") << 12 << quint64(0) << quint64(16) << false << 6 * MiB;
    QTest::addRow("nothing past the read-ahead") << 12 << quint64(0) << quint64(0) << false << quint64(0);
    QTest::addRow("real PDF within budget") << 0 << 4 * MiB << quint64(0) << true << 4 * MiB;
    QTest::addRow("real PDF after junk") << 3 << 4 * MiB << quint64(8) << true << 7 * MiB;
}

void TestVerify::endSearchesStayWithinBudget()
{
    QFETCH(int, junkHeaders);
    QFETCH(quint64, base);
    QFETCH(quint64, scannedPerByte);
    QFETCH(bool, realPdf);
    QFETCH(quint64, mostRead);
    const SampleFile *pdf = sample(QStringLiteral("pdf"));
    if (realPdf && (!pdf || pdf->bytes.isEmpty()))
        QSKIP("no PDF encoder");

    constexpr quint64 MiB = 1024 * 1024;
    constexpr quint64 deviceSize = 128 * MiB;
    // The scan holds only each hit's first bytes, so every search for an
    // end goes through the source.
    constexpr qsizetype readAhead = 256;
    const auto source = std::make_shared<PlantedSource>(deviceSize);
    const QByteArray junk = QByteArray("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Length 99 >>\nstream\n");
    QList<std::pair<quint64, QByteArray>> hits;
    for (int i = 0; i < junkHeaders; ++i)
        hits.append({quint64(i) * 8 * MiB, junk});
    const quint64 realAt = quint64(junkHeaders) * 8 * MiB + 12345;
    if (realPdf)
        hits.append({realAt, pdf->bytes});

    QList<FileSignature> signatures;
    for (const FileSignature &signature : defaultSignatures()) {
        if (signature.typeName == QLatin1String("PDF"))
            signatures.append(signature);
    }
    QCOMPARE(signatures.size(), 1);
    HitVerifier verifier(signatures);
    verifier.setSearchBudget({base, scannedPerByte});
    for (const auto &[offset, bytes] : hits)
        source->plant(offset, bytes);
    for (const auto &[offset, bytes] : hits) {
        CarvedFile hit;
        hit.signatureType = QStringLiteral("PDF");
        hit.offset = offset;
        QList<CarvedFile> batch{hit};
        const QByteArray head = bytes.left(readAhead);
        verifier.verify(batch, {bytesOf(head), offset, source, deviceSize});
        const Verification &result = batch.constFirst().verification;
        if (offset == realAt) {
            QVERIFY2(result.isVerified(), qPrintable(result.reason));
            QCOMPARE(result.length, qint64(pdf->bytes.size()));
        } else {
            QVERIFY(result.isUnverified());
        }
    }
    // Blocks that meet overlap by a few bytes, read twice; and a walk that
    // found its end reads one block on to see whether an update follows.
    constexpr quint64 slack = HitBytes::maxView + 64 * 1024;
    QVERIFY2(source->bytesRead <= mostRead + slack, qPrintable(QString::number(source->bytesRead)));
}

QTEST_GUILESS_MAIN(TestVerify)
#include "tst_verify.moc"
