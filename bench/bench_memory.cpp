// Peak memory of a whole Deep Scan as the window program runs it: the
// carving service, its worker, the hit list and its counts.
//
//   bench_memory SOURCE                 scan a file or device (/dev/urandom: 100 GiB of random bytes)
//   bench_memory --crafted KIND [--size MB]
//                                       scan MB (200 unless told) of one pattern repeated:
//                                       jpeg (FF D8 FF E0), zip (PK 03 04), pdf (%PDF, never ended),
//                                       mp4 (00 00 00 18 ftypmp42)
//
// A character device whose end can't be found is scanned to the default
// size of 100 GiB, so /dev/urandom is a generated source of that size.
// Prints the hits (verified, unverified, not listed), the time and the peak
// resident memory; the target is under 300 MB whatever the source.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

#include "carving/filecarvingservice.h"
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
    qint64 craftedSize = 200'000'000;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--crafted") && i + 1 < arguments.size())
            crafted = arguments.at(++i);
        else if (arguments.at(i) == QLatin1String("--size") && i + 1 < arguments.size())
            craftedSize = qint64(arguments.at(++i).toDouble() * 1e6);
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
        if (!writeCrafted(source, unit, craftedSize)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
            return 1;
        }
    }
    if (source.isEmpty()) {
        std::fprintf(stderr, "usage: bench_memory SOURCE | --crafted jpeg|zip|pdf|mp4 [--size MB]\n");
        return 2;
    }

    FileCarvingService service;
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
