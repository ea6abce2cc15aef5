#include <QTest>

#include <random>
#include <thread>

#include "model/filesignature.h"

namespace {
using Rule = bool (*)(std::span<const std::uint8_t>);

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

std::span<const std::uint8_t> span(const QByteArray &bytes, qsizetype length = -1)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()),
            std::size_t(length < 0 ? bytes.size() : length)};
}

const struct {
    const char *name;
    Rule rule;
} rules[] = {
    {"WebP", SignatureRules::webp}, {"HEIC", SignatureRules::heic}, {"MP4", SignatureRules::mp4},
    {"MOV", SignatureRules::mov},   {"AVI", SignatureRules::avi},   {"WAV", SignatureRules::wav},
    {"M4A", SignatureRules::m4a},
};

Rule ruleNamed(const QString &name)
{
    for (const auto &r : rules) {
        if (name == QLatin1String(r.name))
            return r.rule;
    }
    return nullptr;
}

// The rows (by typeName) whose header and validator accept `bytes` at 0.
QStringList acceptingRows(const QByteArray &bytes)
{
    QStringList rows;
    for (const FileSignature &s : defaultSignatures()) {
        if (s.headerMatches(span(bytes), 0) && (!s.validator || s.validator(span(bytes, std::min<qsizetype>(16, bytes.size())))))
            rows << s.typeName;
    }
    return rows;
}
} // namespace

