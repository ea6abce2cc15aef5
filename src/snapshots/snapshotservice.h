#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "snapshots/linuxsnapshots.h"
#include "snapshots/snapshotlistmodel.h"
#include "system/servicework.h"

class Platform;

// The snapshots of the system's volumes for the Snapshots screen. Each
// listing runs as one request on a worker and reports back in one step;
// the last listing started decides the list.
class SnapshotService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SnapshotListModel *snapshots READ snapshots CONSTANT)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    // A null string when the last listing did not fail.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorMessageChanged)
    // The last listing was refused to this user and can be made again as
    // root, behind one password prompt.
    Q_PROPERTY(bool canListAsAdministrator READ canListAsAdministrator NOTIFY canListAsAdministratorChanged)
    // The screen's texts that name the system's snapshot facility.
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString subtitle READ subtitle CONSTANT)
    Q_PROPERTY(QString emptyHint READ emptyHint CONSTANT)

public:
    using SourcesProvider = std::function<LinuxSnapshotSources(Platform &)>;

    explicit SnapshotService(QObject *parent = nullptr);
    explicit SnapshotService(std::shared_ptr<Platform> platform, QObject *parent = nullptr);
    // Returns at once; a running listing finds the service gone.
    ~SnapshotService() override;

    SnapshotListModel *snapshots() const { return m_model; }
    bool isLoading() const { return m_isLoading; }
    QString errorMessage() const { return m_errorMessage; }
    bool hasError() const { return !m_errorMessage.isNull(); }
    bool canListAsAdministrator() const { return m_canListAsAdministrator; }
    QString title() const;
    QString subtitle() const;
    QString emptyHint() const;
    const Platform &platform() const { return *m_platform; }

    // Where a Linux listing learns what the system holds (tests hand in a
    // made-up system); the running system's by default.
    void setSourcesProvider(SourcesProvider provider) { m_sources = std::move(provider); }

    // Publishes a finished listing and ends loading. `refusedToUser`: the
    // failure can be helped by listing again as root.
    void applyListing(const SnapshotListing &listing, bool refusedToUser);

    // Empties the list and lists again on a worker.
    Q_INVOKABLE void loadSnapshots();
    // Lists again as root; the list stays until the new one is there, and
    // stays as it is when the password dialog is dismissed.
    Q_INVOKABLE void loadSnapshotsAsAdministrator();

Q_SIGNALS:
    void isLoadingChanged();
    void errorMessageChanged();
    void canListAsAdministratorChanged();

private:
    void setIsLoading(bool loading);
    void setErrorMessage(const QString &message);
    void setCanListAsAdministrator(bool can);

    std::shared_ptr<Platform> m_platform;
    SnapshotListModel *m_model;
    bool m_isLoading = false;
    QString m_errorMessage;
    bool m_canListAsAdministrator = false;
    SourcesProvider m_sources;
    // Declared last: destroyed first, so a request never reaches a
    // half-destroyed service.
    ServiceWork<SnapshotService> m_listWork{this};
};
