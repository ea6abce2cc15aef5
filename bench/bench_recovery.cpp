// How many planted files a raw scan gives back whole.
//
//   bench_recovery IMAGE [MANIFEST]
//
// Scans IMAGE with the whole catalogue, as a Disk Image scan does (every hit
// verified while the read-ahead holds it), and compares the verified hits
// with the files listed in MANIFEST (written by
// bench/recovery_eval.sh: one line per planted file, tab-separated: name,
// catalogue type, size, SHA-256, byte offset of its first block, 1 when its
// blocks are contiguous, 1 when it was deleted). Per type it prints how
// many deleted files came back byte-exact, as a prefix or other wrong
// length at their offset, or not at all; the verified hits that start where
// no planted file does; and the bytes saving the verified hits would write
// against the bytes planted. Without a manifest (an image of random bytes)
// every verified hit counts as one that is not a real file. It also counts
// the reads the walks made beyond the read-ahead: on a spinning disk each is
// a seek away from the scan.

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "model/bytesource.h"

namespace {

struct Planted {
    QString name;
    QString type;
    qint64 size = 0;
    QByteArray sha256;
    quint64 offset = 0;
    bool contiguous = false;
    bool deleted = false;
};

QList<Planted> readManifest(const QString &path)
{
    QList<Planted> planted;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return planted;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split('\t');
        if (fields.size() < 7)
            continue;
        planted.append({QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]), fields[2].toLongLong(),
                        fields[3], fields[4].toULongLong(), fields[5] == "1", fields[6] == "1"});
    }
    return planted;
}

// The file read by the walks that go past the read-ahead, counted.
class CountingSource final : public ByteSource
{
public:
    explicit CountingSource(QString path) : m_file(std::move(path)) {}
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override
    {
        ++reads;
        bytes += quint64(length);
        return m_file.read(offset, length, out, error);
    }
    mutable std::atomic<quint64> reads{0};
    mutable std::atomic<quint64> bytes{0};

private:
    FileByteSource m_file;
};

// Keeps the verified hits and counts the others per type.
class CollectingSink final : public ScanSink
{
public:
    bool shouldCancel() const override { return false; }
    void postStatus(const QString &) override {}
    void postError(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    void postCarvedFiles(QList<CarvedFile> files) override
    {
        for (CarvedFile &file : files) {
            ++hits;
            if (file.verification.isVerified())
                verified.append(std::move(file));
            else
                ++unverifiedByType[file.signatureType];
        }
    }
    void postProgress(quint64, std::optional<double>, std::function<QString(qsizetype)>) override {}

    qint64 hits = 0;
    QList<CarvedFile> verified;
    QMap<QString, qint64> unverifiedByType;
};

QByteArray sha256Of(const CarvedFile &hit, const QString &path)
{
    QByteArray bytes;
    QString error;
    FileByteSource source(path);
    if (!source.read(hit.offset, hit.verification.length, &bytes, &error))
        return {};
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_recovery IMAGE [MANIFEST]\n");
        return 2;
    }
    const QString image = arguments.at(0);
    const QList<Planted> planted = arguments.size() > 1 ? readManifest(arguments.at(1)) : QList<Planted>();
    const qint64 imageSize = QFileInfo(image).size();

