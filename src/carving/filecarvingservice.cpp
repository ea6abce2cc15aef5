#include "filecarvingservice.h"

#include "carving/elevatedscan.h"
#include "system/platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>

#include <fcntl.h>
#include <unistd.h>

#include "model/bytecount.h"

// Posting goes through the application object rather than the service: the
// service may be destroyed on the main thread while a worker posts, and
// posting to a dead receiver is undefined, whereas the application outlives
// every service. The QPointer is read on the main thread only, where the
// service dies, so the check cannot race.

ScanContext::ScanContext(QPointer<FileCarvingService> service, std::shared_ptr<ScanControl> control, ScanTexts texts)
    : m_service(std::move(service))
    , m_control(std::move(control))
    , m_texts(std::move(texts))
{
}

bool ScanContext::shouldCancel() const
{
    return m_control->shouldCancel.load();
}

bool ScanContext::serviceGone() const
{
    return m_control->serviceGone.load();
}

void ScanContext::post(std::function<void(FileCarvingService &)> change)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (serviceGone() || !application)
        return;
    QMetaObject::invokeMethod(
        application,
        [service = m_service, change = std::move(change)] {
            if (service)
                change(*service);
        },
        Qt::QueuedConnection);
}

bool ScanContext::runOnService(const std::function<void(FileCarvingService &)> &work)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (serviceGone() || shouldCancel() || !application)
        return false;
    bool ran = false;
    QMetaObject::invokeMethod(
        application,
        [service = m_service, &work, &ran] {
            if (service) {
                work(*service);
                ran = true;
            }
        },
        Qt::BlockingQueuedConnection);
    return ran;
}

void ScanContext::postStatus(const QString &text)
{
    post([text](FileCarvingService &service) { service.setStatusMessage(text); });
}

void ScanContext::postError(const QString &text)
{
    post([text](FileCarvingService &service) { service.setErrorMessage(text); });
}

void ScanContext::postCarvedFiles(QList<CarvedFile> files)
{
    if (files.isEmpty())
        return;
    m_postedHits += files.size();
    post([files = std::move(files)](FileCarvingService &service) mutable {
        service.m_model->append(std::move(files));
    });
}

void ScanContext::postProgress(quint64 bytesScanned, std::optional<double> fraction,
                               std::function<QString(qsizetype)> statusText)
{
    post([bytesScanned, fraction, statusText = std::move(statusText)](FileCarvingService &service) {
        service.setBytesScanned(bytesScanned);
        if (fraction)
            service.setScanProgress(*fraction);
        service.setStatusMessage(statusText(service.m_model->rowCount()));
    });
}

void ScanContext::finishScan()
{
    post([](FileCarvingService &service) { service.applyCompletion(); });
}

FileCarvingService::FileCarvingService(QObject *parent)
    : QObject(parent)
    , m_model(new CarvedFileModel(this))
{
    // Out of the box the service works on the running system: the volume
    // list, the administrator scan of a device it can't open and the texts
    // that name the system's facilities come from the platform backend.
    // Tests and tools replace any of them through the setters.
    m_texts = ScanTexts::forCurrentPlatform();
    m_volumeDiscovery = [] { return discoverVolumes(); };
    m_elevatedScan = [](ScanContext &context, const QString &devicePath, const QList<FileSignature> &signatures,
                        const VolumeInfo &volume) {
        // The helper copies as many chunks as the size allows; the volume's
        // capacity is its file system's, which on Linux leaves the end of the
        // device unread, so the device's own size wins where it is known.
        const qint64 deviceSize = currentPlatform().deviceSize(devicePath);
        scanDeviceElevated(devicePath, signatures, volume.name, deviceSize > 0 ? deviceSize : volume.totalSize, context,
                           [] { return makeCurrentPlatformAdministrator(); });
    };
}

FileCarvingService::~FileCarvingService()
{
    m_control->shouldCancel.store(true);
    m_control->serviceGone.store(true);
}

QVariantList FileCarvingService::volumeMaps() const
{
    QVariantList maps;
    maps.reserve(m_volumes.size());
    for (const VolumeInfo &volume : m_volumes)
        maps.append(volumeToMap(volume));
    return maps;
}

QVariantMap FileCarvingService::volumeToMap(const VolumeInfo &volume)
{
    return {
        {QStringLiteral("id"), volume.id.toString(QUuid::WithoutBraces)},
        {QStringLiteral("name"), volume.name},
        {QStringLiteral("mountPoint"), volume.mountPoint},
        {QStringLiteral("device"), volume.device},
        {QStringLiteral("rawDevice"), volume.rawDevice},
        {QStringLiteral("fileSystem"), volume.fileSystem},
        {QStringLiteral("totalSize"), volume.totalSize},
        {QStringLiteral("freeSize"), volume.freeSize},
        {QStringLiteral("totalSizeText"), formatByteCount(volume.totalSize)},
        {QStringLiteral("freeSizeText"), formatByteCount(volume.freeSize)},
        {QStringLiteral("isExternal"), volume.isExternal},
        {QStringLiteral("isRemovable"), volume.isRemovable},
    };
}

VolumeInfo FileCarvingService::volumeFromMap(const QVariantMap &map)
{
    VolumeInfo volume;
    const QUuid id = QUuid::fromString(map.value(QStringLiteral("id")).toString());
    if (!id.isNull())
        volume.id = id;
    volume.name = map.value(QStringLiteral("name")).toString();
    volume.mountPoint = map.value(QStringLiteral("mountPoint")).toString();
    volume.device = map.value(QStringLiteral("device")).toString();
    volume.rawDevice = map.value(QStringLiteral("rawDevice")).toString();
    volume.fileSystem = map.value(QStringLiteral("fileSystem")).toString();
    volume.totalSize = map.value(QStringLiteral("totalSize")).toLongLong();
    volume.freeSize = map.value(QStringLiteral("freeSize")).toLongLong();
    volume.isExternal = map.value(QStringLiteral("isExternal")).toBool();
    volume.isRemovable = map.value(QStringLiteral("isRemovable")).toBool();
    return volume;
}

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

