#include <QTest>

#include <random>

#include "helpers/testsupport.h"
#include "model/filesignature.h"

namespace {
using Rule = bool (*)(std::span<const std::uint8_t>);

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

Rule ruleNamed(const QString &name)
{
    static const QHash<QString, Rule> rules = {
        {QStringLiteral("WebP"), SignatureRules::webp}, {QStringLiteral("HEIC"), SignatureRules::heic},
        {QStringLiteral("MP4"), SignatureRules::mp4},   {QStringLiteral("MOV"), SignatureRules::mov},
        {QStringLiteral("AVI"), SignatureRules::avi},   {QStringLiteral("WAV"), SignatureRules::wav},
        {QStringLiteral("M4A"), SignatureRules::m4a},
    };
    return rules.value(name);
}
} // namespace

class TestSignatures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each rule against exact byte strings; every string is handed over with
    // exactly its own length, so a rule that reads past the end or ignores
    // its minimum length fails here.
    void rules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("expected");
        const QByteArray box = hex("00000018");
        QTest::addRow("HEIC heix") << "HEIC" << box + "ftypheix" << true;
        QTest::addRow("HEIC heif") << "HEIC" << box + "ftypheif" << false;
        QTest::addRow("HEIC 11 bytes") << "HEIC" << box + "ftyphei" << false;
        QTest::addRow("HEIC upper case") << "HEIC" << box + "ftypHEIC" << false;
        QTest::addRow("MP4 8 bytes") << "MP4" << box + "ftyp" << true;
        QTest::addRow("MP4 7 bytes") << "MP4" << box + "fty" << false;
        QTest::addRow("MP4 without ftyp") << "MP4" << box + "moov" << false;
        QTest::addRow("MOV qt") << "MOV" << box + "ftypqt  " << true;
        QTest::addRow("MOV 11 bytes") << "MOV" << box + "ftypqt " << false;
        QTest::addRow("M4A with space") << "M4A" << box + "ftypM4A " << true;
        QTest::addRow("M4A with zero byte") << "M4A" << box + "ftypM4A" + QByteArray(1, '\0') << false;
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
        const QByteArray padded = bytes + QByteArray("p    WEBP");
        QCOMPARE(ruleNamed(rule)(bytesOf(padded, bytes.size())), expected);
    }

    // Which catalogue rows accept a candidate (header and validator), in
    // catalogue order.
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
        QTest::addRow("three zero bytes alone") << QByteArray(16, '\0') << QStringList{};
        QTest::addRow("MPEG audio frame") << hex("FFFB9064") << QStringList{"MP3"};
    }
    void rowsAccepting()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, rows);
        QStringList accepting;
        for (const FileSignature &s : defaultSignatures()) {
            if (s.headerMatches(bytesOf(bytes), 0)
                && (!s.validator || s.validator(bytesOf(bytes, std::min<qsizetype>(16, bytes.size())))))
                accepting << s.typeName;
        }
        QCOMPARE(accepting, rows);
    }

    void headerMatches_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("expected");
        QTest::addRow("at the very end") << hex("00FFD8FF") << 1 << true;
        QTest::addRow("cut by the end") << hex("0000FFD8") << 2 << false;
        QTest::addRow("position past the end") << hex("FFD8FF") << 4 << false;
    }
    void headerMatches()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, position);
        QFETCH(bool, expected);
        const QByteArray padded = bytes + hex("FFD8FF");   // a match just past the end must not count
        QCOMPARE(catalogueRow(QStringLiteral("JPEG")).headerMatches(bytesOf(padded, bytes.size()), std::size_t(position)),
                 expected);
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
                if (s.requiredOffset + s.requiredBytes.size() < 12)
                    candidate.replace(8, 4, fill);
                candidate.replace(s.requiredOffset, s.requiredBytes.size(), s.requiredBytes);
                if (s.validator(bytesOf(candidate)))
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
                    QVERIFY2(!s.validator(bytesOf(mutated, length)), qPrintable(s.typeName));
            }
        }
        QVERIFY(withPromise > 0);
    }
};

QTEST_GUILESS_MAIN(TestSignatures)
#include "tst_signatures.moc"
