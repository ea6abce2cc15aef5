#include <QTest>

#include <random>

#include "carving/carveengine.h"
#include "carving/carver.h"
#include "carving/carvescan.h"
#include "helpers/referencecarver.h"
#include "helpers/testsupport.h"

Q_DECLARE_METATYPE(PairFilterPath)

// The engine against the plain definition over seeded random buffers. Each
// buffer is a patchwork of noise, zero runs, text, runs of a few byte values
// and planted headers, validator bytes and footers, so that overlapping,
// nested, cut-off and look-alike matches all occur.
namespace {
using Rng = std::mt19937_64;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

std::size_t below(Rng &rng, std::size_t n) { return n == 0 ? 0 : std::size_t(rng() % n); }
bool chance(Rng &rng, int percent) { return int(rng() % 100) < percent; }

FileSignature custom(const char *name, QByteArray header, std::optional<QByteArray> footer, qint64 maxSize)
{
    FileSignature s;
    s.typeName = QString::fromLatin1(name);
    s.fileExtension = QStringLiteral("bin");
    s.header = std::move(header);
    s.footer = std::move(footer);
    s.maxFileSize = maxSize;
    return s;
}

// Signatures outside the catalogue that stress the engine's assumptions.
QList<FileSignature> customSignatures(Rng &rng)
{
    QList<FileSignature> out;
    // Long header with a footer.
    out << custom("LONG", QByteArray("QUORVEL-LONG-HDR"), QByteArray("-END"), qint64(1) << 40);
    // A footer that also occurs inside the header.
    out << custom("OVERLAP", bytes({0xAB, 0xCD, 0xAB}), bytes({0xCD, 0xAB}), 1 << 20);
    // One-byte header, one-byte footer.
    out << custom("ONE", bytes({chance(rng, 50) ? 0xD9 : 0x18}), bytes({0xD8}), qint64(below(rng, 3000)) - 20);
    // A weak header without a promise: must still be exact in zero runs.
    FileSignature zeros = custom("ZEROS", bytes({0, 0, 0}), bytes({0xFF, 0xD9}), 200 + qint64(below(rng, 400)));
    zeros.validator = [](std::span<const std::uint8_t> b) { return b.size() >= 5 && b[3] == 0x10 && b[4] != 0; };
    out << zeros;
    // A weak header with a promise its validator keeps.
    FileSignature promised = custom("PROMISE", bytes({0xFF, 0xFF}), std::nullopt, 5000);
    promised.validator = [](std::span<const std::uint8_t> b) {
        return b.size() >= 9 && b[5] == 'Q' && b[6] == 'V' && b[8] != 0xFF;
    };
    promised.requiredBytes = QByteArray("QV");
    promised.requiredOffset = 5;
    out << promised;
    // A promise beyond what a validator sees: unusable, must be ignored.
    FileSignature farPromise = custom("FAR", bytes({0, 0}), std::nullopt, 100);
    farPromise.validator = [](std::span<const std::uint8_t> b) { return b.size() >= 3 && b[2] == 7; };
    farPromise.requiredBytes = QByteArray("zz");
    farPromise.requiredOffset = 15;
    out << farPromise;
    // A promise without a validator promises nothing.
    FileSignature noValidator = custom("NOVALID", bytes({0, 0, 0, 0x18}), std::nullopt, 64);
    noValidator.requiredBytes = QByteArray("ftyp");
    noValidator.requiredOffset = 4;
    out << noValidator;
    // A self-overlapping footer.
    out << custom("SELF", QByteArray("GIF8"), bytes({0xFF, 0xFF}), 1 << 16);
    return out;
}

QList<FileSignature> pickSignatures(Rng &rng, bool smallBuffer)
{
    QList<FileSignature> pool = defaultSignatures();
    const QList<FileSignature> extras = customSignatures(rng);
    const int mode = int(below(rng, 10));
    if (mode == 0)
        return {};
    if (mode == 1)
        return pool;   // the full catalogue, in order
    QList<FileSignature> list;
    for (const FileSignature &s : pool) {
        if (chance(rng, 40))
            list << s;
    }
    for (const FileSignature &s : extras) {
        if (chance(rng, 30))
            list << s;
    }
    if (smallBuffer && chance(rng, 20))
        list << custom("EMPTY", QByteArray(), std::nullopt, 11 + qint64(below(rng, 40)));
    if (!list.isEmpty() && chance(rng, 20))
        list << list[int(below(rng, std::size_t(list.size())))];   // the same row twice
    if (chance(rng, 40))
        std::shuffle(list.begin(), list.end(), rng);
    return list;
}

const char *const words[] = {"the ", "after ", "software ", "GIFT ", "RIFF ", "BMW ", "ID3 ", "left ", "PK ",
                             "Rar ", "soft ", "fLaC ", "ftyp ", "%PDF ", "II ", "WEBP ", "AVI ", "\n"};

void plantAnything(Rng &rng, QByteArray &out, const QList<FileSignature> &signatures)
{
    switch (below(rng, 12)) {
    case 0: { // noise
        const std::size_t n = below(rng, 4000);
        for (std::size_t i = 0; i < n; ++i)
            out.append(char(rng()));
        break;
    }
    case 1: // zero run
        out.append(QByteArray(int(below(rng, 9000)), '\0'));
        break;
    case 2: { // text
        const std::size_t n = below(rng, 200);
        for (std::size_t i = 0; i < n; ++i)
            out.append(words[below(rng, std::size(words))]);
        break;
    }
    case 3: { // a few byte values, densely overlapping
        static const char alphabet[] = {'\0', '\xFF', '\xD8', '\xD9', 'f', 't', 'y', 'p', 'R', 'I', 'F',
                                        '\xAB', '\xCD', 'Q', 'V', '\x10', ';', 'G'};
        const std::size_t n = below(rng, 600);
        for (std::size_t i = 0; i < n; ++i)
            out.append(alphabet[below(rng, sizeof alphabet)]);
        break;
    }
    case 4: { // ftyp box with a brand
        static const char *const brands[] = {"heic", "heix", "heif", "qt  ", "M4A ", "M4A\0", "isom", "mp42"};
        out.append(bytes({0, 0, 0, int(below(rng, 256))}));
        out.append("ftyp");
        out.append(brands[below(rng, std::size(brands))], 4);
        break;
    }
    case 5: { // RIFF container
        static const char *const kinds[] = {"WEBP", "AVI ", "WAVE", "AVI\0", "WEBp"};
        out.append("RIFF");
        for (int i = 0; i < 4; ++i)
            out.append(char(rng()));
        out.append(kinds[below(rng, std::size(kinds))], 4);
        break;
    }
    case 6:
    case 7:
        if (!signatures.isEmpty()) {
            const FileSignature &s = signatures[int(below(rng, std::size_t(signatures.size())))];
            out.append(s.header);
        }
        break;
    case 8:
    case 9:
        if (!signatures.isEmpty()) {
            const FileSignature &s = signatures[int(below(rng, std::size_t(signatures.size())))];
            if (s.footer)
                out.append(*s.footer);
        }
        break;
    case 10: // runs of one non-zero byte value
        out.append(QByteArray(int(below(rng, 300)), char(chance(rng, 50) ? 0xFF : 0x20)));
        break;
    default: // ftyp box that begins inside a zero run
        out.append(QByteArray(int(below(rng, 40)), '\0'));
        out.append(bytes({0x18}));
        out.append("ftypheic");
        break;
    }
}

// A header planted with its promised bytes at the promised offset.
void plantPromised(Rng &rng, QByteArray &out, const QList<FileSignature> &signatures)
{
    for (const FileSignature &s : signatures) {
        if (s.requiredBytes.isEmpty() || !chance(rng, 30))
            continue;
        const int start = int(out.size());
        out.append(s.header);
        while (out.size() < start + s.requiredOffset)
            out.append(char(rng() % 4 == 0 ? 0 : rng()));
        out.resize(start + s.requiredOffset);
        out.append(s.requiredBytes);
        for (int i = 0; i < 6; ++i)
            out.append(char(rng()));
    }
}

QByteArray makeBuffer(Rng &rng, std::size_t target, const QList<FileSignature> &signatures)
{
    QByteArray out;
    while (std::size_t(out.size()) < target) {
        if (chance(rng, 15))
            plantPromised(rng, out, signatures);
        else
            plantAnything(rng, out, signatures);
    }
    out.truncate(int(target));
    // ftyp boxes whose header and "ftyp" lie on both sides of a page (and so
    // of any power-of-two block the engine may work in).
    if (chance(rng, 50)) {
        for (int page = 4096; page + 16 <= out.size(); page += 4096) {
            if (chance(rng, 50))
                out.replace(page - 1 - int(below(rng, 4)), 12, bytes({0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}));
        }
    }
    // Often end the buffer inside a header.
    if (!signatures.isEmpty() && target > 0 && chance(rng, 30)) {
        const FileSignature &s = signatures[int(below(rng, std::size_t(signatures.size())))];
        const int keep = int(below(rng, std::size_t(s.header.size())));
        if (keep <= out.size())
            out.replace(out.size() - keep, keep, s.header.left(keep));
    }
    return out;
}

QString describe(const CarveHit &h)
{
    return QStringLiteral("{pos %1 sig %2 end %3 %4}")
        .arg(h.position)
        .arg(h.signature)
        .arg(h.end)
        .arg(rawValue(h.health));
}

std::vector<CarveHit> engineCarve(const Carver &carver, const CarveInput &input)
{
    std::vector<CarveHit> hits;
    carver.carve(input, [&](const CarveHit &h) { hits.push_back(h); });
    return hits;
}

// Empty when equal, else the first difference.
QString firstDifference(const std::vector<CarveHit> &want, const std::vector<CarveHit> &got)
{
    for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const QString w = i < want.size() ? describe(want[i]) : QStringLiteral("(none)");
        const QString g = i < got.size() ? describe(got[i]) : QStringLiteral("(none)");
        if (w != g)
            return QStringLiteral("hit #%1 of %2/%3: reference %4, engine %5")
                .arg(i)
                .arg(want.size())
                .arg(got.size())
                .arg(w, g);
    }
    return {};
}
} // namespace

