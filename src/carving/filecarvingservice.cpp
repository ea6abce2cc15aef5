#include "filecarvingservice.h"

#include "carving/deletedfilesscan.h"
#include "carving/directoryscan.h"
#include "carving/elevatedscan.h"
#include "carving/existingfiles.h"
#include "system/platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include "model/bytecount.h"

// The worker side of one scan. Hits are gathered and sent in batches, at the
// pace of the progress posts (or sooner, before any other change), so that a
// source with thousands of hits a second does not post thousands of events;
// the order of everything the scan reports is kept.
class CarvingSink final : public ReviewingSink
{
public:
    CarvingSink(Request<FileCarvingService> &request, ScanTexts texts, qsizetype unverifiedListLimit)
        : m_request(request)
        , m_texts(std::move(texts))
        , m_unverifiedListLimit(unverifiedListLimit)
    {
    }
    ~CarvingSink() override { flushHits(); }

    bool shouldCancel() const override { return m_request.isCancelled(); }

    void postStatus(const QString &text) override
    {
        post([text](FileCarvingService &service) { service.setStatusMessage(text); });
    }

    void postError(const QString &text) override
    {
        post([text](FileCarvingService &service) { service.setErrorMessage(text); });
    }

    void postCarvedFiles(QList<CarvedFile> files) override
    {
        m_posted += files.size();
        // Unverified hits past the list's limit would only be counted there;
        // counting them here keeps them from crossing threads at all, so a
        // device full of junk matches costs no memory while they wait.
        for (CarvedFile &file : files) {
            if (file.verification.isUnverified() && m_unverifiedPosted++ >= m_unverifiedListLimit) {
                ++m_pendingNotListed[file.signatureType];
                ++m_pendingCount;
                continue;
            }
            m_pendingHits.append(std::move(file));
            ++m_pendingCount;
        }
        if (m_pendingCount >= maxBatch)
            flushHits();
    }

    void postProgress(quint64 bytesScanned, std::optional<double> fraction,
                      std::function<QString(qsizetype)> statusText) override
    {
        // A progress post that goes out now must find the hits found before
        // it already in the list, since its text counts them.
        if (m_request.progressDue())
            flushHits();
        m_request.postProgress([bytesScanned, fraction, statusText = std::move(statusText)](FileCarvingService &service) {
            service.applyProgress(bytesScanned, fraction);
            service.setStatusMessage(statusText(qsizetype(service.m_model->totalHitCount())));
        });
    }

    // The number of hits this scan has posted so far. The list was emptied
    // when the scan started and only this scan appends to it, so this is its
    // length once the posted hits have arrived, without a round trip.
    qsizetype postedHitCount() const { return m_posted; }

    bool withHits(const std::function<void(HitTable &)> &step) override
    {
        flushHits();
        return m_request.runOnService([&step](FileCarvingService &service) { step(*service.m_model); });
    }

    void postReadOutcome(const ReadOutcome &outcome) override
    {
        post([outcome](FileCarvingService &service) { service.m_readOutcome = outcome; });
    }

    void postExistingFileCount(int count) override
    {
        post([count](FileCarvingService &service) { service.setExistingFileCount(count); });
    }

    // Any change; runs after everything posted before it.
    void post(std::function<void(FileCarvingService &)> change)
    {
        flushHits();
        m_request.post(std::move(change));
    }

    // The completion step; posted last.
    void finishScan()
    {
        post([](FileCarvingService &service) { service.applyCompletion(); });
    }

    const ScanTexts &texts() const { return m_texts; }

private:
    static constexpr qsizetype maxBatch = 4096;

    void flushHits()
    {
        if (m_pendingCount == 0)
            return;
        m_pendingCount = 0;
        m_request.post([files = std::exchange(m_pendingHits, {}),
                        notListed = std::exchange(m_pendingNotListed, {})](FileCarvingService &service) mutable {
            service.m_model->append(std::move(files), notListed);
        });
    }

    Request<FileCarvingService> &m_request;
    ScanTexts m_texts;
    const qsizetype m_unverifiedListLimit;
    QList<CarvedFile> m_pendingHits;
    QHash<QString, qint64> m_pendingNotListed;
    qsizetype m_pendingCount = 0;
    qint64 m_unverifiedPosted = 0;
    qsizetype m_posted = 0;
};

FileCarvingService::FileCarvingService(QObject *parent)
    : FileCarvingService(runningPlatform(), parent)
{
}

