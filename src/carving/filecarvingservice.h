#pragma once

#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "carving/carvedfilemodel.h"
#include "carving/directscan.h"
#include "carving/savecarved.h"
#include "carving/scanpace.h"
#include "carving/scansink.h"
#include "carving/volumelistmodel.h"
#include "model/filesignature.h"
#include "model/records.h"
#include "system/servicework.h"
#include "system/treewalk.h"

class CarvingSink;
class Platform;
class QTimer;

// The state and operations behind the Deep Scan screen. Lives on the main
// thread; each scan runs as one request (see ServiceWork) that reports back
// through a ScanSink, whose every call is posted to this thread in order.
class FileCarvingService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(CarvedFileModel *carvedFiles READ carvedFiles CONSTANT)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(double scanProgress READ scanProgress NOTIFY scanProgressChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    // A null string when there is no error.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorMessageChanged)
    Q_PROPERTY(VolumeListModel *volumes READ volumes CONSTANT)
    Q_PROPERTY(quint64 bytesScanned READ bytesScanned NOTIFY bytesScannedChanged)
    // Invalid when no scan has started.
    Q_PROPERTY(QDateTime scanStartTime READ scanStartTime NOTIFY scanStartTimeChanged)
    Q_PROPERTY(bool showExistingFiles READ showExistingFiles WRITE setShowExistingFiles NOTIFY showExistingFilesChanged)
    Q_PROPERTY(int existingFileCount READ existingFileCount NOTIFY existingFileCountChanged)
    // Bytes per second of the running scan, 0 before it has a rate.
    Q_PROPERTY(double scanRate READ scanRate NOTIFY bytesScannedChanged)
    // Seconds the running scan still needs; -1 while unknown.
    Q_PROPERTY(double secondsRemaining READ secondsRemaining NOTIFY bytesScannedChanged)
    // Hits whose structure was walked and found whole.
    Q_PROPERTY(qint64 verifiedCount READ verifiedCount NOTIFY hitTallyChanged)
    // Hits a walk refused, listed or not: the N of "Show Unverified (N)".
    Q_PROPERTY(qint64 unverifiedCount READ unverifiedCount NOTIFY hitTallyChanged)
    // Unverified hits past the list's limit: counted, but without a row.
    Q_PROPERTY(qint64 unverifiedNotListedCount READ unverifiedNotListedCount NOTIFY hitTallyChanged)
    // "N more unverified matches not listed"; empty when every hit is listed.
    Q_PROPERTY(QString unverifiedNotListedText READ unverifiedNotListedText NOTIFY hitTallyChanged)
    // The "Show Unverified" toggle: unverified hits are hidden (and left out
    // of Save All) until it is on. Off for every new service.
    Q_PROPERTY(bool showUnverified READ showUnverified WRITE setShowUnverified NOTIFY showUnverifiedChanged)
    // A save started with startSaving() is running.
    Q_PROPERTY(bool isSaving READ isSaving NOTIFY isSavingChanged)
    // Of the running or last save: hits tried so far and in all, and bytes
    // written so far and planned in all.
    Q_PROPERTY(int saveFilesDone READ saveFilesDone NOTIFY saveProgressChanged)
    Q_PROPERTY(int saveFilesTotal READ saveFilesTotal NOTIFY saveProgressChanged)
    Q_PROPERTY(qint64 saveBytesWritten READ saveBytesWritten NOTIFY saveProgressChanged)
    Q_PROPERTY(qint64 saveBytesTotal READ saveBytesTotal NOTIFY saveProgressChanged)

public:
    using Signatures = std::optional<QList<FileSignature>>;

    // The scan steps that walk existing files (scanDirectoryTree and
    // matchExistingFiles unless replaced); each runs on the worker with the
    // folder it starts from and how far below it the walk may go. Unset, the
    // step is left out.
    using DirectoryScanStep =
        std::function<void(ScanSink &, const QString &root, const QList<FileSignature> &, TreeWalk::Scope)>;
    using MatchingStep =
        std::function<void(ReviewingSink &, const QString &root, const QList<FileSignature> &, TreeWalk::Scope)>;
    // The Deleted Files mode's steps for a volume; the service runs the
    // completion after them. By default the Trash, snapshot and file-index
    // scan on the service's platform; unset, that mode is a scan start and a
    // completion.
    using DeletedFilesScanStep = std::function<void(ReviewingSink &, const VolumeInfo &, const QList<FileSignature> &)>;

    // Works on `platform`: the volumes, the administrator scan of a device
    // the program can't open itself and the texts that name the system's
    // facilities all come from it. Without one, the running system's.
    explicit FileCarvingService(QObject *parent = nullptr);
    explicit FileCarvingService(std::shared_ptr<Platform> platform, QObject *parent = nullptr);
    // Cancels running work and returns at once; workers find the service gone.
    ~FileCarvingService() override;

    CarvedFileModel *carvedFiles() const { return m_model; }
    bool isScanning() const { return m_isScanning; }
    double scanProgress() const { return m_scanProgress; }
    QString statusMessage() const { return m_statusMessage; }
    QString errorMessage() const { return m_errorMessage; }
    bool hasError() const { return !m_errorMessage.isNull(); }
    VolumeListModel *volumes() const { return m_volumes; }
    quint64 bytesScanned() const { return m_bytesScanned; }
    QDateTime scanStartTime() const { return m_scanStartTime; }
    bool showExistingFiles() const { return m_showExistingFiles; }
    void setShowExistingFiles(bool show);
    int existingFileCount() const { return m_existingFileCount; }
    double scanRate() const { return m_pace.bytesPerSecond; }
    double secondsRemaining() const { return m_pace.secondsLeft.value_or(-1.0); }
    qint64 verifiedCount() const { return m_model->verifiedCount(); }
    qint64 unverifiedCount() const { return m_model->unverifiedCount(); }
    qint64 unverifiedNotListedCount() const { return m_model->notListedCount(); }
    QString unverifiedNotListedText() const { return notListedText(m_model->notListedCount()); }
    bool showUnverified() const { return m_showUnverified; }
    void setShowUnverified(bool show);
    const Platform &platform() const { return *m_platform; }
    bool isSaving() const { return m_isSaving; }
    int saveFilesDone() const { return m_saveFilesDone; }
    int saveFilesTotal() const { return m_saveFilesTotal; }
    qint64 saveBytesWritten() const { return m_saveBytesWritten; }
    qint64 saveBytesTotal() const { return m_saveBytesTotal; }

    // Whether the running scan was asked to stop.
    bool shouldCancel() const { return m_scanWork.isCancelled(); }

    void setDirectoryScan(DirectoryScanStep scan) { m_directoryScan = std::move(scan); }
    void setExistingFileMatching(MatchingStep matching) { m_matching = std::move(matching); }
    void setDeletedFilesScan(DeletedFilesScanStep scan) { m_deletedFilesScan = std::move(scan); }

    // Scan entry operations: reset the state, start one worker, return. An
    // absent signature list means the whole catalogue; a given one, even an
    // empty one, is used as it is. A new scan supersedes a running one.
    void scanVolume(const VolumeInfo &volume, Signatures signatures = std::nullopt);
    void scanDirectory(const QString &path, Signatures signatures = std::nullopt);
    void scanDiskImage(const QUrl &url, Signatures signatures = std::nullopt);
    void scanDeletedFiles(const VolumeInfo &volume, Signatures signatures = std::nullopt);

    // Saves the hits into `folder` on a worker, in order, publishing the
    // progress as it goes, and ends with savingFinished(). A cancel stops it
    // after the hit being written; the hits not tried count as notSaved.
    // Starting a save while one runs is ignored; false then.
    bool startSaving(QList<CarvedFile> files, const QString &folder);
    // The same for the hits at these rows of `list`, in the order given. The
    // hits are picked out on the worker, so that a selection of a million
    // costs the caller no copy of them.
    bool startSaving(QList<CarvedFile> list, QList<int> rows, const QString &folder);
    Q_INVOKABLE void cancelSaving() { m_saveWork.cancel(); }

    // These run on the caller's thread.
    SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder) const;
    SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder) const;
    // Saves every hit the list offers: all of them when showUnverified is
    // on, else all but the unverified ones.
    SaveCounts saveAllCarvedFiles(const QString &folder) const;
    QList<CarvedFile> filesToSave() const;

    // The catalogue in its order, restricted to the given type names.
    static QList<FileSignature> signaturesNamed(const QStringList &typeNames);
    // The summary line; a scan that lost its source or met unreadable bytes
    // says so in it.
    static QString completionText(qsizetype hitCount, quint64 bytesScanned, double elapsedSeconds,
                                  const ReadOutcome &outcome = {});
    // What the last raw read skipped or lost, for callers that write their
    // own summary.
    const ReadOutcome &readOutcome() const { return m_readOutcome; }
    // "N more unverified matches not listed", or empty for 0.
    static QString notListedText(qint64 count);

    // The screen's calls.
    Q_INVOKABLE void refreshVolumes();
    // The volume is named by its id in `volumes`; an unknown id starts nothing.
    Q_INVOKABLE void startVolumeScan(const QString &volumeId, const QStringList &typeNames);
    Q_INVOKABLE void startDirectoryScan(const QString &path, const QStringList &typeNames);
    Q_INVOKABLE void startDiskImageScan(const QUrl &url, const QStringList &typeNames);
    Q_INVOKABLE void startDeletedFilesScan(const QString &volumeId, const QStringList &typeNames);
    // Stop: the scan ends at its next check and still runs its completion.
    Q_INVOKABLE void cancelScan() { m_scanWork.cancel(); }
    // New Scan: no hits, progress 0, no error, empty status.
    Q_INVOKABLE void newScan();
    // {saved, failed, noData} of every hit.
    Q_INVOKABLE QVariantMap saveAll(const QUrl &folder);
    // {saved, failed, noData} of the rows with these ids; for a selection a
    // hit with nothing to save counts as failed, so noData is 0.
    Q_INVOKABLE QVariantMap saveSelected(const QStringList &ids, const QUrl &folder);