QString FileCarvingService::completionText(qsizetype hitCount, quint64 bytesScanned, double elapsedSeconds)
{
    return QStringLiteral("Scan complete: ") + QString::number(hitCount) + QStringLiteral(" files found • ")
        + formatByteCount(qint64(bytesScanned)) + QStringLiteral(" scanned • ")
        + QString::asprintf("%.1f", elapsedSeconds) + QLatin1Char('s');
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

void FileCarvingService::setExistingFileCount(int count)
{
    if (m_existingFileCount == count)
        return;
    m_existingFileCount = count;
    Q_EMIT existingFileCountChanged();
}

void FileCarvingService::setVolumes(QList<VolumeInfo> volumes)
{
    m_volumes = std::move(volumes);
    Q_EMIT volumesChanged();
}

// Runs on the service's thread before the worker starts, so the worker's
// first look at the cancel flag and every block it posts come after it.
void FileCarvingService::beginScan()
{
    setIsScanning(true);
    setScanProgress(0.0);
    if (m_model->rowCount() > 0)
        m_model->reset();
    m_control->shouldCancel.store(false);
    setErrorMessage(QString());
    setBytesScanned(0);
    setScanStartTime(QDateTime::currentDateTime());
    setStatusMessage(QStringLiteral("Initializing scan..."));
}

void FileCarvingService::applyCompletion()
{
    const double elapsed =
        m_scanStartTime.isValid() ? double(m_scanStartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0 : 0.0;
    setIsScanning(false);
    setScanProgress(1.0);
    setStatusMessage(completionText(m_model->rowCount(), m_bytesScanned, elapsed));
}

void FileCarvingService::startWorker(std::function<void(ScanContext &)> job)
{
    auto context = std::make_shared<ScanContext>(QPointer<FileCarvingService>(this), m_control, m_texts);
    QThreadPool::globalInstance()->start([context, job = std::move(job)] {
        if (context->serviceGone())
            return;
        job(*context);
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
    startWorker([volume, chosen, elevated = m_elevatedScan, directoryScan = m_directoryScan,
                 matching = m_matching](ScanContext &context) {
        const QString devicePath = volume.rawDevice.isEmpty() ? volume.device : volume.rawDevice;
        context.postStatus(QStringLiteral("Scanning device ") + devicePath + QStringLiteral(" for file signatures..."));
        // Without an elevated scan to turn to, the direct scan itself reports
        // why the device could not be opened.
        if (probeOpen(devicePath) || !elevated) {
            scanRawFile(devicePath, chosen, volume.name, context, context.texts());
        } else {
            context.postStatus(QStringLiteral("Requesting administrator privileges..."));
            elevated(context, devicePath, chosen, volume);
        }
        if (directoryScan && context.postedHitCount() == 0) {
            context.post([](FileCarvingService &service) {
                service.setErrorMessage(QString());
                service.setStatusMessage(
                    QStringLiteral("Raw scan found no files (drive may be encrypted). Scanning directory..."));
            });
            directoryScan(context, volume.mountPoint, chosen);
        }
        if (matching && context.postedHitCount() != 0)
            matching(context, volume.mountPoint, chosen);
        context.finishScan();
    });
}

void FileCarvingService::scanDirectory(const QString &path, Signatures signatures)
{
    beginScan();
    const QList<FileSignature> chosen = signatures.value_or(defaultSignatures());
    startWorker([path, chosen, directoryScan = m_directoryScan, matching = m_matching](ScanContext &context) {
        if (directoryScan)
            directoryScan(context, path, chosen);
        if (matching && context.postedHitCount() != 0)
            matching(context, path, chosen);
        context.finishScan();
    });
}

void FileCarvingService::scanDiskImage(const QUrl &url, Signatures signatures)
{
    beginScan();
    const QList<FileSignature> chosen = signatures.value_or(defaultSignatures());
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QString sourceName = QFileInfo(path).fileName();
    startWorker([path, sourceName, chosen](ScanContext &context) {
        scanRawFile(path, chosen, sourceName, context, context.texts());
        context.finishScan();
    });
}

void FileCarvingService::refreshVolumes()
{
    startWorker([discovery = m_volumeDiscovery](ScanContext &context) {
        QList<VolumeInfo> found = discovery ? discovery() : QList<VolumeInfo>();
        context.post([found = std::move(found)](FileCarvingService &service) mutable {
            service.setVolumes(std::move(found));
        });
    });
}

void FileCarvingService::startVolumeScan(const QVariantMap &volume, const QStringList &typeNames)
{
    scanVolume(volumeFromMap(volume), signaturesNamed(typeNames));
}

void FileCarvingService::startDirectoryScan(const QString &path, const QStringList &typeNames)
{
    scanDirectory(path, signaturesNamed(typeNames));
}

void FileCarvingService::startDiskImageScan(const QUrl &url, const QStringList &typeNames)
{
    scanDiskImage(url, signaturesNamed(typeNames));
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

SaveCounts FileCarvingService::saveAllCarvedFiles(const QString &folder) const
{
    return ::saveCarvedFiles(m_model->files(), folder);
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
    for (const CarvedFile &file : m_model->files()) {
        if (wanted.contains(file.id.toString(QUuid::WithoutBraces)))
            chosen.append(file);
    }
    SaveCounts counts = saveCarvedFiles(chosen, folderPath(folder));
    counts.failed += counts.noData;
    counts.noData = 0;
    return countsToMap(counts);
}