FileCarvingService::FileCarvingService(std::shared_ptr<Platform> platform, QObject *parent)
    : QObject(parent)
    , m_platform(std::move(platform))
    , m_model(new CarvedFileModel(this))
    , m_volumes(new VolumeListModel(this))
    , m_directoryScan([](ScanSink &sink, const QString &root, const QList<FileSignature> &signatures,
                         TreeWalk::Scope scope) { scanDirectoryTree(root, signatures, sink, scope); })
    , m_matching([](ReviewingSink &sink, const QString &root, const QList<FileSignature> &signatures,
                    TreeWalk::Scope scope) { matchExistingFiles(root, signatures, sink, scope); })
    , m_deletedFilesScan([platform = m_platform](ReviewingSink &sink, const VolumeInfo &volume,
                                                 const QList<FileSignature> &signatures) {
        DeletedFiles::scan(*platform, volume, signatures, sink);
    })
{
    connect(m_model, &CarvedFileModel::tallyChanged, this, &FileCarvingService::hitTallyChanged);
}

FileCarvingService::~FileCarvingService() = default;

QList<FileSignature> FileCarvingService::signaturesNamed(const QStringList &typeNames)
{
    const QSet<QString> wanted(typeNames.cbegin(), typeNames.cend());
    QList<FileSignature> chosen;
    for (const FileSignature &signature : defaultSignatures()) {
        if (wanted.contains(signature.typeName))
            chosen.append(signature);
    }
    return chosen;
}

QString FileCarvingService::completionText(qsizetype hitCount, quint64 bytesScanned, double elapsedSeconds,
                                           const ReadOutcome &outcome)
{
    // A scan whose source went away did not complete, whatever it found.
    return (outcome.sourceLost ? QStringLiteral("Scan ended early: ") : QStringLiteral("Scan complete: "))
        + QString::number(hitCount) + QStringLiteral(" files found • ") + formatByteCount(qint64(bytesScanned))
        + QStringLiteral(" scanned • ") + QString::asprintf("%.1f", elapsedSeconds) + QLatin1Char('s')
        + (outcome.unreadableBytes != 0
               ? QStringLiteral(" • ") + formatByteCount(qint64(outcome.unreadableBytes)) + QStringLiteral(" could not be read")
               : QString());
}

void FileCarvingService::setIsScanning(bool scanning)
{
    if (m_isScanning == scanning)
        return;
    m_isScanning = scanning;
    Q_EMIT isScanningChanged();
}

void FileCarvingService::setScanProgress(double progress)
{
    if (m_scanProgress == progress)
        return;
    m_scanProgress = progress;
    Q_EMIT scanProgressChanged();
}

void FileCarvingService::setStatusMessage(const QString &text)
{
    if (m_statusMessage == text)
        return;
    m_statusMessage = text;
    Q_EMIT statusMessageChanged();
}

void FileCarvingService::setErrorMessage(const QString &text)
{
    if (m_errorMessage.isNull() == text.isNull() && m_errorMessage == text)
        return;
    m_errorMessage = text;
    Q_EMIT errorMessageChanged();
}

void FileCarvingService::setBytesScanned(quint64 bytes)
{
    if (m_bytesScanned == bytes)
        return;
    m_bytesScanned = bytes;
    Q_EMIT bytesScannedChanged();
}

void FileCarvingService::setScanStartTime(const QDateTime &time)
{
    if (m_scanStartTime == time && m_scanStartTime.isValid() == time.isValid())
        return;
    m_scanStartTime = time;
    Q_EMIT scanStartTimeChanged();
}

void FileCarvingService::setShowExistingFiles(bool show)
{
    if (m_showExistingFiles == show)
        return;
    m_showExistingFiles = show;
    Q_EMIT showExistingFilesChanged();
}

void FileCarvingService::setShowUnverified(bool show)
{
    if (m_showUnverified == show)
        return;
    m_showUnverified = show;
    Q_EMIT showUnverifiedChanged();
}

QString FileCarvingService::notListedText(qint64 count)
{
    if (count <= 0)
        return QString();
    return QLocale().toString(count)
        + (count == 1 ? QStringLiteral(" more unverified match not listed")
                      : QStringLiteral(" more unverified matches not listed"));
}