class TestCarverDifferential : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setPairFilterPath(std::nullopt); }

    void engineMatchesReference_data()
    {
        QTest::addColumn<PairFilterPath>("path");
        for (PairFilterPath path : {PairFilterPath::avx2, PairFilterPath::ssse3, PairFilterPath::portable})
            QTest::addRow("%s", pairFilterPathName(path)) << path;
    }
    void engineMatchesReference()
    {
        QFETCH(PairFilterPath, path);
        const bool isDefault = path == pairFilterPath();
        if (!setPairFilterPath(path))
            QSKIP("this processor lacks that instruction set");
        // QUORVEL_CARVE_SEEDS runs a longer soak.
        const int soak = qEnvironmentVariableIntValue("QUORVEL_CARVE_SEEDS");
        const int seeds = soak > 0 ? soak : isDefault ? 500 : 150;
        std::size_t totalHits = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            Rng rng(std::uint64_t(seed) * 0x9E3779B97F4A7C15ULL);
            // Sizes spread from empty to 256 KiB, most of them small.
            const std::size_t sizeClass = below(rng, 4);
            const std::size_t size = sizeClass == 0 ? below(rng, 64)
                : sizeClass == 1                    ? below(rng, 4096)
                : sizeClass == 2                    ? below(rng, 65536)
                                                    : below(rng, 262145);
            const QList<FileSignature> signatures = pickSignatures(rng, size < 4096);
            QByteArray buffer = makeBuffer(rng, size, signatures);
            QByteArray areaBytes;
            CarveInput input = CarveInput::inBuffer(bytesOf(buffer), buffer.size(), 4096);
            switch (below(rng, 6)) {
            case 0: // area reaching past the buffer, as a read-ahead
                areaBytes = buffer + makeBuffer(rng, below(rng, 70000), signatures);
                break;
            case 1: // area shorter than the buffer
                areaBytes = buffer.left(int(below(rng, std::size_t(buffer.size()) + 1)));
                break;
            case 2: // no area at all: the buffer itself
                input.area = {};
                break;
            default:
                break;
            }
            if (!areaBytes.isNull())
                input.area = bytesOf(areaBytes);
            if (chance(rng, 30))
                input.scanLength = below(rng, std::size_t(buffer.size()) + 1);
            if (chance(rng, 25))
                input.windowEnd = below(rng, std::max<std::size_t>(input.area.size(), buffer.size()) + 100);
            if (chance(rng, 30))
                input.windowCap = below(rng, 6000);
            else if (chance(rng, 10))
                input.windowEnd = std::numeric_limits<std::size_t>::max();

            const Carver carver(signatures);
            const std::vector<CarveHit> want = referenceCarve(signatures, input);
            const std::vector<CarveHit> got = engineCarve(carver, input);
            totalHits += want.size();
            const QString difference = firstDifference(want, got);
            if (!difference.isEmpty()) {
                QFAIL(qPrintable(QStringLiteral("seed %1 (size %2, %3 signatures): %4")
                                     .arg(seed)
                                     .arg(buffer.size())
                                     .arg(signatures.size())
                                     .arg(difference)));
            }
        }
        // Guard against a generator that plants nothing the engine could miss.
        QVERIFY2(totalHits > std::size_t(seeds) * 5, qPrintable(QString::number(totalHits)));
    }

    // A scan in steps over one source, each step's windows reaching ahead into
    // bytes the next steps see again, with footers remembered from step to
    // step: every step must still give exactly the plain definition's hits.
    // Steps, overlaps and reaches vary and need not line up with anything;
    // some areas end before the buffer or the windows, some windows end
    // before the area, and the memo is now and then handed a step that goes
    // back or a different carver, which must make it start afresh.
    void memoAcrossStepsMatchesReference()
    {
        const int soak = qEnvironmentVariableIntValue("QUORVEL_CARVE_SEEDS");
        const int seeds = soak > 0 ? soak : 60;
        std::size_t totalHits = 0, totalGood = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            Rng rng(std::uint64_t(seed) * 0xD1B54A32D192ED03ULL);
            const QList<FileSignature> signatures = chance(rng, 50) ? defaultSignatures() : pickSignatures(rng, false);
            QByteArray source = makeBuffer(rng, 20000 + below(rng, 300000), signatures);
            const std::size_t size = std::size_t(source.size());
            const std::size_t step = 1 + below(rng, chance(rng, 50) ? 40000 : 3000);
            const std::size_t overlap = below(rng, 40);
            const std::size_t reach = step + below(rng, 120000);
            // Footers cut by the end of one step's area and whole in the next.
            QList<QByteArray> footers;
            for (const FileSignature &s : signatures) {
                if (s.footer)
                    footers << *s.footer;
            }
            for (std::size_t end = reach; !footers.isEmpty() && end < size; end += step) {
                const QByteArray &footer = footers[int(below(rng, std::size_t(footers.size())))];
                const std::size_t at = end - 1 - below(rng, std::size_t(footer.size()));
                if (chance(rng, 30) && at + std::size_t(footer.size()) <= size)
                    source.replace(qsizetype(at), footer.size(), footer);
            }
            const auto *bytes = reinterpret_cast<const std::uint8_t *>(source.constData());
            // Mostly as the direct scan has it: windows end about where the
            // area of the step before ended.
            const std::size_t cap = chance(rng, 50) ? reach - step + below(rng, 50) - below(rng, 50)
                : chance(rng, 60)                   ? below(rng, reach + 2000)
                                                    : std::numeric_limits<std::size_t>::max();
            const quint64 sourceBase = chance(rng, 50) ? 0 : below(rng, 1u << 20);

            // Another list, whose footers number and order differ.
            QList<FileSignature> otherSignatures = signatures;
            std::reverse(otherSignatures.begin(), otherSignatures.end());
            if (!otherSignatures.isEmpty() && chance(rng, 50))
                otherSignatures.removeFirst();
            const Carver carver(signatures);
            const Carver other(otherSignatures);
            CarveFooterMemo memo;
            for (std::size_t offset = 0; offset < size;) {
                CarveInput input;
                input.buffer = {bytes + offset, std::min(step + overlap, size - offset)};
                input.scanLength = step;
                std::size_t areaLength = std::min(reach, size - offset);
                if (chance(rng, 20))
                    areaLength = below(rng, areaLength + 1);   // cut short, even below the buffer
                input.area = {bytes + offset, areaLength};
                input.windowEnd = chance(rng, 15) ? below(rng, areaLength + 100) : size - offset;
                input.windowCap = cap;
                input.baseOffset = sourceBase + offset;
                input.footerMemo = &memo;
                if (input.area.empty())
                    input.area = input.buffer;   // an empty area means the buffer

                const bool useOther = chance(rng, 3);
                const std::vector<CarveHit> want = referenceCarve(useOther ? otherSignatures : signatures, input);
                const std::vector<CarveHit> got = engineCarve(useOther ? other : carver, input);
                totalHits += want.size();
                for (const CarveHit &hit : want)
                    totalGood += hit.health == CarvedFileHealth::good;
                const QString difference = firstDifference(want, got);
                if (!difference.isEmpty()) {
                    QFAIL(qPrintable(QStringLiteral("seed %1 (size %2, step %3, reach %4, offset %5): %6")
                                         .arg(seed)
                                         .arg(size)
                                         .arg(step)
                                         .arg(reach)
                                         .arg(offset)
                                         .arg(difference)));
                }
                // Now and then step back over bytes already carved.
                if (chance(rng, 4) && offset > 0)
                    offset -= std::min(offset, 1 + below(rng, 2 * step));
                else
                    offset += step;
            }
        }
        QVERIFY2(totalHits > std::size_t(seeds) * 20, qPrintable(QString::number(totalHits)));
        QVERIFY2(totalGood > std::size_t(seeds), qPrintable(QString::number(totalGood)));
    }

    // A footer cut by the end of one step's area is whole in the next step's,
    // where a window ends right behind it: the memo must not have recorded
    // the cut one as absent.
    void memoDoesNotTrustCutFooters_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("inside");   // footer bytes inside the first area
        QTest::addRow("JPEG, 1 of 2") << QStringLiteral("JPEG") << 1;
        QTest::addRow("PNG, 1 of 8") << QStringLiteral("PNG") << 1;
        QTest::addRow("PNG, 7 of 8") << QStringLiteral("PNG") << 7;
        QTest::addRow("PDF, 3 of 5") << QStringLiteral("PDF") << 3;
    }
    void memoDoesNotTrustCutFooters()
    {
        QFETCH(QString, type);
        QFETCH(int, inside);
        const QList<FileSignature> signatures = catalogueRows({type});
        QCOMPARE(signatures.size(), 1);
        const FileSignature &sig = signatures.first();
        QByteArray source(400, 'x');
        source.replace(0, sig.header.size(), sig.header);
        source.replace(40, sig.header.size(), sig.header);
        source.replace(200, sig.footer->size(), *sig.footer);
        const auto bytes = bytesOf(source);
        const Carver carver(signatures);
        CarveFooterMemo memo;
        const CarveInput first{bytes.first(30), 30, bytes.first(std::size_t(200 + inside)), SIZE_MAX, SIZE_MAX, 0, &memo};
        const CarveInput second{bytes.subspan(30, 30), 30, bytes.subspan(30), std::size_t(170 + sig.footer->size()),
                                SIZE_MAX, 30, &memo};
        for (const CarveInput &input : {first, second}) {
            const std::vector<CarveHit> want = referenceCarve(signatures, input);
            const std::vector<CarveHit> got = engineCarve(carver, input);
            QVERIFY2(firstDifference(want, got).isEmpty(), qPrintable(firstDifference(want, got)));
        }
        const std::vector<CarveHit> hits = engineCarve(carver, second);
        QCOMPARE(hits.size(), std::size_t(1));
        QCOMPARE(hits[0].health, CarvedFileHealth::good);
    }

    // A header every few bytes, as crafted data has it, with footers only
    // here and there: each candidate's last-footer search overlaps the one
    // before, and the answer carried from it must be the one a search of the
    // whole window gives, including where a footer falls out of the window's
    // start or the windows run past the last footer.
    void memoWithDenseHeadersMatchesReference_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addRow("JPEG") << QStringLiteral("JPEG");
        QTest::addRow("PNG") << QStringLiteral("PNG");
        QTest::addRow("PDF") << QStringLiteral("PDF");
    }
    void memoWithDenseHeadersMatchesReference()
    {
        QFETCH(QString, type);
        const QList<FileSignature> signatures = catalogueRows({type});
        QCOMPARE(signatures.size(), 1);
        const FileSignature &sig = signatures.first();
        QByteArray source;
        while (source.size() < 96 * 1024)
            source += sig.header;
        for (const int at : {5000, 5003, 21000, 40000})
            source.replace(at, sig.footer->size(), *sig.footer);
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(source.constData());
        const std::size_t size = std::size_t(source.size());
        constexpr std::size_t step = 4096, reach = 3 * step + 500;

        const Carver carver(signatures);
        CarveFooterMemo memo;
        std::size_t good = 0;
        for (std::size_t offset = 0; offset < size; offset += step) {
            CarveInput input;
            input.buffer = {bytes + offset, std::min(step + 16, size - offset)};
            input.scanLength = step;
            input.area = {bytes + offset, std::min(reach, size - offset)};
            input.windowEnd = size - offset;
            input.windowCap = 2 * step + 300;
            input.baseOffset = offset;
            input.footerMemo = &memo;
            const std::vector<CarveHit> want = referenceCarve(signatures, input);
            const std::vector<CarveHit> got = engineCarve(carver, input);
            const QString difference = firstDifference(want, got);
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("offset %1: %2").arg(offset).arg(difference)));
            for (const CarveHit &hit : want)
                good += hit.health == CarvedFileHealth::good;
        }
        QVERIFY(good > 0);
    }

    // The point of the memo: overlapping read-ahead windows are searched for
    // footers about once, not once per step. Random bytes hold no PNG or PDF
    // end, so without it every PNG or PDF header would send a search through
    // its whole window.
    void memoSearchesEachByteAboutOnce()
    {
        Rng rng(5);
        QByteArray source(8 << 20, '\0');
        for (char &c : source)
            c = char(rng());
        const QByteArray png = QByteArray::fromHex("89504E470D0A1A0A");
        for (int at = 1000; at + 100 < source.size(); at += 64 * 1024)
            source.replace(at, png.size(), at % 3 ? png : QByteArray("%PDF-1.7"));
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(source.constData());
        const std::size_t size = std::size_t(source.size());
        constexpr std::size_t step = 256 * 1024, reach = 11 * step;

        const Carver carver(defaultSignatures());
        CarveFooterMemo memo;
        std::size_t hits = 0;
        for (std::size_t offset = 0; offset < size; offset += step) {
            CarveInput input;
            input.buffer = {bytes + offset, std::min(step + 24, size - offset)};
            input.scanLength = step;
            input.area = {bytes + offset, std::min(reach, size - offset)};
            input.windowEnd = size - offset;
            input.windowCap = 10 * step;
            input.baseOffset = offset;
            input.footerMemo = &memo;
            carver.carve(input, [&](const CarveHit &) { ++hits; });
        }
        QVERIFY(hits >= size / (64 * 1024));
        QVERIFY2(memo.searchedBytes() <= size + size / 8, qPrintable(QString::number(memo.searchedBytes())));
    }

    // The prefilter on its own: never misses a planted anchor, and the vector
    // paths flag exactly what the portable path flags.
    void filterNeverMissesAnAnchor_data() { engineMatchesReference_data(); }
    void filterNeverMissesAnAnchor()
    {
        QFETCH(PairFilterPath, path);
        if (!setPairFilterPath(path))
            QSKIP("this processor lacks that instruction set");
        Rng rng(77);
        for (int round = 0; round < 200; ++round) {
            std::vector<PairFilter::Anchor> anchors;
            const std::size_t count = 1 + below(rng, 30);
            for (std::size_t i = 0; i < count; ++i) {
                PairFilter::Anchor a;
                a.first = std::uint8_t(rng());
                if (!chance(rng, 15))
                    a.second = std::uint8_t(rng());
                anchors.push_back(a);
            }
            const PairFilter filter(anchors);
            std::vector<std::uint8_t> data(below(rng, 5000));
            for (auto &b : data)
                b = chance(rng, 30) ? anchors[below(rng, count)].first : chance(rng, 30) ? 0 : std::uint8_t(rng());
            const std::size_t begin = below(rng, data.size() / 2 + 1);
            const std::size_t end = begin + below(rng, data.size() - begin + 1);
            std::vector<std::size_t> fast(end - begin + PairFilter::outputSlack), slow(end - begin + 1);
            fast.resize(filter.scan(data.data(), data.size(), begin, end, fast.data()));
            slow.resize(filter.scanScalar(data.data(), data.size(), begin, end, slow.data()));
            QCOMPARE(fast, slow);
            std::size_t at = 0;
            for (std::size_t x = begin; x < end; ++x) {
                bool isAnchor = false;
                for (const auto &a : anchors)
                    isAnchor |= data[x] == a.first && (!a.second || (x + 1 < data.size() && data[x + 1] == *a.second));
                while (at < fast.size() && fast[at] < x)
                    ++at;
                if (isAnchor)
                    QVERIFY2(at < fast.size() && fast[at] == x, qPrintable(QStringLiteral("round %1 x %2").arg(round).arg(x)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCarverDifferential)
#include "tst_carver_differential.moc"
