#include "scanrun.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include "carving/directscan.h"
#include "carving/filecarvingservice.h"
#include "carving/scanpace.h"
#include "cli/console.h"
#include "cli/interrupts.h"
#include "model/bytecount.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

QString ScanOutcome::summary() const
{
    const QString complete =
        FileCarvingService::completionText(qsizetype(hits.hitCount()), bytesScanned, seconds, readOutcome);
    if (!cancelled)
        return complete;
    return u"Scan cancelled: "_s + complete.mid(complete.indexOf(u':') + 2);
}

QString ScanOutcome::tally() const
{
    QString text = QString::number(hits.verifiedCount()) + u" verified, "_s + QString::number(hits.unverifiedCount())
        + u" unverified"_s;
    if (const QString notListed = FileCarvingService::notListedText(hits.notListedCount()); !notListed.isEmpty())
        text += u" ("_s + notListed + u')';
    return text;
}

ScanOutcome runRawScan(const CarveOptions &options, qint64 knownTotal, const Platform &platform)
{
    QElapsedTimer clock;
    clock.start();
    ConsoleSink sink(options.listHits, knownTotal);
    scanRawFile(options.source, options.signatures, QFileInfo(options.source).fileName(), sink,
                ScanTexts::of(platform.texts()));
    sink.finish();
    ScanOutcome outcome;
    outcome.hits = sink.hits();
    outcome.bytesScanned = sink.bytesScanned();
    outcome.seconds = double(clock.elapsed()) / 1000.0;
    outcome.failed = sink.failed();
    outcome.readOutcome = sink.readOutcome();
    outcome.cancelled = stopRequested();
    return outcome;
}

ScanOutcome runServiceScan(const CarveOptions &options, const std::shared_ptr<Platform> &platform,
                           const VolumeInfo &volume)
{
    QElapsedTimer clock;
    clock.start();
    FileCarvingService service(platform);
    ScanOutcome outcome;
    ProgressLine progress;
    QEventLoop loop;

    QString printed;  // the step's first text, already on its own line
    const auto showProgress = [&] {
        if (!service.isScanning() || (!progress.isTerminal() && service.statusMessage() == printed))
            return;
        QString bar = service.statusMessage();
        if (service.bytesScanned() > 0) {
            const double fraction = service.scanProgress();
            ScanPace pace;
            pace.bytesPerSecond = service.scanRate();
            if (service.secondsRemaining() >= 0)
                pace.secondsLeft = service.secondsRemaining();
            bar = ProgressLine::gauge(fraction > 0.0 ? std::optional<double>(fraction) : std::nullopt)
                + formatByteCount(qint64(service.bytesScanned())) + ProgressLine::pace(pace) + u"  "_s
                + QString::number(service.carvedFiles()->rowCount()) + u" found"_s;
        }
        progress.show(bar, service.statusMessage());
    };
    // Each step of the scan ("Filtering: comparing with existing files...",
    // the fallback to the volume's files) gets a line of its own the first
    // time; the texts that repeat within a step, which differ only in their
    // numbers, are paced like progress so that they don't flood a log.
    QSet<QString> stepsSeen;
    QObject::connect(&service, &FileCarvingService::statusMessageChanged, &loop, [&] {
        const QString text = service.statusMessage();
        const QString step = text.left(std::find_if(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); })
                                       - text.cbegin());
        if (stepsSeen.contains(step) || !service.isScanning()) {
            showProgress();
            return;
        }
        stepsSeen.insert(step);
        printed = text;
        progress.print(text);
    });
    QObject::connect(&service, &FileCarvingService::bytesScannedChanged, &loop, showProgress);
    QObject::connect(&service, &FileCarvingService::isScanningChanged, &loop, [&] {
        if (!service.isScanning())
            loop.quit();
    });
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &loop, [&] {
        if (stopRequested() && !outcome.cancelled) {
            outcome.cancelled = true;
            service.cancelScan();
        }
    });
    stopWatch.start(100);

    switch (options.mode) {
    case ScanMode::directory:
        service.scanDirectory(options.source, options.signatures);
        break;
    case ScanMode::deleted:
        service.scanDeletedFiles(volume, options.signatures);
        break;
    case ScanMode::volume:
    case ScanMode::raw:
        service.scanVolume(volume, options.signatures);
        break;
    }
    if (service.isScanning())
        loop.exec();
    progress.clear();

    outcome.hits = service.carvedFiles()->hits();
    outcome.bytesScanned = service.bytesScanned();
    outcome.readOutcome = service.readOutcome();
    outcome.seconds = double(clock.elapsed()) / 1000.0;
    if (service.hasError()) {
        outcome.failed = true;
        complain(service.errorMessage(), 1);
    }
    if (options.listHits) {
        QString lines = isTerminal(stdout) ? hitHeader(true) : QString();
        for (qsizetype row = 0; row < outcome.hits.size(); ++row)
            lines += hitLine(outcome.hits.at(row), true);
        printTo(stdout, lines);
    }
    return outcome;
}
