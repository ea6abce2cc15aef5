#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "carving/carvedfilemodel.h"
#include "carving/directscan.h"
#include "carving/savecarved.h"
#include "carving/scansink.h"
#include "model/filesignature.h"
#include "model/records.h"

class FileCarvingService;

// Flags shared by a service and the workers it started. A worker may outlive
// its service, so the flags live as long as the last of them.
struct ScanControl {
    std::atomic<bool> shouldCancel{false};
    std::atomic<bool> serviceGone{false};
};

// The worker side of one request. Every change it makes is posted to the
// service's thread, in order, and dropped there when the service is gone; the
// worker never touches the service itself.
class ScanContext final : public ScanSink
{
public:
    ScanContext(QPointer<FileCarvingService> service, std::shared_ptr<ScanControl> control, ScanTexts texts);

    bool shouldCancel() const override;
    void postStatus(const QString &text) override;
    void postError(const QString &text) override;
    void postCarvedFiles(QList<CarvedFile> files) override;
    void postProgress(quint64 bytesScanned, std::optional<double> fraction,
                      std::function<QString(qsizetype hitCount)> statusText) override;

    // Posts an arbitrary change; it runs on the service's thread after every
    // change posted before it.
    void post(std::function<void(FileCarvingService &)> change);

    // Runs `work` on the service's thread and waits for it, behind everything
    // posted before. Returns false, without running it, when the service is
    // gone or the scan was cancelled (so that shutting down never waits on a
    // worker that waits on the main thread).
    bool runOnService(const std::function<void(FileCarvingService &)> &work);

    // The number of hits this request has posted. The list was emptied when
    // the scan started and only this request appends to it, so this is the
    // list's length once the posted appends have run, without a round trip.
    qsizetype postedHitCount() const { return m_postedHits; }

    // The completion step; posted last.
    void finishScan();

    bool serviceGone() const;
    const ScanTexts &texts() const { return m_texts; }

private:
    QPointer<FileCarvingService> m_service;
    std::shared_ptr<ScanControl> m_control;
    ScanTexts m_texts;
    qsizetype m_postedHits = 0;
};

// The state and operations behind the Deep Scan screen. Lives on the main
// thread; each scan runs as one task on the global thread pool and reports
// back through a ScanContext.
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
    // One map per volume: id, name, mountPoint, device, rawDevice, fileSystem,
    // totalSize, freeSize, isExternal, isRemovable, and the sizes as shown
    // (totalSizeText, freeSizeText).
    Q_PROPERTY(QVariantList volumes READ volumeMaps NOTIFY volumesChanged)
    Q_PROPERTY(quint64 bytesScanned READ bytesScanned NOTIFY bytesScannedChanged)
    // Invalid when no scan has started.
    Q_PROPERTY(QDateTime scanStartTime READ scanStartTime NOTIFY scanStartTimeChanged)
    Q_PROPERTY(bool showExistingFiles READ showExistingFiles WRITE setShowExistingFiles NOTIFY showExistingFilesChanged)
    Q_PROPERTY(int existingFileCount READ existingFileCount NOTIFY existingFileCountChanged)

