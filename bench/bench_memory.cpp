// Peak memory of a whole Deep Scan as the window program runs it: the
// carving service, its worker, the hit list and its counts.
//
//   bench_memory --generated [--size GB] scan GB (100 unless told) of pseudo-random bytes
//   bench_memory SOURCE                  scan a disk-image file or block device
//   bench_memory --crafted KIND [--size MB]
//                                        scan MB (200 unless told) of one pattern repeated:
//                                        jpeg (FF D8 FF E0), zip (PK 03 04), pdf (%PDF, never ended),
//                                        mp4 (00 00 00 18 ftypmp42)
//
// Raw scans refuse character devices, so /dev/urandom can no longer stand in
// for a huge disk, and a sparse file reads as zeros, which the scan passes
// over far faster than real data. The generated source is computed where it
// is read, at memory speed and with nothing on disk, and every byte of it can
// be had again at any offset, so the structure walks and the hit list see it
// just as they see a disk. It runs through the service's worker and sink as a
// Deleted Files step, the one step the service lets a caller replace.
// Prints the hits (verified, unverified, not listed), the time and the peak
// resident memory; the target is under 300 MB whatever the source.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "carving/filecarvingservice.h"
#include "carving/sourcereader.h"
#include "model/bytecount.h"

namespace {

double peakMegabytes()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double currentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? double(fields[1].toLongLong()) * double(::sysconf(_SC_PAGESIZE)) / 1048576.0 : 0;
}