void FileCarvingService::setExistingFileCount(int count)
{
    if (m_existingFileCount == count)
        return;
    m_existingFileCount = count;
    Q_EMIT existingFileCountChanged();
}

// Runs on the service's thread before the worker starts, so the worker's
// first look at the cancel flag and every block it posts come after it.
void FileCarvingService::beginScan()
{
    setIsScanning(true);
    setScanProgress(0.0);
    if (m_model->rowCount() > 0)
        m_model->reset();
    setErrorMessage(QString());
    m_readOutcome = {};
    m_pace = {};
    setBytesScanned(0);
    setScanStartTime(QDateTime::currentDateTime());
    setStatusMessage(QStringLiteral("Initializing scan..."));
}

void FileCarvingService::applyProgress(quint64 bytesScanned, std::optional<double> fraction)
{
    const double elapsed =
        m_scanStartTime.isValid() ? double(m_scanStartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0 : 0.0;
    m_pace = ScanPace::of(bytesScanned, fraction, elapsed);
    if (fraction)
        setScanProgress(*fraction);
    // Emitted even when the count stayed, so that the rate and the time left
    // that hang on this signal follow the clock.
    m_bytesScanned = bytesScanned;
    Q_EMIT bytesScannedChanged();
}

void FileCarvingService::applyCompletion()
{
    const double elapsed =
        m_scanStartTime.isValid() ? double(m_scanStartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0 : 0.0;
    // Progress first: a screen that picks its panel from these two must
    // never see an idle service at progress 0, which is the set-up state.
    setScanProgress(1.0);
    setIsScanning(false);
    m_pace.secondsLeft.reset();
    setStatusMessage(completionText(qsizetype(m_model->totalHitCount()), m_bytesScanned, elapsed, m_readOutcome));
}

void FileCarvingService::startScan(std::function<void(CarvingSink &)> job)
{
    m_scanWork.start([job = std::move(job), texts = ScanTexts::of(m_platform->texts()),
                      limit = m_model->unverifiedListLimit()](Request<FileCarvingService> &request) {
        CarvingSink sink(request, texts, limit);
        job(sink);
    });
}

namespace {
// Whether the program can open the device itself; closed again at once.
bool probeOpen(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}
} // namespace

void FileCarvingService::scanVolume(const VolumeInfo &volume, Signatures signatures)
{
    beginScan();
    const QList<FileSignature> chosen = signatures.value_or(defaultSignatures());
    startScan([volume, chosen, platform = m_platform, directoryScan = m_directoryScan,
               matching = m_matching](CarvingSink &sink) {
        const QString devicePath = volume.rawDevice.isEmpty() ? volume.device : volume.rawDevice;
        sink.postStatus(QStringLiteral("Scanning device ") + devicePath + QStringLiteral(" for file signatures..."));
        if (probeOpen(devicePath)) {
            scanRawFile(devicePath, chosen, volume.name, sink, sink.texts());
        } else {
            sink.postStatus(QStringLiteral("Requesting administrator privileges..."));
            // The volume's capacity is its file system's, which on Linux
            // leaves the end of the device unread; the device's own size
            // wins where it is known.
            const qint64 deviceSize = platform->deviceSize(devicePath);
            ElevatedScanOptions options;
            options.texts = sink.texts();
            if (!platform->tools().perl.isEmpty())
                options.readerInterpreter = platform->tools().perl;
            scanDeviceElevated(devicePath, chosen, volume.name, deviceSize > 0 ? deviceSize : volume.totalSize, sink,
                               administratorsOf(platform), options);
        }
        // A volume without a mount point (a device that is not mounted) has
        // no files to walk: the raw scan's own outcome, and its error, stand.
        // The walks stay on the volume: a Volume Scan of "/" must not read
        // /proc, /run or the other volumes mounted below it.
        const bool mounted = !volume.mountPoint.isEmpty();
        if (directoryScan && mounted && sink.postedHitCount() == 0) {
            sink.post([](FileCarvingService &service) {
                service.setErrorMessage(QString());
                service.setStatusMessage(
                    QStringLiteral("Raw scan found no files (drive may be encrypted). Scanning directory..."));
            });
            directoryScan(sink, volume.mountPoint, chosen, TreeWalk::Scope::rootMount);
        }
        if (matching && mounted && sink.postedHitCount() != 0)
            matching(sink, volume.mountPoint, chosen, TreeWalk::Scope::rootMount);
        sink.finishScan();
    });
}

void FileCarvingService::scanDirectory(const QString &path, Signatures signatures)
{
    beginScan();
    const QList<FileSignature> chosen = signatures.value_or(defaultSignatures());
    startScan([path, chosen, directoryScan = m_directoryScan, matching = m_matching](CarvingSink &sink) {
        if (directoryScan)
            directoryScan(sink, path, chosen, TreeWalk::Scope::realFileSystems);
        if (matching && sink.postedHitCount() != 0)
            matching(sink, path, chosen, TreeWalk::Scope::realFileSystems);
        sink.finishScan();
    });
}

void FileCarvingService::scanDiskImage(const QUrl &url, Signatures signatures)
{
    beginScan();
    const QList<FileSignature> chosen = signatures.value_or(defaultSignatures());
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QString sourceName = QFileInfo(path).fileName();
    startScan([path, sourceName, chosen](CarvingSink &sink) {
        scanRawFile(path, chosen, sourceName, sink, sink.texts());
        sink.finishScan();
    });
}

void FileCarvingService::scanDeletedFiles(const VolumeInfo &volume, Signatures signatures)
{
    beginScan();
    const QList<FileSignature> chosen = signatures.value_or(defaultSignatures());
    startScan([volume, chosen, deletedFilesScan = m_deletedFilesScan](CarvingSink &sink) {
        if (deletedFilesScan)
            deletedFilesScan(sink, volume, chosen);
        sink.finishScan();
    });
}

void FileCarvingService::refreshVolumes()
{
    m_volumeWork.start([platform = m_platform](Request<FileCarvingService> &request) {
        QList<VolumeInfo> found = platform->discoverVolumes();
        request.post([found = std::move(found)](FileCarvingService &service) mutable {
            service.m_volumes->setVolumes(std::move(found));
        });
    });
}

void FileCarvingService::startVolumeScan(const QString &volumeId, const QStringList &typeNames)
{
    if (const std::optional<VolumeInfo> volume = m_volumes->volumeWithId(volumeId))
        scanVolume(*volume, signaturesNamed(typeNames));
}

void FileCarvingService::startDirectoryScan(const QString &path, const QStringList &typeNames)
{
    scanDirectory(path, signaturesNamed(typeNames));
}

void FileCarvingService::startDiskImageScan(const QUrl &url, const QStringList &typeNames)
{
    scanDiskImage(url, signaturesNamed(typeNames));
}

void FileCarvingService::startDeletedFilesScan(const QString &volumeId, const QStringList &typeNames)
{
    if (const std::optional<VolumeInfo> volume = m_volumes->volumeWithId(volumeId))
        scanDeletedFiles(*volume, signaturesNamed(typeNames));
}

void FileCarvingService::newScan()
{
    if (m_model->rowCount() > 0)
        m_model->reset();
    setScanProgress(0.0);
    setErrorMessage(QString());
    setStatusMessage(QStringLiteral(""));
}

SaveResult FileCarvingService::saveCarvedFile(const CarvedFile &file, const QString &folder) const
{
    return ::saveCarvedFile(file, folder);
}

SaveCounts FileCarvingService::saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder) const
{
    return ::saveCarvedFiles(files, folder);
}

QList<CarvedFile> FileCarvingService::filesToSave() const
{
    QList<CarvedFile> files;
    const qsizetype rows = m_model->hitCount();
    for (qsizetype row = 0; row < rows; ++row) {
        if (m_showUnverified || !m_model->isUnverifiedAt(row))
            files.append(m_model->at(row));
    }
    return files;
}

SaveCounts FileCarvingService::saveAllCarvedFiles(const QString &folder) const
{
    return ::saveCarvedFiles(filesToSave(), folder);
}

namespace {
// What a hit adds to the bytes of a save; the same measure for the plan and
// for the progress, so that a finished save shows all of it written.
qint64 plannedBytes(const CarvedFile &file)
{
    return file.data ? file.data->length : std::max<qint64>(file.estimatedSize, 0);
}
} // namespace

bool FileCarvingService::startSaving(QList<CarvedFile> files, const QString &folder)
{
    return startSavingJob(std::move(files), std::nullopt, folder);
}

bool FileCarvingService::startSaving(QList<CarvedFile> list, QList<int> rows, const QString &folder)
{
    return startSavingJob(std::move(list), std::move(rows), folder);
}

bool FileCarvingService::startSavingJob(QList<CarvedFile> list, std::optional<QList<int>> rows, const QString &folder)
{
    if (m_isSaving)
        return false;
    qint64 total = 0;
    if (rows) {
        rows->removeIf([&list](int row) { return row < 0 || row >= list.size(); });
        for (const int row : std::as_const(*rows))
            total += plannedBytes(list.at(row));
    } else {
        for (const CarvedFile &file : std::as_const(list))
            total += plannedBytes(file);
    }
    m_isSaving = true;
    m_saveFilesDone = 0;
    m_saveFilesTotal = int(rows ? rows->size() : list.size());
    m_saveBytesWritten = 0;
    m_saveBytesTotal = total;
    Q_EMIT saveProgressChanged();
    Q_EMIT isSavingChanged();

    auto tally = std::make_shared<SaveTally>();
    m_saveTally = tally;
    if (!m_saveTimer) {
        m_saveTimer = new QTimer(this);
        m_saveTimer->setInterval(100);
        connect(m_saveTimer, &QTimer::timeout, this, [this] {
            if (m_saveTally)
                applySaveProgress(m_saveTally->filesDone.load(),
                                  m_saveTally->bytesWritten.load() + m_saveTally->inFile.load());
        });
    }
    m_saveTimer->start();

    m_saveWork.start([list = std::move(list), rows = std::move(rows), folder, tally](Request<FileCarvingService> &request) {
        QList<CarvedFile> files;
        if (rows) {
            files.reserve(rows->size());
            for (const int row : *rows)
                files.append(list.at(row));
        } else {
            files = list;
        }
        SaveObserver observer;
        // Checked between hits only: a file being written is finished, never
        // left half-written by a cancel.
        observer.proceed = [&request] { return !request.isCancelled(); };
        observer.done = [&tally](const CarvedFile &file, const SaveResult &result) {
            if (result)
                tally->bytesWritten += plannedBytes(file);
            tally->inFile = 0;
            ++tally->filesDone;
        };
        observer.written = [&tally](qint64 bytes) { tally->inFile = bytes; };
        const SaveCounts counts = ::saveCarvedFiles(files, folder, observer);
        const int tried = tally->filesDone.load();
        const qint64 written = tally->bytesWritten.load();
        // Dropped when the service is gone by then.
        request.post([counts, notSaved = int(files.size()) - tried, tried, written](FileCarvingService &service) {
            service.applySaveProgress(tried, written);
            service.finishSaving(counts, notSaved);
        });
    });
    return true;
}

void FileCarvingService::applySaveProgress(int filesDone, qint64 bytesWritten)
{
    if (m_saveFilesDone == filesDone && m_saveBytesWritten == bytesWritten)
        return;
    m_saveFilesDone = filesDone;
    m_saveBytesWritten = bytesWritten;
    Q_EMIT saveProgressChanged();
}

void FileCarvingService::finishSaving(const SaveCounts &counts, int notSaved)
{
    m_saveTimer->stop();
    m_saveTally.reset();
    m_isSaving = false;
    Q_EMIT isSavingChanged();
    Q_EMIT savingFinished(counts.saved, counts.failed, counts.noData, notSaved);
}

namespace {
QString folderPath(const QUrl &folder)
{
    return folder.isLocalFile() ? folder.toLocalFile() : folder.path();
}

QVariantMap countsToMap(const SaveCounts &counts)
{
    return {{QStringLiteral("saved"), counts.saved},
            {QStringLiteral("failed"), counts.failed},
            {QStringLiteral("noData"), counts.noData}};
}
} // namespace

QVariantMap FileCarvingService::saveAll(const QUrl &folder)
{
    return countsToMap(saveAllCarvedFiles(folderPath(folder)));
}

QVariantMap FileCarvingService::saveSelected(const QStringList &ids, const QUrl &folder)
{
    const QSet<QString> wanted(ids.cbegin(), ids.cend());
    QList<CarvedFile> chosen;
    const qsizetype rows = m_model->hitCount();
    for (qsizetype row = 0; row < rows; ++row) {
        CarvedFile file = m_model->at(row);
        if (wanted.contains(file.id.toString(QUuid::WithoutBraces)))
            chosen.append(std::move(file));
    }
    SaveCounts counts = saveCarvedFiles(chosen, folderPath(folder));
    counts.failed += counts.noData;
    counts.noData = 0;
    return countsToMap(counts);
}
