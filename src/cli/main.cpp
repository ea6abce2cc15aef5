// quorvel-carve: the Deep Scan from the command line, with the same engine,
// texts and saving rules as the window program.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include "cli/checks.h"
#include "cli/console.h"
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/savephase.h"
#include "cli/scanrun.h"
#include "model/bytecount.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

enum ExitCode { ok = 0, failure = 1, usage = 2, interrupted = 130 };

int listVolumes(Platform &platform)
{
    const QList<VolumeInfo> volumes = platform.discoverVolumes();
    if (volumes.isEmpty())
        return complain(u"no volume or device found"_s, failure);
    printTo(stdout, isTerminal(stdout) ? formatVolumeTable(volumes) : formatVolumeList(volumes));
    return ok;
}

void listTypes()
{
    QString text;
    for (const FileSignature &signature : defaultSignatures())
        text += signature.typeName + u'\t' + signature.fileExtension + u'\t' + rawValue(signature.category) + u'\n';
    printTo(stdout, text);
}

std::optional<VolumeInfo> mountedVolumeAt(Platform &platform, const QString &mountPoint)
{
    const QString wanted = QFileInfo(mountPoint).canonicalFilePath();
    for (const VolumeInfo &volume : platform.discoverVolumes()) {
        if (volume.isMounted() && !wanted.isEmpty() && QFileInfo(volume.mountPoint).canonicalFilePath() == wanted)
            return volume;
    }
    return std::nullopt;
}

void printSaveOutcome(const SaveOutcome &outcome, const QString &folder)
{
    QString text = u"Saved: "_s + QString::number(outcome.counts.saved) + u" files ("_s
        + formatByteCount(outcome.bytesWritten) + u") in "_s + folder + u"\nFailed: "_s
        + QString::number(outcome.counts.failed) + u"\nNo data: "_s + QString::number(outcome.counts.noData) + u'\n';
    for (const auto &[reason, count] : outcome.reasons)
        text += u"  "_s + reason + u": "_s + QString::number(count) + u'\n';
    if (outcome.leftOutForSpace > 0)
        text += u"Left out: "_s + QString::number(outcome.leftOutForSpace) + u" files, not enough free space\n"_s;
    if (outcome.leftOutForLimit > 0)
        text += u"Left out: "_s + QString::number(outcome.leftOutForLimit) + u" files over --max-bytes\n"_s;
    if (outcome.notTried > 0)
        text += u"Not saved: "_s + QString::number(outcome.notTried) + u" files, stopped\n"_s;
    if (!outcome.reportPath.isEmpty())
        text += u"Report: "_s + outcome.reportPath + u'\n';
    printTo(stderr, text);
}