// Byte p of the generated source is byte p % 8 of mix(p / 8): a counter
// hashed through splitmix64, so any range is computed on its own, as a hit's
// structure walk or a save asks for it, and equals what the scan read there.
std::uint64_t mix(std::uint64_t word)
{
    std::uint64_t z = word * 0x9E3779B97F4A7C15ULL + 0x6A09E667F3BCC909ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void generate(std::uint64_t offset, std::uint8_t *into, std::uint64_t length)
{
    std::uint64_t done = 0;
    while (done < length && (offset + done) % 8 != 0) {
        const std::uint64_t at = offset + done;
        into[done++] = std::uint8_t(mix(at / 8) >> (8 * (at % 8)));
    }
    for (std::uint64_t word = (offset + done) / 8; length - done >= 8; ++word, done += 8) {
        const std::uint64_t value = mix(word);
        std::memcpy(into + done, &value, 8);  // little-endian machines: byte k is bits 8k..8k+7
    }
    while (done < length) {
        const std::uint64_t at = offset + done;
        into[done++] = std::uint8_t(mix(at / 8) >> (8 * (at % 8)));
    }
}

class GeneratedReader final : public SourceReader
{
public:
    explicit GeneratedReader(qint64 size) : m_size(size) {}
    Result read(qint64 offset, std::uint8_t *into, qint64 length) override
    {
        const qint64 n = std::clamp<qint64>(m_size - offset, 0, length);
        generate(std::uint64_t(offset), into, std::uint64_t(n));
        return {n, 0, false};
    }
    std::optional<qint64> currentSize() override { return m_size; }

private:
    qint64 m_size;
};

class GeneratedByteSource final : public ByteSource
{
public:
    explicit GeneratedByteSource(qint64 size) : m_size(size) {}
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override
    {
        if (length < 0 || offset > quint64(m_size) || quint64(length) > quint64(m_size) - offset) {
            *error = QStringLiteral("past the end of the generated source");
            return false;
        }
        out->resize(length);
        generate(offset, reinterpret_cast<std::uint8_t *>(out->data()), std::uint64_t(length));
        return true;
    }

private:
    qint64 m_size;
};

QByteArray pattern(const QString &kind)
{
    if (kind == QLatin1String("jpeg"))
        return QByteArray::fromHex("FFD8FFE0");
    if (kind == QLatin1String("zip"))
        return QByteArray("PK\x03\x04", 4);
    if (kind == QLatin1String("pdf"))
        return QByteArray("%PDF");
    if (kind == QLatin1String("mp4"))
        return QByteArray("\x00\x00\x00\x18" "ftypmp42", 12);
    return {};
}

bool writeCrafted(const QString &path, const QByteArray &unit, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block;
    while (block.size() < (1 << 20))
        block += unit;
    for (qint64 written = 0; written < size;) {
        const qint64 n = std::min<qint64>(block.size(), size - written);
        if (file.write(block.constData(), n) != n)
            return false;
        written += n;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    QString source;
    QString crafted;
    bool generated = false;
    std::optional<double> size;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--crafted") && i + 1 < arguments.size())
            crafted = arguments.at(++i);
        else if (arguments.at(i) == QLatin1String("--generated"))
            generated = true;
        else if (arguments.at(i) == QLatin1String("--size") && i + 1 < arguments.size())
            size = arguments.at(++i).toDouble();
        else
            source = arguments.at(i);
    }
    if (!crafted.isEmpty()) {
        const QByteArray unit = pattern(crafted);
        if (unit.isEmpty()) {
            std::fprintf(stderr, "unknown pattern %s\n", qPrintable(crafted));
            return 2;
        }
        source = QStringLiteral("/tmp/quorvel-crafted-%1.img").arg(crafted);
        if (!writeCrafted(source, unit, qint64(size.value_or(200) * 1e6))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
            return 1;
        }
    }
    const qint64 generatedSize = qint64(size.value_or(100) * 1e9);
    if (generated)
        source = QStringLiteral("generated");
    if (source.isEmpty() || (generated && generatedSize <= 0)) {
        std::fprintf(stderr, "usage: bench_memory SOURCE | --generated [--size GB] | --crafted jpeg|zip|pdf|mp4 "
                             "[--size MB]\n");
        return 2;
    }

    FileCarvingService service;
    service.setDeletedFilesScan([generatedSize](ReviewingSink &sink, const VolumeInfo &,
                                                const QList<FileSignature> &signatures) {
        sink.postStatus(QStringLiteral("Scanning generated..."));
        GeneratedReader reader(generatedSize);
        scanSource(reader, {generatedSize, generatedSize}, std::make_shared<GeneratedByteSource>(generatedSize),
                   signatures, QStringLiteral("generated"), sink);
    });
    QEventLoop loop;
    QObject::connect(&service, &FileCarvingService::isScanningChanged, &loop, [&] {
        if (!service.isScanning())
            loop.quit();
    });
    QElapsedTimer clock;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, &loop, [&] {
        std::fprintf(stderr, "%6.0f s  %s scanned  %lld hits, %lld listed  RSS %.0f MB (peak %.0f MB)\n",
                     double(clock.elapsed()) / 1000.0, qPrintable(formatByteCount(qint64(service.bytesScanned()))),
                     qlonglong(service.carvedFiles()->totalHitCount()), qlonglong(service.carvedFiles()->rowCount()),
                     currentMegabytes(), peakMegabytes());
    });
    report.start(10'000);
    clock.start();
    if (generated)
        service.scanDeletedFiles(VolumeInfo{});
    else
        service.scanDiskImage(QUrl::fromLocalFile(source));
    loop.exec();
    const double seconds = double(clock.elapsed()) / 1000.0;

    std::printf("source           %s, %s scanned in %.1f s (%.0f MB/s)\n", qPrintable(source),
                qPrintable(formatByteCount(qint64(service.bytesScanned()))), seconds,
                double(service.bytesScanned()) / 1e6 / std::max(seconds, 0.001));
    std::printf("hits             %lld: %lld verified, %lld unverified, of which %lld not listed\n",
                qlonglong(service.carvedFiles()->totalHitCount()), qlonglong(service.verifiedCount()),
                qlonglong(service.unverifiedCount()), qlonglong(service.unverifiedNotListedCount()));
    std::printf("rows             %d\n", service.carvedFiles()->rowCount());
    std::printf("status           %s\n", qPrintable(service.statusMessage()));
    if (service.hasError())
        std::printf("error            %s\n", qPrintable(service.errorMessage()));
    std::printf("peak RSS         %.1f MB (target < 300 MB)\n", peakMegabytes());
    if (!crafted.isEmpty())
        QFile::remove(source);
    return 0;
}
