// Throughput of the direct scan against plainly reading the same file.
//
//   bench_scan [IMAGE] [--size GIB] [--keep] [--no-catalogue] [--plain-buffer] [--no-verify]
//
// Writes an image of high-entropy data (4 GiB unless told otherwise) with
// files planted in it, warms it in the page cache, reads it plainly, scans it
// with the whole catalogue through scanRawFile, and prints both rates, their
// ratio and the peak resident memory. The image is removed at the end unless
// --keep is given; an existing image of the right size is reused.
// --no-catalogue runs only the pass without signatures, which measures the
// reading and reporting around the carver. --plain-buffer reads ahead into a
// plain buffer instead of the mirrored ring. --no-verify leaves out the
// structure walk of every hit, to see what it costs.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "benchrandom.h"
#include "carving/carvedhits.h"
#include "carving/directscan.h"

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 block = 8 * MiB;

// Planted every 64 MiB, alternating, at an odd offset inside the block.
const QList<QByteArray> &plants()
{
    static const QList<QByteArray> files = [] {
        QByteArray jpeg = QByteArray::fromHex("FFD8FFE000104A464946") + QByteArray(300'000, 'j') + QByteArray::fromHex("FFD9");
        QByteArray png = QByteArray::fromHex("89504E470D0A1A0A") + QByteArray(200'000, 'p')
            + QByteArray::fromHex("49454E44AE426082");
        // A PDF closed by a real trailer: one whose "%%EOF" closes nothing
        // sends its walk on through the source for up to the type's 500 MiB,
        // which a bench of found files should not measure.
        QByteArray pdf = QByteArray("%PDF-1.7\n") + QByteArray(150'000, 'd') + '\n';
        const qsizetype xref = pdf.size();
        pdf += QByteArray("xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 >>\nstartxref\n")
            + QByteArray::number(xref) + QByteArray("\n%%EOF\n");
        return QList<QByteArray>{jpeg, png, pdf};
    }();
    return files;
}

bool writeImage(const QString &path, qint64 size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    auto bytes = std::make_unique<quint64[]>(block / 8);
    XorShift random;
    for (qint64 at = 0; at < size; at += block) {
        for (qint64 i = 0; i < block / 8; ++i)
            bytes[i] = random.next();
        if (at % (64 * MiB) == 0) {
            const QByteArray &file = plants().at((at / (64 * MiB)) % plants().size());
            std::memcpy(reinterpret_cast<char *>(bytes.get()) + 4099, file.constData(), std::size_t(file.size()));
        }
        const qint64 length = std::min(block, size - at);
        if (::pwrite(fd, bytes.get(), std::size_t(length), at) != length) {
            ::close(fd);
            return false;
        }
    }
    return ::close(fd) == 0;
}

// Reads the whole file in large blocks; returns bytes read.
qint64 readPlainly(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    auto bytes = std::make_unique_for_overwrite<char[]>(block);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, bytes.get(), block, total);
        if (got <= 0)
            break;
        total += got;
    }
    ::close(fd);
    return total;
}

// Keeps every hit, as the results list does.
class CollectingSink final : public ScanSink
{
public:
    bool shouldCancel() const override { return false; }
    void postStatus(const QString &) override {}
    void postError(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    void postCarvedFiles(QList<CarvedFile> files) override { hits.append(files); }
    void postProgress(quint64, std::optional<double>, std::function<QString(qsizetype)> statusText) override
    {
        lastText = statusText(qsizetype(hits.hitCount()));
    }
    CarvedHits hits;
    QString lastText;
};

double megabytesPerSecond(qint64 bytes, qint64 milliseconds)
{
    return double(bytes) / 1e6 / (double(std::max<qint64>(1, milliseconds)) / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString path = QStringLiteral("/tmp/quorvel-bench.img");
    qint64 size = 4096 * MiB;
    bool keep = false;
    bool catalogue = true;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--keep"))
            keep = true;
        else if (arguments.at(i) == QLatin1String("--no-catalogue"))
            catalogue = false;
        else if (arguments.at(i) == QLatin1String("--plain-buffer"))
            DirectScan::setMirroredReadAhead(false);
        else if (arguments.at(i) == QLatin1String("--no-verify"))
            DirectScan::setVerifyingHits(false);
        else if (arguments.at(i) == QLatin1String("--size") && i + 1 < arguments.size())
            size = qint64(arguments.at(++i).toDouble() * 1024) * MiB;
        else
            path = arguments.at(i);
    }

    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || status.st_size != size) {
        std::printf("writing %s (%lld MiB)...\n", qPrintable(path), size / MiB);
        if (!writeImage(path, size)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    readPlainly(path); // warm the page cache

    QElapsedTimer timer;
    timer.start();
    const qint64 read = readPlainly(path);
    const qint64 readMs = timer.elapsed();

    // The same pass with no signatures: what reading ahead, sliding and
    // reporting cost on their own, whatever the carver.
    CollectingSink idle;
    timer.restart();
    scanRawFile(path, {}, QStringLiteral("bench"), idle);
    const qint64 idleMs = timer.elapsed();

    CollectingSink sink;
    timer.restart();
    if (catalogue)
        scanRawFile(path, defaultSignatures(), QStringLiteral("bench"), sink);
    const qint64 scanMs = timer.elapsed();

    qsizetype planted = 0;
    for (qsizetype row = 0; row < sink.hits.size(); ++row) {
        const CarvedFile hit = sink.hits.at(row);
        if (hit.offset % (64 * MiB) == 4099 && hit.health == CarvedFileHealth::good)
            ++planted;
    }
    const qint64 expected = (size + 64 * MiB - 1) / (64 * MiB);

    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const double readRate = megabytesPerSecond(read, readMs);
    const double scanRate = megabytesPerSecond(size, scanMs);
    std::printf("image          %s, %lld MiB\n", qPrintable(path), size / MiB);
    std::printf("hits           %lld, %lld verified (planted files found: %lld of %lld)\n",
                qlonglong(sink.hits.hitCount()), qlonglong(sink.hits.verifiedCount()), qlonglong(planted),
                qlonglong(expected));
    std::printf("plain read     %.1f MB/s (%.2f s)\n", readRate, double(readMs) / 1000.0);
    std::printf("scan           %.1f MB/s (%.2f s)\n", scanRate, double(scanMs) / 1000.0);
    std::printf("ratio          %.3f (target >= 0.25)\n", scanRate / readRate);
    std::printf("scan, no types %.1f MB/s (%.2f s; ratio %.3f)\n", megabytesPerSecond(size, idleMs),
                double(idleMs) / 1000.0, megabytesPerSecond(size, idleMs) / readRate);
    std::printf("peak RSS       %.1f MB (target < 300 MB)\n", double(usage.ru_maxrss) / 1024.0);
    std::printf("last status    %s\n", qPrintable(sink.lastText));

    if (!keep)
        ::unlink(QFile::encodeName(path).constData());
    return !catalogue || planted == expected ? 0 : 1;
}
