// The existing-file matching of many hits against a large table.
//
//   bench_matching [--hits N] [--files N]
//
// Builds a table of synthetic fingerprints (1,000,000 unless told) the way a
// walk fills it, with their paths, then judges synthetic hits (100,000 unless
// told) against it: a tenth carry an existing file's exact fingerprint, six
// tenths one within the size tolerance, the rest one with no file. Headers
// repeat across many files, as the first 32 bytes of one camera's photos do,
// so every hash has about a thousand entries. Then the same with a table twice
// as large. Prints, per size, the time to build the table, to judge the hits
// (the worker's part) and to mark them in the hit list (the part on the
// window's thread), and the ratio between the two sizes.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStringList>

#include <cstdio>
#include <ctime>

#include <sys/resource.h>

#include "carving/carvedfilemodel.h"
#include "carving/existingfiles.h"

namespace {

constexpr int headers = 1000;
constexpr int folders = 2000;

QByteArray headerNumber(int n)
{
    return QByteArray::fromHex("FFD8FFE1") + QByteArray::number(n).rightJustified(28, '0');
}

struct Timing {
    double build = 0;
    double judge = 0;
    double mark = 0;
    double cpu = 0; // processor time of all three, which a busy machine does not inflate
    qsizetype existing = 0;
};

Timing run(qsizetype files, qsizetype hitCount)
{
    const QList<FileSignature> signatures = defaultSignatures();
    QRandomGenerator random(42);
    QList<quint64> hashes;
    for (int h = 0; h < headers; ++h) {
        const QByteArray head = headerNumber(h);
        hashes.append(ExistingFiles::headerHash(
            std::span(reinterpret_cast<const std::uint8_t *>(head.constData()), std::size_t(head.size()))));
    }
    struct Planted {
        int header;
        qint64 size;
    };
    std::vector<Planted> planted;
    planted.reserve(std::size_t(files));

    Timing timing;
    const std::clock_t cpuStart = std::clock();
    QElapsedTimer clock;
    clock.start();
    PathTable paths(QStringLiteral("/Volumes/Photos"));
    FingerprintTable table(signatures);
    std::vector<quint32> folderIndex;
    for (int f = 0; f < folders; ++f)
        folderIndex.push_back(paths.add(PathTable::rootIndex, QByteArray(QByteArray("Folder ") + QByteArray::number(f)).toStdString()));
    for (qsizetype i = 0; i < files; ++i) {
        const int header = int(random.bounded(headers));
        const qint64 size = 100'000 + qint64(random.bounded(10'000'000));
        char name[32];
        const int length = std::snprintf(name, sizeof name, "IMG_%07lld.jpg", static_cast<long long>(i));
        table.add(0, size, hashes[header],
                  paths.add(folderIndex[std::size_t(i % folders)], std::string_view(name, std::size_t(length))));
        planted.push_back({header, size});
    }
    const double filled = double(clock.nsecsElapsed()) / 1e9;
    table.seal();
    timing.build = double(clock.nsecsElapsed()) / 1e9;
    std::printf("  %lld files: filled in %.3f s, sorted in %.3f s\n", static_cast<long long>(files), filled,
                timing.build - filled);

    QList<HitFacts> hits;
    QList<CarvedFile> rows;
    hits.reserve(hitCount);
    for (qsizetype i = 0; i < hitCount; ++i) {
        const Planted &from = planted[std::size_t(random.bounded(quint32(files)))];
        HitFacts hit;
        hit.hasData = true;
        hit.signatureType = signatures.first().typeName;
        const int kind = int(i % 10);
        if (kind == 0) {
            hit.head = headerNumber(from.header);
            hit.estimatedSize = from.size;
        } else if (kind <= 6) {
            hit.head = headerNumber(from.header);
            hit.estimatedSize = from.size + from.size / 20 - qint64(random.bounded(quint32(from.size / 10)));
        } else {
            hit.head = headerNumber(headers + int(i));
            hit.estimatedSize = from.size;
        }
        CarvedFile row;
        row.signatureType = hit.signatureType;
        hit.id = row.id;
        hits.append(hit);
        rows.append(row);
    }

    clock.restart();
    std::vector<Verdict> verdicts;
    verdicts.reserve(std::size_t(hitCount));
    for (const HitFacts &hit : std::as_const(hits))
        verdicts.push_back(judgeHit(hit, table, paths));
    timing.judge = double(clock.nsecsElapsed()) / 1e9;

    CarvedFileModel model;
    model.append(rows);
    clock.restart();
    for (qsizetype row = 0; row < hitCount; ++row) {
        const Verdict &verdict = verdicts[std::size_t(row)];
        const bool existing = verdict.mark == Verdict::Mark::existing;
        timing.existing += existing;
        model.setRecoveryStatus(row, existing ? RecoveryStatus::existing : RecoveryStatus::deleted, verdict.matchedPath);
    }
    timing.mark = double(clock.nsecsElapsed()) / 1e9;
    timing.cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    return timing;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    auto option = [&](const char *name, qsizetype fallback) {
        const qsizetype at = arguments.indexOf(QLatin1StringView(name));
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toLongLong() : fallback;
    };
    const qsizetype hits = option("--hits", 100'000);
    const qsizetype files = option("--files", 1'000'000);

    const Timing one = run(files, hits);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double peakOne = double(usage.ru_maxrss) / 1024.0;
    const Timing two = run(2 * files, hits);
    for (const auto &[size, t] : {std::pair{files, one}, std::pair{2 * files, two}}) {
        std::printf("%lld hits against %lld files: build %.3f s, judge %.3f s, mark %.3f s, total %.3f s "
                    "(processor time %.3f s), %lld existing\n",
                    static_cast<long long>(hits), static_cast<long long>(size), t.build, t.judge, t.mark,
                    t.build + t.judge + t.mark, t.cpu, static_cast<long long>(t.existing));
    }
    std::printf("twice the files: %.2f times the time (judging alone %.2f)\n",
                (two.build + two.judge + two.mark) / (one.build + one.judge + one.mark), two.judge / one.judge);
    std::printf("peak resident memory after the first run: %.1f MiB\n", peakOne);
    return 0;
}
