#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

#include "model/records.h"
#include "system/servicework.h"
#include "trash/trashitemmodel.h"
#include "trash/trashscan.h"

class Platform;

// The state and operations behind the Trash Recovery screen: the items of
// the user's Trash and restoring them. Lives on the main thread; scans and
// restores each run as a request on a worker (see ServiceWork) and report
// back through the properties below.
class TrashRecoveryService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TrashItemModel *items READ items CONSTANT)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(double scanProgress READ scanProgress NOTIFY scanProgressChanged)
    // A null string when there is no error.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorMessageChanged)
    // A restore is running; the screen stays busy until it ends.
    Q_PROPERTY(bool isRecovering READ isRecovering NOTIFY isRecoveringChanged)
    // Fraction 0 to 1 of the running restore, copies counted by their bytes.
    Q_PROPERTY(double recoverProgress READ recoverProgress NOTIFY recoverProgressChanged)
    // The user's Trash folder as the footer shows it ("~/.Trash",
    // "~/.local/share/Trash").
    Q_PROPERTY(QString trashFolderText READ trashFolderText CONSTANT)
    // The header's subtitle, naming this system's Trash.
    Q_PROPERTY(QString subtitle READ subtitle CONSTANT)
    // This system's Trash records where items were deleted from (Linux).
    Q_PROPERTY(bool knowsOriginalLocations READ knowsOriginalLocations CONSTANT)

public:
    // Works on `platform`, whose Trash folders, administrator runs and texts
    // it uses; without one, the running system's.
    explicit TrashRecoveryService(QObject *parent = nullptr);
    explicit TrashRecoveryService(std::shared_ptr<Platform> platform, QObject *parent = nullptr);
    // Returns at once. A running scan's results are dropped; a running
    // restore goes on to its end, so that no item is left half-restored.
    ~TrashRecoveryService() override;

    TrashItemModel *items() const { return m_items; }
    bool isScanning() const { return m_isScanning; }
    double scanProgress() const { return m_scanProgress; }
    QString errorMessage() const { return m_errorMessage; }
    bool hasError() const { return !m_errorMessage.isNull(); }
    bool isRecovering() const { return m_isRecovering; }
    double recoverProgress() const { return m_recoverProgress; }
    QString trashFolderText() const { return m_trashFolderText; }
    QString subtitle() const;
    bool knowsOriginalLocations() const;

    // Empties the list and lists the Trash again on a worker. A new scan
    // supersedes a running one.
    Q_INVOKABLE void scanTrash();

    // Restores `items` into `destination` on a worker, one after the other;
    // then recoveryFinished() gives the counts and the Trash is scanned
    // again. False, doing nothing, while a restore runs.
    bool recoverItems(const QList<TrashItem> &items, const QString &destination);
    // The same, each item to the folder it was deleted from.
    bool restoreToOriginalLocations(const QList<TrashItem> &items);

Q_SIGNALS:
    void isScanningChanged();
    void scanProgressChanged();
    void errorMessageChanged();
    void isRecoveringChanged();
    void recoverProgressChanged();
    void recoveryFinished(int success, int failed);

private:
    bool startRestore(const QList<TrashItem> &items, std::optional<QString> destination);
    void finishScan(TrashScanOutcome outcome);
    void finishRestore(int success, int failed);
    void setIsScanning(bool scanning);
    void setScanProgress(double progress);
    void setErrorMessage(const QString &text);
    void setIsRecovering(bool recovering);
    void setRecoverProgress(double progress);

    std::shared_ptr<Platform> m_platform;
    TrashItemModel *m_items;
    bool m_isScanning = false;
    double m_scanProgress = 0.0;
    QString m_errorMessage;
    bool m_isRecovering = false;
    double m_recoverProgress = 0.0;
    QString m_trashFolderText;

    // Declared last: destroyed first, so that a request can never reach a
    // half-destroyed service.
    ServiceWork<TrashRecoveryService> m_scanWork{this};
    ServiceWork<TrashRecoveryService> m_restoreWork{this};
};
