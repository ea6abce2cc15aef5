// The results list of a Deep Scan with a million hits: how long the window's
// thread is held by select-all, deselect-all, the Hide Existing switch, and
// the other whole-list operations around them.
//
//   bench_hitselection [HITS] [--repeat N]
//
// Fills the service's list the way a scan does (batches of 4096), with one
// hit in ten marked existing, and times each operation through the results
// list the screen shows (VisibleHitsModel), with a listener on its change
// signals standing in for a view; then select-all over 100,000 hits that are
// read from files, the first time and again. The baseline is one plain pass over the
// same hits reading each id, measured in the same run; every figure is
// printed in milliseconds and as a multiple of that pass. Each operation runs
// --repeat times (5 unless told) and the best run is shown.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "carving/carvedfilemodel.h"
#include "carving/visiblehitsmodel.h"

namespace {

constexpr qsizetype batchSize = 4096;

QList<CarvedFile> makeHits(qsizetype count)
{
    CarvedFile pattern;
    pattern.signatureType = QStringLiteral("JPEG");
    pattern.fileExtension = QStringLiteral("jpg");
    pattern.estimatedSize = 1 << 20;
    pattern.health = CarvedFileHealth::good;
    pattern.sourcePath = QStringLiteral("sdb1");
    pattern.data = CarvedData::fromBytes(QByteArray::fromHex("FFD8FFE0") + QByteArray(60, 'x'));
    QList<CarvedFile> hits;
    hits.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        CarvedFile hit = pattern;
        hit.id = newRecordId();
        hit.offset = quint64(i) * 4096;
        hits.append(std::move(hit));
    }
    return hits;
}

// Best of `repeat` runs of `work`, in milliseconds; `prepare` runs untimed
// before each.
double bestOf(int repeat, const std::function<void()> &prepare, const std::function<void()> &work)
{
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        if (prepare)
            prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    qsizetype count = 1'000'000;
    int repeat = 5;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--repeat") && i + 1 < arguments.size())
            repeat = std::max(1, arguments.at(++i).toInt());
        else
            count = std::max<qsizetype>(1, arguments.at(i).toLongLong());
    }

    const QList<CarvedFile> hits = makeHits(count);
    CarvedFileModel source;
    VisibleHitsModel list(&source);
    // Stands in for a view: it hears every change and reads one role of the
    // first changed row, as a delegate on screen would.
    qsizetype changes = 0;
    QObject::connect(&list, &QAbstractItemModel::dataChanged, &list, [&](const QModelIndex &from) {
        ++changes;
        (void)from.data(int(VisibleHitsModel::Role::isSelected));
    });
    QObject::connect(&list, &QAbstractItemModel::modelReset, &list, [&] { ++changes; });
    QObject::connect(&list, &QAbstractItemModel::rowsInserted, &list, [&] { ++changes; });

    QElapsedTimer fillTimer;
    fillTimer.start();
    for (qsizetype at = 0; at < hits.size(); at += batchSize)
        source.append(hits.mid(at, batchSize));
    const double fill = double(fillTimer.nsecsElapsed()) / 1e6;
    if (list.rowCount() != count) {
        std::fprintf(stderr, "the list shows %d of %lld hits\n", list.rowCount(), static_cast<long long>(count));
        return 1;
    }

    // The matching marks one hit in ten existing, one change at a time; the
    // list takes them in with one rebuild on the next turn of the loop.
    const double matching = bestOf(1, {}, [&] {
        for (qsizetype row = 0; row < count; row += 10)
            source.setRecoveryStatus(row, RecoveryStatus::existing, QStringLiteral("/home/u/a.jpg"));
        QCoreApplication::processEvents();
    });
    const int shownHidden = list.rowCount();
    if (shownHidden != count - (count + 9) / 10) {
        std::fprintf(stderr, "hiding existing hits left %d rows\n", shownHidden);
        return 1;
    }

    quint64 sink = 0;
    const double baseline = bestOf(repeat, {}, [&] {
        for (const CarvedFile &file : source.files())
            sink += file.id.data1;
    });

    const double selectAll = bestOf(repeat, [&] { list.clearSelection(); }, [&] { list.toggleAll(); });
    if (list.selectedCount() != shownHidden || !list.allSelectableSelected()) {
        std::fprintf(stderr, "select-all chose %d of %d\n", list.selectedCount(), shownHidden);
        return 1;
    }
    const double gather = bestOf(repeat, {}, [&] { sink += quint64(list.selectedSourceRows().size()); });
    const double deselectAll = bestOf(repeat, [&] { list.selectAll(); }, [&] { list.toggleAll(); });
    if (list.selectedCount() != 0)
        return 1;
    const double tap = bestOf(repeat, {}, [&] { list.toggle(list.rowCount() / 2); });

    HitFilter showing;
    showing.hideExisting = false;
    const double showExisting = bestOf(repeat, [&] { list.setFilter(HitFilter{}); }, [&] { list.setFilter(showing); });
    if (list.rowCount() != count)
        return 1;
    const double hideExisting = bestOf(repeat, [&] { list.setFilter(showing); }, [&] { list.setFilter(HitFilter{}); });
    if (list.rowCount() != shownHidden)
        return 1;

    // A Directory Scan's hits carry no bytes: the first select-all asks the
    // file system about every hit whose row was never drawn. All name one
    // file here, so the figure is the cost of the checks with the inodes
    // cached, as after a scan; a later select-all uses the answers kept.
    const qsizetype fileHitCount = std::min<qsizetype>(count, 100'000);
    QList<CarvedFile> fileHits = hits.mid(0, fileHitCount);
    for (CarvedFile &hit : fileHits) {
        hit.data.reset();
        hit.recoveryStatus = RecoveryStatus::deleted;
        hit.sourcePath = QCoreApplication::applicationFilePath();
    }
    CarvedFileModel fileSource;
    VisibleHitsModel fileList(&fileSource);
    fileSource.append(fileHits);
    const double firstSelectAllFiles = bestOf(1, {}, [&] { fileList.toggleAll(); });
    const double selectAllFiles =
        bestOf(repeat, [&] { fileList.clearSelection(); }, [&] { fileList.toggleAll(); });
    if (fileList.selectedCount() != fileHitCount)
        return 1;

    std::printf("hits: %lld (one in ten existing), best of %d runs, %lld change signals heard\n",
                static_cast<long long>(count), repeat, static_cast<long long>(changes));
    std::printf("%-34s %9.1f ms\n", "baseline: one pass reading ids", baseline);
    const struct {
        const char *name;
        double ms;
    } rows[] = {
        {"fill in batches of 4096", fill},
        {"matching marks 10% existing", matching},
        {"select all", selectAll},
        {"deselect all", deselectAll},
        {"gather the selection for a save", gather},
        {"tap one row", tap},
        {"filter switch: show existing", showExisting},
        {"filter switch: hide existing", hideExisting},
        {"100,000 read from files: 1st select", firstSelectAllFiles},
        {"100,000 read from files: select all", selectAllFiles},
    };
    for (const auto &row : rows)
        std::printf("%-34s %9.1f ms  %7.1fx baseline\n", row.name, row.ms, row.ms / std::max(baseline, 1e-6));
    return sink == 42 ? 2 : 0;
}