class TestSignatures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void catalogue_data()
    {
        QTest::addColumn<QString>("typeName");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("footer");   // empty: none
        QTest::addColumn<qint64>("maxFileSize");
        QTest::addColumn<FileCategory>("category");
        QTest::addColumn<QString>("rule");       // empty: no validator
        constexpr qint64 MiB = 1024 * 1024;
        constexpr qint64 GiB = 1024 * MiB;
        using C = FileCategory;
        const auto row = [](int n, const char *type, const char *ext, const char *header, const char *footer,
                            qint64 max, C category, const char *rule) {
            QTest::addRow("%d %s", n, type) << QString::fromLatin1(type) << QString::fromLatin1(ext) << hex(header)
                                            << hex(footer) << max << category << QString::fromLatin1(rule);
        };
        row(1, "JPEG", "jpg", "FFD8FF", "FFD9", 50 * MiB, C::image, "");
        row(2, "PNG", "png", "89504E470D0A1A0A", "49454E44AE426082", 100 * MiB, C::image, "");
        row(3, "GIF", "gif", "47494638", "003B", 50 * MiB, C::image, "");
        row(4, "BMP", "bmp", "424D", "", 100 * MiB, C::image, "");
        row(5, "TIFF", "tiff", "49492A00", "", 200 * MiB, C::image, "");
        row(6, "WebP", "webp", "52494646", "", 50 * MiB, C::image, "WebP");
        row(7, "HEIC", "heic", "000000", "", 50 * MiB, C::image, "HEIC");
        row(8, "PDF", "pdf", "25504446", "2525454F46", 500 * MiB, C::document, "");
        row(9, "ZIP/DOCX", "zip", "504B0304", "", 1 * GiB, C::archive, "");
        row(10, "RAR", "rar", "526172211A07", "", 1 * GiB, C::archive, "");
        row(11, "7z", "7z", "377ABCAF271C", "", 1 * GiB, C::archive, "");
        row(12, "MP4", "mp4", "000000", "", 4 * GiB, C::video, "MP4");
        row(13, "MOV", "mov", "000000", "", 4 * GiB, C::video, "MOV");
        row(14, "AVI", "avi", "52494646", "", 4 * GiB, C::video, "AVI");
        row(15, "MP3 (ID3)", "mp3", "494433", "", 100 * MiB, C::audio, "");
        row(16, "MP3", "mp3", "FFFB", "", 100 * MiB, C::audio, "");
        row(17, "FLAC", "flac", "664C6143", "", 500 * MiB, C::audio, "");
        row(18, "WAV", "wav", "52494646", "", 500 * MiB, C::audio, "WAV");
        row(19, "AAC", "aac", "FFF1", "", 100 * MiB, C::audio, "");
        row(20, "M4A", "m4a", "000000", "", 500 * MiB, C::audio, "M4A");
    }
    void catalogue()
    {
        QFETCH(QString, typeName);
        QFETCH(QString, extension);
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, footer);
        QFETCH(qint64, maxFileSize);
        QFETCH(FileCategory, category);
        QFETCH(QString, rule);
        const int index = QString::fromLatin1(QTest::currentDataTag()).section(QLatin1Char(' '), 0, 0).toInt() - 1;
        QCOMPARE(defaultSignatures().size(), 20);
        const FileSignature &s = defaultSignatures()[index];
        QCOMPARE(s.typeName, typeName);
        QCOMPARE(s.fileExtension, extension);
        QCOMPARE(s.header.toHex(), header.toHex());
        QCOMPARE(s.footer.has_value(), !footer.isEmpty());
        if (s.footer)
            QCOMPARE(s.footer->toHex(), footer.toHex());
        QCOMPARE(s.maxFileSize, maxFileSize);
        QCOMPARE(s.category, category);
        QCOMPARE(bool(s.validator), !rule.isEmpty());
        if (!rule.isEmpty()) {
            // The row's validator is that rule: they agree on every probe.
            const Rule expected = ruleNamed(rule);
            QVERIFY(expected);
            static const QByteArray probes[] = {
                hex("00000018") + "ftypheic" + hex("00000000"), hex("00000018") + "ftypqt  " + hex("00000000"),
                hex("00000018") + "ftypM4A " + hex("00000000"), hex("00000018") + "ftypisom" + hex("00000000"),
                QByteArray("RIFF\x01\x02\x03\x04WEBPVP8 "),     QByteArray("RIFF\x01\x02\x03\x04" "AVI LIST"),
                QByteArray("RIFF\x01\x02\x03\x04WAVEfmt "),     QByteArray(16, '\0'),
            };
            for (const QByteArray &probe : probes)
                QCOMPARE(s.validator(span(probe)), expected(span(probe)));
        }
    }

    // Each rule against exact byte strings; every string is handed over with
    // exactly its own length, so a rule that reads past the end or ignores
    // its minimum length fails here.
    void rules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("expected");
        const QByteArray box = hex("00000018");
        QTest::addRow("HEIC heic") << "HEIC" << box + "ftypheic" << true;
        QTest::addRow("HEIC heix") << "HEIC" << box + "ftypheix" << true;
        QTest::addRow("HEIC heif") << "HEIC" << box + "ftypheif" << false;
        QTest::addRow("HEIC 11 bytes") << "HEIC" << box + "ftyphei" << false;
        QTest::addRow("HEIC upper case") << "HEIC" << box + "ftypHEIC" << false;
        QTest::addRow("MP4 any brand") << "MP4" << box + "ftypisom" << true;
        QTest::addRow("MP4 8 bytes") << "MP4" << box + "ftyp" << true;
        QTest::addRow("MP4 7 bytes") << "MP4" << box + "fty" << false;
        QTest::addRow("MP4 without ftyp") << "MP4" << box + "moov" << false;
        QTest::addRow("MOV qt") << "MOV" << box + "ftypqt  " << true;
        QTest::addRow("MOV 11 bytes") << "MOV" << box + "ftypqt " << false;
        QTest::addRow("MP4 11-byte qt box") << "MP4" << box + "ftypqt " << true;
        QTest::addRow("MOV other brand") << "MOV" << box + "ftypisom" << false;
        QTest::addRow("M4A with space") << "M4A" << box + "ftypM4A " << true;
        QTest::addRow("M4A with zero byte") << "M4A" << box + "ftypM4A" + QByteArray(1, '\0') << false;
        QTest::addRow("M4A 11 bytes") << "M4A" << box + "ftypM4A" << false;
        QTest::addRow("M4A without ftyp") << "M4A" << box + "abcdM4A " << false;
        QTest::addRow("WebP") << "WebP" << QByteArray("RIFF1234WEBP") << true;
        QTest::addRow("WebP 11 bytes") << "WebP" << QByteArray("RIFF1234WEB") << false;
        QTest::addRow("WebP lower case") << "WebP" << QByteArray("RIFF1234webp") << false;
        QTest::addRow("AVI with space") << "AVI" << QByteArray("RIFF1234AVI ") << true;
        QTest::addRow("AVI with zero byte") << "AVI" << QByteArray("RIFF1234AVI") + QByteArray(1, '\0') << false;
        QTest::addRow("WAV") << "WAV" << QByteArray("RIFF1234WAVE") << true;
        QTest::addRow("WAV 11 bytes") << "WAV" << QByteArray("RIFF1234WAV") << false;
        QTest::addRow("empty") << "MP4" << QByteArray() << false;
    }
    void rules()
    {
        QFETCH(QString, rule);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, expected);
        // Copy into a buffer whose next byte would complete any match, then
        // hand over only the bytes of the row.
        QByteArray padded = bytes + QByteArray("p    WEBP");
        QCOMPARE(ruleNamed(rule)(span(padded, bytes.size())), expected);
    }

    // Which catalogue rows accept a candidate (header and validator).
    void rowsAccepting_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("rows");
        const QByteArray box = hex("00000018");
        QTest::addRow("ftyp heic: HEIC then MP4") << box + "ftypheic" + QByteArray(4, '\0') << QStringList{"HEIC", "MP4"};
        QTest::addRow("ftyp heif: MP4 only") << box + "ftypheif" + QByteArray(4, '\0') << QStringList{"MP4"};
        QTest::addRow("ftyp qt: MP4 and MOV") << box + "ftypqt  " + QByteArray(4, '\0') << QStringList{"MP4", "MOV"};
        QTest::addRow("ftyp M4A: MP4 and M4A") << box + "ftypM4A " + QByteArray(4, '\0') << QStringList{"MP4", "M4A"};
        QTest::addRow("RIFF WEBP") << QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16) << QStringList{"WebP"};
        QTest::addRow("RIFF AVI") << QByteArray("RIFF\x10\0\0\0" "AVI LIST", 16) << QStringList{"AVI"};
        QTest::addRow("RIFF WAVE") << QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16) << QStringList{"WAV"};
        QTest::addRow("RIFF other") << QByteArray("RIFF\x10\0\0\0RMIDdata", 16) << QStringList{};
        QTest::addRow("big-endian TIFF") << hex("4D4D002A") + QByteArray(12, 'x') << QStringList{};
        QTest::addRow("little-endian TIFF") << hex("49492A00") + QByteArray(12, 'x') << QStringList{"TIFF"};
        QTest::addRow("three zero bytes alone") << QByteArray(16, '\0') << QStringList{};
        QTest::addRow("MPEG audio frame") << hex("FFFB9064") << QStringList{"MP3"};
        QTest::addRow("ADTS frame") << hex("FFF15080") << QStringList{"AAC"};
    }
    void rowsAccepting()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, rows);
        QCOMPARE(acceptingRows(bytes), rows);
    }

    void headerMatches_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("expected");
        QTest::addRow("at 0") << hex("FFD8FF00") << 0 << true;
        QTest::addRow("at the very end") << hex("00FFD8FF") << 1 << true;
        QTest::addRow("cut by the end") << hex("0000FFD8") << 2 << false;
        QTest::addRow("position past the end") << hex("FFD8FF") << 4 << false;
        QTest::addRow("empty bytes") << QByteArray() << 0 << false;
    }
    void headerMatches()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, position);
        QFETCH(bool, expected);
        QByteArray padded = bytes + hex("FFD8FF");   // a match just past the end must not count
        QCOMPARE(defaultSignatures()[0].headerMatches(span(padded, bytes.size()), std::size_t(position)), expected);
    }

    // The carver skips every position whose promised bytes are missing, so a
    // validator that accepted such bytes would lose hits: hold each promise
    // against its validator over many random candidates.
    void promisesHoldForTheirValidators()
    {
        std::mt19937 rng(11);
        int withPromise = 0;
        for (const FileSignature &s : defaultSignatures()) {
            if (s.requiredBytes.isEmpty())
                continue;
            ++withPromise;
            QVERIFY(s.validator);
            QVERIFY(s.requiredOffset >= 0 && s.requiredOffset + s.requiredBytes.size() <= 16);
            // A buffer that passes: header, then the promised bytes, then
            // whatever the validator wants beyond them (found by trying).
            static const char *const fills[] = {"heic", "qt  ", "M4A ", "WEBP", "AVI ", "WAVE", "isom"};
            QByteArray passing;
            for (const char *fill : fills) {
                QByteArray candidate = s.header.leftJustified(16, 'x');
                candidate.replace(s.requiredOffset, s.requiredBytes.size(), s.requiredBytes);
                if (s.requiredOffset + s.requiredBytes.size() < 12)
                    candidate.replace(8, 4, fill);
                candidate.replace(s.requiredOffset, s.requiredBytes.size(), s.requiredBytes);
                if (s.validator(span(candidate)))
                    passing = candidate;
            }
            QVERIFY2(!passing.isEmpty(), qPrintable(s.typeName));
            for (int round = 0; round < 2000; ++round) {
                QByteArray mutated = passing;
                const int flips = 1 + int(rng() % 3);
                for (int i = 0; i < flips; ++i)
                    mutated[int(rng() % 16)] = char(rng());
                const int length = int(rng() % 17);
                const bool keeps = length >= s.requiredOffset + s.requiredBytes.size()
                    && mutated.mid(s.requiredOffset, s.requiredBytes.size()) == s.requiredBytes;
                if (!keeps)
                    QVERIFY2(!s.validator(span(mutated, length)), qPrintable(s.typeName));
            }
        }
        QCOMPARE(withPromise, 7);
    }

    void catalogueIsBuiltOnce()
    {
        std::vector<const QList<FileSignature> *> seen(8, nullptr);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&seen, i] { seen[i] = &defaultSignatures(); });
        for (std::thread &t : threads)
            t.join();
        for (const auto *list : seen)
            QCOMPARE(list, &defaultSignatures());
    }
};

QTEST_GUILESS_MAIN(TestSignatures)
#include "tst_signatures.moc"
