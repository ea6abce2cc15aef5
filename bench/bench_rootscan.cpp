// Throughput of the administrator scan against the direct scan of the same
// device, in the same run.
//
//   bench_rootscan [IMAGE] [--size GIB] [--rounds N] [--keep] [--no-catalogue] [--no-verify]
//
// Needs root: writes an image of high-entropy data (1 GiB unless told
// otherwise) with files planted in it, attaches it read-only to a loop
// device, warms the page cache through the device, then scans the device
// alternately with the direct scan and with the administrator scan of the
// Linux backend (run directly as root, as pkexec would after the password),
// both with the whole catalogue, in pairs whose order alternates. Prints the
// best rate of each, the ratio of those and the median ratio of the pairs
// (target >= 0.8), the processor time each took per GB, and whether both
// found the same hits. --no-catalogue scans
// with no signatures, which measures the reading alone; --no-verify leaves
// out the structure walks of the hits. The image is removed
// at the end unless --keep is given; an existing image of the right size is
// reused.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "benchrandom.h"
#include "carving/directscan.h"
#include "carving/elevatedscan.h"
#include "system/platform.h"

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 block = 8 * MiB;

// Random data with a JPEG planted every 64 MiB, across a 10 MiB boundary
// where one falls inside the block.
bool writeImage(const QString &path, qint64 size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray jpeg = QByteArray::fromHex("FFD8FFE000104A464946") + QByteArray(300'000, 'j') + QByteArray::fromHex("FFD9");
    auto bytes = std::make_unique<quint64[]>(block / 8);
    XorShift random;
    for (qint64 at = 0; at < size; at += block) {
        for (qint64 i = 0; i < block / 8; ++i)
            bytes[i] = random.next();
        if (at % (64 * MiB) == 0)
            std::memcpy(reinterpret_cast<char *>(bytes.get()) + 4099, jpeg.constData(), std::size_t(jpeg.size()));
        const qint64 length = std::min(block, size - at);
        if (::pwrite(fd, bytes.get(), std::size_t(length), at) != length) {
            ::close(fd);
            return false;
        }
    }
    return ::close(fd) == 0;
}

void readThrough(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    auto bytes = std::make_unique_for_overwrite<char[]>(block);
    for (qint64 at = 0;; at += block) {
        if (::pread(fd, bytes.get(), block, at) <= 0)
            break;
    }
    ::close(fd);
}

class CollectingSink final : public ScanSink
{
public:
    bool shouldCancel() const override { return false; }
    void postStatus(const QString &) override {}
    void postError(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    void postCarvedFiles(QList<CarvedFile> files) override { hits.append(std::move(files)); }
    void postProgress(quint64 bytes, std::optional<double>, std::function<QString(qsizetype)>) override
    {
        scanned = bytes;
    }
    QList<CarvedFile> hits;
    quint64 scanned = 0;
};

// Processor seconds used by this process and by its reaped children (the
// reader), so that the cost of each scan shows apart from the machine's load.
double processorSeconds()
{
    double seconds = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage {};
        ::getrusage(who, &usage);
        seconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}

double megabytesPerSecond(qint64 bytes, qint64 milliseconds)
{
    return double(bytes) / 1e6 / (double(std::max<qint64>(1, milliseconds)) / 1000.0);
}

bool sameHits(const QList<CarvedFile> &a, const QList<CarvedFile> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].offset != b[i].offset || a[i].signatureType != b[i].signatureType
            || a[i].estimatedSize != b[i].estimatedSize || a[i].health != b[i].health)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench_rootscan needs root to attach a loop device\n");
        return 2;
    }
    QString path = QStringLiteral("/tmp/quorvel-rootbench.img");
    qint64 size = 1024 * MiB;
    int rounds = 3;
    bool keep = false;
    bool catalogue = true;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--keep"))
            keep = true;
        else if (arguments.at(i) == QLatin1String("--no-catalogue"))
            catalogue = false;
        else if (arguments.at(i) == QLatin1String("--no-verify"))
            DirectScan::setVerifyingHits(false);
        else if (arguments.at(i) == QLatin1String("--size") && i + 1 < arguments.size())
            size = qint64(arguments.at(++i).toDouble() * 1024) * MiB;
        else if (arguments.at(i) == QLatin1String("--rounds") && i + 1 < arguments.size())
            rounds = std::max(1, arguments.at(++i).toInt());
        else
            path = arguments.at(i);
    }

    if (QFile(path).size() != size) {
        std::printf("writing %s (%lld MiB)...\n", qPrintable(path), size / MiB);
        if (!writeImage(path, size)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    QProcess losetup;
    losetup.start(QStringLiteral("losetup"), {QStringLiteral("-r"), QStringLiteral("-f"), QStringLiteral("--show"), path});
    if (!losetup.waitForFinished() || losetup.exitCode() != 0) {
        std::fprintf(stderr, "losetup failed: %s\n", losetup.readAllStandardError().constData());
        return 1;
    }
    const QString device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
    readThrough(device);
    readThrough(device);

    const std::shared_ptr<Platform> platform = makePlatform(PlatformKind::gnuLinux);
    const QList<FileSignature> signatures = catalogue ? defaultSignatures() : QList<FileSignature>();
    qint64 bestDirect = 0;
    qint64 bestElevated = 0;
    double directCpu = 0;
    double elevatedCpu = 0;
    bool same = true;
    qsizetype hitCount = 0;
    QList<double> ratios;
    const auto scanDirect = [&](CollectingSink &sink) {
        const double cpu = processorSeconds();
        QElapsedTimer timer;
        timer.start();
        scanRawFile(device, signatures, QStringLiteral("bench"), sink);
        directCpu += processorSeconds() - cpu;
        return timer.elapsed();
    };
    const auto scanElevated = [&](CollectingSink &sink) {
        ElevatedScanOptions options;
        options.readerInterpreter = platform->tools().perl;
        const double cpu = processorSeconds();
        QElapsedTimer timer;
        timer.start();
        scanDeviceElevated(device, signatures, QStringLiteral("bench"), 0, sink, administratorsOf(platform), options);
        elevatedCpu += processorSeconds() - cpu;
        return timer.elapsed();
    };
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order, so that a change of the machine's load during
        // a pair favours neither scan.
        CollectingSink direct;
        CollectingSink elevated;
        qint64 directMs = 0;
        qint64 elevatedMs = 0;
        if (round % 2 == 0) {
            directMs = scanDirect(direct);
            elevatedMs = scanElevated(elevated);
        } else {
            elevatedMs = scanElevated(elevated);
            directMs = scanDirect(direct);
        }
        same = same && sameHits(direct.hits, elevated.hits) && direct.scanned == quint64(size)
            && elevated.scanned == quint64(size);
        hitCount = direct.hits.size();
        bestDirect = round == 0 ? directMs : std::min(bestDirect, directMs);
        bestElevated = round == 0 ? elevatedMs : std::min(bestElevated, elevatedMs);
        ratios << double(directMs) / double(std::max<qint64>(1, elevatedMs));
        std::printf("round %d        direct %.1f MB/s, administrator %.1f MB/s, ratio %.3f\n", round + 1,
                    megabytesPerSecond(size, directMs), megabytesPerSecond(size, elevatedMs), ratios.last());
    }
    std::sort(ratios.begin(), ratios.end());

    QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
    if (!keep)
        ::unlink(QFile::encodeName(path).constData());

    const double directRate = megabytesPerSecond(size, bestDirect);
    const double elevatedRate = megabytesPerSecond(size, bestElevated);
    std::printf("device         %s over %s, %lld MiB, warm\n", qPrintable(device), qPrintable(path), size / MiB);
    std::printf("hits           %lld, same in both scans: %s\n", qlonglong(hitCount), same ? "yes" : "NO");
    std::printf("direct scan    %.1f MB/s (best of %d)\n", directRate, rounds);
    std::printf("administrator  %.1f MB/s (best of %d)\n", elevatedRate, rounds);
    std::printf("ratio          %.3f of the best rates, %.3f median of the pairs (target >= 0.8)\n",
                elevatedRate / directRate, ratios.at(ratios.size() / 2));
    const double gigabytes = double(size) * rounds / 1e9;
    std::printf("processor time direct %.2f s/GB, administrator %.2f s/GB (reader included)\n", directCpu / gigabytes,
                elevatedCpu / gigabytes);
    return same ? 0 : 1;
}