int carve(const CarveOptions &options, const std::shared_ptr<Platform> &platform)
{
    QElapsedTimer clock;
    clock.start();
    // Everything is checked before the first read and before anything is
    // created: a mistake costs nothing, and the source is never written.
    qint64 knownTotal = 0;
    VolumeInfo volume;
    QString scannedStorage;
    if (options.mode == ScanMode::raw) {
        if (const auto problem = checkRawSource(options.source, &knownTotal))
            return complain(*problem, failure);
        scannedStorage = options.source;
        const QStringList mounts = mountPointsOf(options.source);
        if (!mounts.isEmpty())
            printTo(stderr, u"Note: "_s + options.source + u" is mounted at "_s + mounts.join(u", "_s)
                                + u"; whatever is written there meanwhile can overwrite deleted files. Unmount it "
                                  "before recovering if you can.\n"_s);
    } else if (options.mode == ScanMode::directory) {
        if (const auto problem = checkFolderSource(options.source))
            return complain(*problem, failure);
    } else {
        const std::optional<VolumeInfo> found = mountedVolumeAt(*platform, options.source);
        if (!found)
            return complain(options.source + u" is not a mounted volume (see --list-volumes; give an unmounted "
                                              "device's node as SOURCE)"_s,
                            failure);
        volume = *found;
        // The Deleted Files mode reads the Trash through the file system, but
        // saving onto the volume would still overwrite the free space that
        // the files already emptied from the Trash lie in.
        scannedStorage = volume.device;
        // Unreadable, the service would ask for the password dialog, and
        // without one fall back to listing the volume's files, which finds no
        // deleted file; from a terminal the way in is sudo or pkexec, as for
        // a device given as SOURCE.
        qint64 deviceBytes = 0;
        if (options.mode == ScanMode::volume) {
            if (const auto problem =
                    checkRawSource(volume.rawDevice.isEmpty() ? volume.device : volume.rawDevice, &deviceBytes))
                return complain(*problem, failure);
        }
    }
    if (options.isSaving()) {
        if (const auto problem = checkDestination(options.outputFolder))
            return complain(*problem, failure);
        if (!scannedStorage.isEmpty()) {
            if (const auto refusal = sameDeviceRefusal(options.outputFolder, scannedStorage)) {
                if (!options.allowSameDevice)
                    return complain(*refusal, failure);
                printTo(stderr, u"Warning: saving onto the scanned disk, as --allow-same-device asks.\n"_s);
            }
        }
    }

    installInterruptHandlers(options.isSaving());
    ScanOutcome scan = options.mode == ScanMode::raw ? runRawScan(options, knownTotal, *platform)
                                                     : runServiceScan(options, platform, volume);
    // A Ctrl-C that came as the scan was ending still means "don't save":
    // the user may have seen the wrong folder in the command.
    scan.cancelled = scan.cancelled || stopRequested();
    printTo(stderr, scan.summary() + u'\n');
    if (scan.hits.unverifiedCount() > 0 || scan.hits.verifiedCount() > 0)
        printTo(stderr, scan.tally() + u'\n');
    if (scan.cancelled) {
        if (options.isSaving())
            printTo(stderr, u"Nothing was saved.\n"_s);
        return interrupted;
    }
    if (options.mode == ScanMode::raw && scan.bytesScanned == 0 && !scan.failed)
        return complain(u"read nothing from "_s + options.source, failure);
    int exitCode = scan.failed ? failure : ok;
    if (!options.isSaving())
        return exitCode;
    QList<CarvedFile> toSave;
    for (qsizetype row = 0; row < scan.hits.size(); ++row) {
        if (options.saveUnverified || scan.hits.verificationState(row) != Verification::State::unverified)
            toSave.append(scan.hits.at(row));
    }
    if (toSave.isEmpty()) {
        printTo(stderr, scan.hits.unverifiedCount() > 0
                            ? u"No verified hits to save; --all saves the unverified ones too.\n"_s
                            : u"Nothing to save.\n"_s);
        return exitCode;
    }

    const SaveOutcome saved = saveHits(toSave, options.outputFolder, options.maxBytes);
    if (saved.folderFailed)
        return failure;
    printSaveOutcome(saved, options.outputFolder);
    printTo(stderr, u"Done: "_s + QString::number(scan.hits.hitCount()) + u" files found, "_s
                        + QString::number(saved.counts.saved) + u" saved • "_s
                        + QString::asprintf("%.1f", double(clock.elapsed()) / 1000.0) + u"s\n"_s);
    if (stopRequested())
        return interrupted;
    if (saved.counts.failed + saved.counts.noData > 0 || saved.leftOutForSpace > 0)
        exitCode = failure;
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"quorvel-carve"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));

    CarveOptions options;
    QString problem;
    if (!parseCarveOptions(QCoreApplication::arguments(), &options, &problem))
        return complain(problem, usage);
    switch (options.action) {
    case CarveAction::help:
        printTo(stdout, options.helpText);
        return ok;
    case CarveAction::version:
        printTo(stdout, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return ok;
    case CarveAction::listTypes:
        listTypes();
        return ok;
    case CarveAction::listVolumes:
        return listVolumes(*runningPlatform());
    case CarveAction::scan:
        break;
    }
    return carve(options, runningPlatform());
}
