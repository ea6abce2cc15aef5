// The Directory Scan of a large real tree against find(1) over the same tree.
//
//   bench_directoryscan [ROOT] [--rounds N]
//
// ROOT defaults to /usr. Both walks stay on the root's file system (find
// -xdev, the scan's volume scope) and both run once first to warm the caches;
// then each runs N times (3 unless told) and the best time of each is kept.
// find prints every regular file's size, which makes it stat each one; the
// scan opens each regular file and reads its first 16 bytes. Prints both
// times, the ratio scan / find, the entries and hits, and peak memory.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <cstdio>

#include <sys/resource.h>

#include "carving/directoryscan.h"

namespace {

// Processor seconds (user and system) of this process or of its children.
double processorSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CountingSink final : public ScanSink
{
public:
    qsizetype hits = 0;
    qsizetype statuses = 0;
    bool shouldCancel() const override { return false; }
    void postStatus(const QString &) override { ++statuses; }
    void postError(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void postCarvedFiles(QList<CarvedFile> files) override { hits += files.size(); }
    void postProgress(quint64, std::optional<double>, std::function<QString(qsizetype)>) override {}
};

struct Times {
    double wall = 1e9;
    double processor = 1e9;
};

Times timeFind(const QString &root)
{
    const double before = processorSeconds(RUSAGE_CHILDREN);
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    find.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    find.start(QStringLiteral("find"), {root, QStringLiteral("-xdev"), QStringLiteral("-type"), QStringLiteral("f"),
                                        QStringLiteral("-printf"), QStringLiteral("%s\\n")});
    find.waitForFinished(-1);
    return {double(clock.nsecsElapsed()) / 1e9, processorSeconds(RUSAGE_CHILDREN) - before};
}

Times timeScan(const QString &root, CountingSink *sink)
{
    const double before = processorSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    scanDirectoryTree(root, defaultSignatures(), *sink, TreeWalk::Scope::rootMount);
    return {double(clock.nsecsElapsed()) / 1e9, processorSeconds(RUSAGE_SELF) - before};
}

Times best(Times a, Times b)
{
    return {std::min(a.wall, b.wall), std::min(a.processor, b.processor)};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    int rounds = 3;
    const qsizetype roundsAt = arguments.indexOf(QStringLiteral("--rounds"));
    if (roundsAt >= 0 && roundsAt + 1 < arguments.size()) {
        rounds = std::max(1, arguments.at(roundsAt + 1).toInt());
        arguments.remove(roundsAt, 2);
    }
    const QString root = arguments.value(0, QStringLiteral("/usr"));

    CountingSink warm;
    timeFind(root);
    timeScan(root, &warm);
    Times bestFind;
    Times bestScan;
    CountingSink last;
    for (int round = 0; round < rounds; ++round) {
        bestFind = best(bestFind, timeFind(root));
        last = CountingSink();
        bestScan = best(bestScan, timeScan(root, &last));
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("root %s: %lld hits, %lld status texts\n", qPrintable(root), static_cast<long long>(last.hits),
                static_cast<long long>(last.statuses));
    std::printf("                                   wall      processor\n");
    std::printf("find -xdev -type f -printf '%%s\\n'  %.3f s   %.3f s\n", bestFind.wall, bestFind.processor);
    std::printf("directory scan                     %.3f s   %.3f s\n", bestScan.wall, bestScan.processor);
    std::printf("ratio scan / find                  %.2f      %.2f   (target: at most 3)\n",
                bestScan.wall / bestFind.wall, bestScan.processor / bestFind.processor);
    std::printf("peak resident memory               %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
