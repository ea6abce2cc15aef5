#include "snapshotservice.h"

#include "snapshots/snapshotlisting.h"
#include "system/platform.h"

SnapshotService::SnapshotService(QObject *parent)
    : SnapshotService(runningPlatform(), parent)
{
}

SnapshotService::SnapshotService(std::shared_ptr<Platform> platform, QObject *parent)
    : QObject(parent)
    , m_platform(std::move(platform))
    , m_model(new SnapshotListModel(this))
    , m_sources([](Platform &system) { return currentLinuxSnapshotSources(system); })
{
}

SnapshotService::~SnapshotService() = default;

QString SnapshotService::title() const
{
    return m_platform->texts().snapshotsTitle;
}

QString SnapshotService::subtitle() const
{
    return m_platform->texts().snapshotsScreenSubtitle;
}

QString SnapshotService::emptyHint() const
{
    return m_platform->texts().snapshotsEmptyHint;
}

void SnapshotService::applyListing(const SnapshotListing &listing, bool refusedToUser)
{
    setErrorMessage(listing.failed ? m_platform->texts().snapshotListFailed : QString());
    m_model->setEntries(listing.entries);
    setCanListAsAdministrator(listing.failed && refusedToUser);
    setIsLoading(false);
}

void SnapshotService::loadSnapshots()
{
    setIsLoading(true);
    setErrorMessage(QString());
    m_model->setEntries({});
    // Shared with the worker: a listing that outlives the screen keeps the
    // system it asks alive, and nothing else.
    m_listWork.start([platform = m_platform, sources = m_sources](Request<SnapshotService> &request) {
        const bool isMac = platform->kind() == PlatformKind::macOS;
        const LinuxSnapshotSources found = isMac ? LinuxSnapshotSources{} : sources(*platform);
        SnapshotListing listing = listSnapshots(*platform, found);
        const bool refusedToUser = !isMac && !found.asRoot;
        request.post([listing = std::move(listing), refusedToUser](SnapshotService &service) {
            service.applyListing(listing, refusedToUser);
        });
    });
}

void SnapshotService::loadSnapshotsAsAdministrator()
{
    if (m_platform->kind() == PlatformKind::macOS)
        return;
    setIsLoading(true);
    setErrorMessage(QString());
    m_listWork.start([platform = m_platform, sources = m_sources](Request<SnapshotService> &request) {
        std::optional<SnapshotListing> listing = listSnapshotsAsAdministrator(*platform, sources(*platform));
        request.post([listing = std::move(listing)](SnapshotService &service) {
            if (!listing) {
                // Dismissed: what was listed before stays, and so does the
                // way to try again.
                service.setErrorMessage(service.m_platform->texts().snapshotListFailed);
                service.setCanListAsAdministrator(true);
                service.setIsLoading(false);
                return;
            }
            service.applyListing(*listing, false);
        });
    });
}

void SnapshotService::setIsLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void SnapshotService::setErrorMessage(const QString &message)
{
    if (m_errorMessage == message && m_errorMessage.isNull() == message.isNull())
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void SnapshotService::setCanListAsAdministrator(bool can)
{
    if (m_canListAsAdministrator == can)
        return;
    m_canListAsAdministrator = can;
    Q_EMIT canListAsAdministratorChanged();
}
