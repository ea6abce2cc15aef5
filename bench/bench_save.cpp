// Saving hits against a plain exclusive create-write-close of the same bytes.
//
// Saving writes each file without a name (or under a temporary one), links it
// into place when complete and hashes it for the report; this measures what
// that costs over the plainest way of putting the bytes into files. Hits live
// in memory, so the source's reads are left out. Usage:
// bench_save [folder] [rounds]; the folder defaults to a new one in the
// temporary folder (pick one on the disk that matters).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "carving/savecarved.h"

namespace {

double plainWrites(const QList<CarvedFile> &hits, const QString &folder)
{
    const auto start = std::chrono::steady_clock::now();
    for (const CarvedFile &hit : hits) {
        QByteArray bytes;
        hit.data->read(&bytes, nullptr);
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + hit.suggestedFileName());
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 || ::write(fd, bytes.constData(), std::size_t(bytes.size())) != bytes.size())
            std::fprintf(stderr, "plain write failed\n");
        ::close(fd);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double saves(const QList<CarvedFile> &hits, const QString &folder)
{
    const auto start = std::chrono::steady_clock::now();
    const SaveCounts counts = saveCarvedFiles(hits, folder);
    if (counts.saved != hits.size())
        std::fprintf(stderr, "only %d of %lld saved\n", counts.saved, qlonglong(hits.size()));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir scratch;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path();
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    struct Size {
        qint64 bytes;
        int count;
    };
    for (const Size size : {Size{4096, 4000}, Size{64 * 1024, 2000}, Size{1024 * 1024, 200}, Size{5 * 1024 * 1024, 40}}) {
        QList<CarvedFile> hits;
        for (int i = 0; i < size.count; ++i) {
            CarvedFile hit;
            hit.signatureType = QStringLiteral("JPEG");
            hit.fileExtension = QStringLiteral("jpg");
            hit.offset = quint64(i) * quint64(size.bytes);
            hit.data = CarvedData::fromBytes(QByteArray(size.bytes, char('a' + i % 26)));
            hits.append(hit);
        }
        double best[3] = {1e9, 1e9, 1e9};
        for (int round = 0; round < rounds; ++round) {
            for (int way = 0; way < 3; ++way) {
                const QString folder = root + QStringLiteral("/bench-%1-%2").arg(way).arg(round);
                QDir().mkpath(folder);
                setUnnamedSaveFiles(way != 2);
                const double seconds = way == 0 ? plainWrites(hits, folder) : saves(hits, folder);
                best[way] = std::min(best[way], seconds);
                QDir(folder).removeRecursively();
            }
        }
        const double megabytes = double(size.bytes) * size.count / 1e6;
        std::printf("%7lld-byte files x %4d: plain %7.1f MB/s, saved unnamed %7.1f MB/s (%.2fx), temporary names %7.1f MB/s "
                    "(%.2fx)\n",
                    size.bytes, size.count, megabytes / best[0], megabytes / best[1], best[0] / best[1],
                    megabytes / best[2], best[0] / best[2]);
    }
    return 0;
}