Q_SIGNALS:
    void isScanningChanged();
    void scanProgressChanged();
    void statusMessageChanged();
    void errorMessageChanged();
    void bytesScannedChanged();
    void scanStartTimeChanged();
    void showExistingFilesChanged();
    void existingFileCountChanged();
    void hitTallyChanged();
    void showUnverifiedChanged();
    void isSavingChanged();
    void saveProgressChanged();
    // A save started with startSaving() ended; the four counts add up to the
    // hits it was given.
    void savingFinished(int saved, int failed, int noData, int notSaved);

private:
    friend class CarvingSink;

    void beginScan();
    void startScan(std::function<void(CarvingSink &)> job);

    void setIsScanning(bool scanning);
    void setScanProgress(double progress);
    void setStatusMessage(const QString &text);
    void setErrorMessage(const QString &text);
    void setBytesScanned(quint64 bytes);
    void setScanStartTime(const QDateTime &time);
    void setExistingFileCount(int count);
    void applyProgress(quint64 bytesScanned, std::optional<double> fraction);
    void applyCompletion();
    bool startSavingJob(QList<CarvedFile> list, std::optional<QList<int>> rows, const QString &folder);
    void applySaveProgress(int filesDone, qint64 bytesWritten);
    void finishSaving(const SaveCounts &counts, int notSaved);

    // What the running save has done so far, written by its worker and read
    // by a timer here: a file that takes minutes still shows everything
    // done before it.
    struct SaveTally {
        std::atomic<int> filesDone{0};
        std::atomic<qint64> bytesWritten{0};
        std::atomic<qint64> inFile{0};  // of the file being written
    };

    std::shared_ptr<Platform> m_platform;
    CarvedFileModel *m_model;
    VolumeListModel *m_volumes;
    bool m_isScanning = false;
    double m_scanProgress = 0.0;
    QString m_statusMessage = QStringLiteral("");
    QString m_errorMessage;
    quint64 m_bytesScanned = 0;
    QDateTime m_scanStartTime;
    bool m_showExistingFiles = false;
    int m_existingFileCount = 0;
    bool m_showUnverified = false;
    ReadOutcome m_readOutcome;
    ScanPace m_pace;
    bool m_isSaving = false;
    int m_saveFilesDone = 0;
    int m_saveFilesTotal = 0;
    qint64 m_saveBytesWritten = 0;
    qint64 m_saveBytesTotal = 0;
    std::shared_ptr<SaveTally> m_saveTally;
    QTimer *m_saveTimer = nullptr;

    DirectoryScanStep m_directoryScan;
    MatchingStep m_matching;
    DeletedFilesScanStep m_deletedFilesScan;
    // Declared last: destroyed first, so that a request can never reach a
    // half-destroyed service.
    ServiceWork<FileCarvingService> m_scanWork{this};
    ServiceWork<FileCarvingService> m_volumeWork{this};
    ServiceWork<FileCarvingService> m_saveWork{this};
};