    const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(image));
        return 1;
    }
    const DirectScan::Sizes sizes = DirectScan::sizesOf(fd);
    const std::unique_ptr<SourceReader> reader = DirectScan::descriptorReader(fd, sizes.knownTotal > 0);
    const auto walks = std::make_shared<CountingSource>(image);
    RawScanOptions options;
    options.walkSource = walks;
    CollectingSink sink;
    QElapsedTimer timer;
    timer.start();
    scanSource(*reader, sizes, std::make_shared<FileByteSource>(image), defaultSignatures(), QFileInfo(image).fileName(),
               sink, options);
    ::close(fd);
    const qint64 ms = timer.elapsed();

    QHash<quint64, const Planted *> byOffset;
    qint64 plantedBytes = 0;
    for (const Planted &file : planted) {
        byOffset.insert(file.offset, &file);
        plantedBytes += file.size;
    }

    struct Tally {
        int deleted = 0, exact = 0, wrongLength = 0, missed = 0, fragmented = 0, fragmentedExact = 0;
    };
    QMap<QString, Tally> tally;
    QHash<const Planted *, const CarvedFile *> found;
    qint64 output = 0;
    int strangers = 0;
    QMap<QString, int> strangersByType;
    for (const CarvedFile &hit : std::as_const(sink.verified)) {
        output += hit.verification.length;
        const Planted *file = byOffset.value(hit.offset);
        if (!file) {
            ++strangers;
            ++strangersByType[hit.signatureType];
            continue;
        }
        if (!found.contains(file))
            found.insert(file, &hit);
    }
    QStringList misses;
    for (const Planted &file : planted) {
        if (!file.deleted)
            continue;
        Tally &t = tally[file.type];
        ++t.deleted;
        if (!file.contiguous)
            ++t.fragmented;
        const CarvedFile *hit = found.value(&file);
        if (!hit) {
            ++t.missed;
            misses << file.name;
        } else if (hit->verification.length == file.size && sha256Of(*hit, image) == file.sha256) {
            ++t.exact;
            if (!file.contiguous)
                ++t.fragmentedExact;
        } else {
            ++t.wrongLength;
            misses << file.name + QStringLiteral(" (") + QString::number(hit->verification.length)
                    + QStringLiteral(" of ") + QString::number(file.size) + QLatin1Char(')');
        }
    }

    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("image            %s, %.1f MB, scanned and verified in %.1f s (%.0f MB/s)\n", qPrintable(image),
                double(imageSize) / 1e6, double(ms) / 1000.0, double(imageSize) / 1e3 / double(std::max<qint64>(1, ms)));
    std::printf("hits             %lld, verified %lld; walks read past the read-ahead %llu times, %.1f MB\n",
                qlonglong(sink.hits), qlonglong(sink.verified.size()), qulonglong(walks->reads.load()),
                double(walks->bytes.load()) / 1e6);
    if (!planted.isEmpty()) {
        std::printf("\n%-10s %8s %6s %7s %7s %11s\n", "type", "deleted", "exact", "prefix", "missed", "fragmented");
        Tally all;
        for (auto it = tally.cbegin(); it != tally.cend(); ++it) {
            const Tally &t = it.value();
            std::printf("%-10s %8d %6d %7d %7d %11d\n", qPrintable(it.key()), t.deleted, t.exact, t.wrongLength,
                        t.missed, t.fragmented);
            all.deleted += t.deleted, all.exact += t.exact, all.wrongLength += t.wrongLength, all.missed += t.missed,
                all.fragmented += t.fragmented, all.fragmentedExact += t.fragmentedExact;
        }
        std::printf("%-10s %8d %6d %7d %7d %11d\n", "all", all.deleted, all.exact, all.wrongLength, all.missed,
                    all.fragmented);
        std::printf("contiguous deleted files byte-exact: %d of %d\n", all.exact - all.fragmentedExact,
                    all.deleted - all.fragmented);
        if (!misses.isEmpty())
            std::printf("not exact: %s\n", qPrintable(misses.join(QStringLiteral(", "))));
    }
    std::printf("verified hits that are not planted files: %d", strangers);
    for (auto it = strangersByType.cbegin(); it != strangersByType.cend(); ++it)
        std::printf(" %s:%d", qPrintable(it.key()), it.value());
    std::printf("\noutput           %.1f MB", double(output) / 1e6);
    if (plantedBytes > 0)
        std::printf(" for %.1f MB planted (%.2fx)", double(plantedBytes) / 1e6, double(output) / double(plantedBytes));
    std::printf("\nunverified hits ");
    for (auto it = sink.unverifiedByType.cbegin(); it != sink.unverifiedByType.cend(); ++it)
        std::printf(" %s:%lld", qPrintable(it.key()), qlonglong(it.value()));
    std::printf("\npeak RSS         %.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