public:
    using Signatures = std::optional<QList<FileSignature>>;

    // Seams for the scan steps other subsystems provide. Each runs on the
    // worker; unset, the step is left out.
    using ElevatedScanStep = std::function<void(ScanContext &, const QString &devicePath,
                                            const QList<FileSignature> &, const VolumeInfo &)>;
    using DirectoryScanStep = std::function<void(ScanContext &, const QString &folder, const QList<FileSignature> &)>;
    using ExistingFileMatchingStep = std::function<void(ScanContext &, const QString &root, const QList<FileSignature> &)>;
    using VolumeDiscoveryStep = std::function<QList<VolumeInfo>()>;

    explicit FileCarvingService(QObject *parent = nullptr);
    // Cancels running work and returns at once; workers find the service gone.
    ~FileCarvingService() override;

    CarvedFileModel *carvedFiles() const { return m_model; }
    bool isScanning() const { return m_isScanning; }
    double scanProgress() const { return m_scanProgress; }
    QString statusMessage() const { return m_statusMessage; }
    QString errorMessage() const { return m_errorMessage; }
    bool hasError() const { return !m_errorMessage.isNull(); }
    const QList<VolumeInfo> &volumes() const { return m_volumes; }
    QVariantList volumeMaps() const;
    quint64 bytesScanned() const { return m_bytesScanned; }
    QDateTime scanStartTime() const { return m_scanStartTime; }
    bool showExistingFiles() const { return m_showExistingFiles; }
    void setShowExistingFiles(bool show);
    int existingFileCount() const { return m_existingFileCount; }
    // For the existing-file matching, on the service's thread.
    void setExistingFileCount(int count);

    bool shouldCancel() const { return m_control->shouldCancel.load(); }
    void setShouldCancel(bool cancel) { m_control->shouldCancel.store(cancel); }

    void setElevatedScan(ElevatedScanStep scan) { m_elevatedScan = std::move(scan); }
    void setDirectoryScan(DirectoryScanStep scan) { m_directoryScan = std::move(scan); }
    void setExistingFileMatching(ExistingFileMatchingStep matching) { m_matching = std::move(matching); }
    void setVolumeDiscovery(VolumeDiscoveryStep discovery) { m_volumeDiscovery = std::move(discovery); }
    void setScanTexts(ScanTexts texts) { m_texts = std::move(texts); }

    // Scan entry operations: reset the state, start one worker, return. An
    // absent signature list means the whole catalogue; a given one, even an
    // empty one, is used as it is.
    void scanVolume(const VolumeInfo &volume, Signatures signatures = std::nullopt);
    void scanDirectory(const QString &path, Signatures signatures = std::nullopt);
    void scanDiskImage(const QUrl &url, Signatures signatures = std::nullopt);

    // Saving runs on the caller's thread (the screen's, by design).
    SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder) const;
    SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder) const;
    SaveCounts saveAllCarvedFiles(const QString &folder) const;

    // The catalogue in its order, restricted to the given type names.
    static QList<FileSignature> signaturesNamed(const QStringList &typeNames);
    static QVariantMap volumeToMap(const VolumeInfo &volume);
    static VolumeInfo volumeFromMap(const QVariantMap &map);
    static QString completionText(qsizetype hitCount, quint64 bytesScanned, double elapsedSeconds);

    // The screen's calls.
    Q_INVOKABLE void refreshVolumes();
    Q_INVOKABLE void startVolumeScan(const QVariantMap &volume, const QStringList &typeNames);
    Q_INVOKABLE void startDirectoryScan(const QString &path, const QStringList &typeNames);
    Q_INVOKABLE void startDiskImageScan(const QUrl &url, const QStringList &typeNames);
    Q_INVOKABLE void cancelScan() { setShouldCancel(true); }
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
    void volumesChanged();
    void bytesScannedChanged();
    void scanStartTimeChanged();
    void showExistingFilesChanged();
    void existingFileCountChanged();

private:
    friend class ScanContext;

    void beginScan();
    void startWorker(std::function<void(ScanContext &)> job);

    void setIsScanning(bool scanning);
    void setScanProgress(double progress);
    void setStatusMessage(const QString &text);
    void setErrorMessage(const QString &text);
    void setBytesScanned(quint64 bytes);
    void setScanStartTime(const QDateTime &time);
    void setVolumes(QList<VolumeInfo> volumes);
    void applyCompletion();

    CarvedFileModel *m_model;
    bool m_isScanning = false;
    double m_scanProgress = 0.0;
    QString m_statusMessage = QStringLiteral("");
    QString m_errorMessage;
    QList<VolumeInfo> m_volumes;
    quint64 m_bytesScanned = 0;
    QDateTime m_scanStartTime;
    bool m_showExistingFiles = false;
    int m_existingFileCount = 0;

    std::shared_ptr<ScanControl> m_control = std::make_shared<ScanControl>();
    ScanTexts m_texts;
    ElevatedScanStep m_elevatedScan;
    DirectoryScanStep m_directoryScan;
    ExistingFileMatchingStep m_matching;
    VolumeDiscoveryStep m_volumeDiscovery;
};
