#include "trashrecoveryservice.h"

#include <QDir>

#include <algorithm>

#include "system/platform.h"
#include "trash/trashlisting.h"
#include "trash/trashrestore.h"

using namespace Qt::Literals::StringLiterals;

TrashRecoveryService::TrashRecoveryService(QObject *parent)
    : TrashRecoveryService(runningPlatform(), parent)
{
}

TrashRecoveryService::TrashRecoveryService(std::shared_ptr<Platform> platform, QObject *parent)
    : QObject(parent)
    , m_platform(std::move(platform))
    , m_items(new TrashItemModel(this))
{
    // macOS users know their Trash as "~/.Trash"; on Linux the folder is
    // wherever XDG_DATA_HOME puts it, so show the real one.
    m_trashFolderText = m_platform->kind() == PlatformKind::macOS
        ? u"~/.Trash"_s
        : displayedFolder(m_platform->homeTrash().root, QDir::homePath());
}

TrashRecoveryService::~TrashRecoveryService() = default;

QString TrashRecoveryService::subtitle() const
{
    return m_platform->texts().trashSubtitle;
}

bool TrashRecoveryService::knowsOriginalLocations() const
{
    return m_platform->kind() == PlatformKind::gnuLinux;
}

void TrashRecoveryService::scanTrash()
{
    setIsScanning(true);
    setScanProgress(0.0);
    if (m_items->rowCount() > 0)
        m_items->setItems({});
    setErrorMessage(QString());
    m_scanWork.start([platform = m_platform](Request<TrashRecoveryService> &request) {
        TrashScanOutcome outcome = scanUserTrash(
            *platform,
            [&request](double fraction) {
                request.postProgress([fraction](TrashRecoveryService &service) { service.setScanProgress(fraction); });
            },
            [&request] { return request.isCancelled(); });
        request.post([outcome = std::move(outcome)](TrashRecoveryService &service) mutable {
            service.finishScan(std::move(outcome));
        });
    });
}

void TrashRecoveryService::finishScan(TrashScanOutcome outcome)
{
    if (outcome.errorMessage)
        setErrorMessage(*outcome.errorMessage);
    m_items->setItems(std::move(outcome.items));
    setIsScanning(false);
    // A listing that could not start keeps the progress where it was.
    if (!outcome.errorMessage)
        setScanProgress(1.0);
}

bool TrashRecoveryService::recoverItems(const QList<TrashItem> &items, const QString &destination)
{
    return startRestore(items, destination);
}

bool TrashRecoveryService::restoreToOriginalLocations(const QList<TrashItem> &items)
{
    return startRestore(items, std::nullopt);
}

bool TrashRecoveryService::startRestore(const QList<TrashItem> &items, std::optional<QString> destination)
{
    if (m_isRecovering)
        return false;
    setIsRecovering(true);
    setRecoverProgress(0.0);
    // The job ignores cancellation: leaving the screen must not stop a
    // restore between its steps; it finishes on its own and its reports are
    // dropped.
    m_restoreWork.start([items, destination, platform = m_platform](Request<TrashRecoveryService> &request) {
        int success = 0;
        int failed = 0;
        const qsizetype count = items.size();
        for (qsizetype i = 0; i < count; ++i) {
            const TrashItem &item = items[i];
            const auto progress = [&request, i, count, size = std::max<qint64>(item.fileSize, 1)](qint64 copied) {
                const double fraction = (double(i) + std::min(1.0, double(copied) / double(size))) / double(count);
                request.postProgress([fraction](TrashRecoveryService &service) { service.setRecoverProgress(fraction); });
            };
            const RestoreOutcome outcome = destination
                ? restoreTrashItem(item, *destination, *platform, progress)
                : restoreTrashItemToOriginalLocation(item, *platform, progress);
            if (outcome.restored)
                ++success;
            else
                ++failed;
            const double done = double(i + 1) / double(count);
            request.postProgress([done](TrashRecoveryService &service) { service.setRecoverProgress(done); });
        }
        request.post([success, failed](TrashRecoveryService &service) { service.finishRestore(success, failed); });
    });
    return true;
}

void TrashRecoveryService::finishRestore(int success, int failed)
{
    setRecoverProgress(1.0);
    setIsRecovering(false);
    Q_EMIT recoveryFinished(success, failed);
    scanTrash();
}

void TrashRecoveryService::setIsScanning(bool scanning)
{
    if (m_isScanning == scanning)
        return;
    m_isScanning = scanning;
    Q_EMIT isScanningChanged();
}

void TrashRecoveryService::setScanProgress(double progress)
{
    if (m_scanProgress == progress)
        return;
    m_scanProgress = progress;
    Q_EMIT scanProgressChanged();
}

void TrashRecoveryService::setErrorMessage(const QString &text)
{
    if (m_errorMessage.isNull() == text.isNull() && m_errorMessage == text)
        return;
    m_errorMessage = text;
    Q_EMIT errorMessageChanged();
}

void TrashRecoveryService::setIsRecovering(bool recovering)
{
    if (m_isRecovering == recovering)
        return;
    m_isRecovering = recovering;
    Q_EMIT isRecoveringChanged();
}

void TrashRecoveryService::setRecoverProgress(double progress)
{
    if (m_recoverProgress == progress)
        return;
    m_recoverProgress = progress;
    Q_EMIT recoverProgressChanged();
}
