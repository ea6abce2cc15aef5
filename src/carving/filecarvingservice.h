#pragma once

#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

#include "carving/carvedfilefiltermodel.h"
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

// The state and operations behind the Deep Scan screen. Lives on the main
// thread; each scan runs as one request (see ServiceWork) that reports back
// through a ScanSink, whose every call is posted to this thread in order.
class FileCarvingService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(CarvedFileModel *carvedFiles READ carvedFiles CONSTANT)
    // The rows the list shows: carvedFiles less the unverified hits while
    // showUnverified is off.
    Q_PROPERTY(CarvedFileFilterModel *shownFiles READ shownFiles CONSTANT)
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

    // Works on `platform`: the volumes, the administrator scan of a device
    // the program can't open itself and the texts that name the system's
    // facilities all come from it. Without one, the running system's.
    explicit FileCarvingService(QObject *parent = nullptr);
    explicit FileCarvingService(std::shared_ptr<Platform> platform, QObject *parent = nullptr);
    // Cancels running work and returns at once; workers find the service gone.
    ~FileCarvingService() override;

    CarvedFileModel *carvedFiles() const { return m_model; }
    CarvedFileFilterModel *shownFiles() const { return m_shown; }
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

    // Whether the running scan was asked to stop.
    bool shouldCancel() const { return m_scanWork.isCancelled(); }

    void setDirectoryScan(DirectoryScanStep scan) { m_directoryScan = std::move(scan); }
    void setExistingFileMatching(MatchingStep matching) { m_matching = std::move(matching); }

    // Scan entry operations: reset the state, start one worker, return. An
    // absent signature list means the whole catalogue; a given one, even an
    // empty one, is used as it is. A new scan supersedes a running one.
    void scanVolume(const VolumeInfo &volume, Signatures signatures = std::nullopt);
    void scanDirectory(const QString &path, Signatures signatures = std::nullopt);
    void scanDiskImage(const QUrl &url, Signatures signatures = std::nullopt);

    // Saving runs on the caller's thread (the screen's, by design).
    SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder) const;
    SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder) const;
    // Saves every hit the list offers: all of them when showUnverified is
    // on, else all but the unverified ones.
    SaveCounts saveAllCarvedFiles(const QString &folder) const;
    QList<CarvedFile> filesToSave() const;

    // The catalogue in its order, restricted to the given type names.
    static QList<FileSignature> signaturesNamed(const QStringList &typeNames);
    static QString completionText(qsizetype hitCount, quint64 bytesScanned, double elapsedSeconds);
    // "N more unverified matches not listed", or empty for 0.
    static QString notListedText(qint64 count);

    // The screen's calls.
    Q_INVOKABLE void refreshVolumes();
    // The volume is named by its id in `volumes`; an unknown id starts nothing.
    Q_INVOKABLE void startVolumeScan(const QString &volumeId, const QStringList &typeNames);
    Q_INVOKABLE void startDirectoryScan(const QString &path, const QStringList &typeNames);
    Q_INVOKABLE void startDiskImageScan(const QUrl &url, const QStringList &typeNames);
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

    std::shared_ptr<Platform> m_platform;
    CarvedFileModel *m_model;
    CarvedFileFilterModel *m_shown;
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
    ScanPace m_pace;

    DirectoryScanStep m_directoryScan;
    MatchingStep m_matching;
    // Declared last: destroyed first, so that a request can never reach a
    // half-destroyed service.
    ServiceWork<FileCarvingService> m_scanWork{this};
    ServiceWork<FileCarvingService> m_volumeWork{this};
};
