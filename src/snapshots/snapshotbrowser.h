#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include "snapshots/snapshotentry.h"
#include "snapshots/snapshotfilemodel.h"
#include "system/servicework.h"

class AppSettings;

// Browsing one snapshot whose files can be reached as a folder: entering
// folders, searching the folder shown, choosing files and folders (across
// folders), marking what differs from the live volume, and copying the
// chosen items out. Everything that touches the disk runs on a worker. The
// snapshot is only ever read.
class SnapshotBrowser : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SnapshotFileFilter *files READ files CONSTANT)
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY snapshotChanged)
    Q_PROPERTY(QString snapshotName READ snapshotName NOTIFY snapshotChanged)
    // "/" and the folders entered below the snapshot's root.
    Q_PROPERTY(QString currentPath READ currentPath NOTIFY currentPathChanged)
    Q_PROPERTY(bool canGoBack READ canGoBack NOTIFY currentPathChanged)
    Q_PROPERTY(bool isListing READ isListing NOTIFY isListingChanged)
    // Why the folder shown could not be read; null when it could.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged)

    // The live folder the snapshot was taken of is known.
    Q_PROPERTY(bool canCompare READ canCompare NOTIFY snapshotChanged)
    // Marks each entry shown as missing, changed or the same on the live
    // volume; stays on for the folders entered after.
    Q_PROPERTY(bool isComparing READ isComparing WRITE setComparing NOTIFY isComparingChanged)
    Q_PROPERTY(int missingCount READ missingCount NOTIFY comparisonChanged)
    Q_PROPERTY(int changedCount READ changedCount NOTIFY comparisonChanged)

    // Where the "Restore To..." folder dialog opens: the default recovery
    // folder of the settings when it exists, the home folder otherwise.
    Q_PROPERTY(QUrl dialogFolder READ dialogFolder NOTIFY dialogFolderChanged)
    // A restore waits for "Recover N items to FOLDER?" to be answered.
    Q_PROPERTY(bool isConfirming READ isConfirming NOTIFY confirmationChanged)
    Q_PROPERTY(QString confirmationText READ confirmationText NOTIFY confirmationChanged)
    Q_PROPERTY(bool isRestoring READ isRestoring NOTIFY isRestoringChanged)
    Q_PROPERTY(double restoreProgress READ restoreProgress NOTIFY restoreProgressChanged)
    // The outcome of the last restore, for the footer; empty before one.
    Q_PROPERTY(QString restoreMessage READ restoreMessage NOTIFY restoreMessageChanged)
    Q_PROPERTY(bool restoreFailed READ restoreFailed NOTIFY restoreMessageChanged)

public:
    // `settings`: the preferences that decide where the folder dialog
    // opens and whether a restore is confirmed first (the shared ones when
    // null).
    explicit SnapshotBrowser(AppSettings *settings = nullptr, QObject *parent = nullptr);
    ~SnapshotBrowser() override;

    SnapshotFileFilter *files() const { return m_filter; }
    SnapshotFileModel *allFiles() const { return m_model; }
    bool isOpen() const { return !m_entry.folder.isEmpty(); }
    QString snapshotName() const { return m_entry.info.name; }
    QString currentPath() const;
    bool canGoBack() const { return !m_path.isEmpty(); }
    bool isListing() const { return m_isListing; }
    QString errorMessage() const { return m_errorMessage; }
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    int selectedCount() const { return int(m_selection.size()); }
    bool canCompare() const { return !m_entry.liveFolder.isEmpty(); }
    bool isComparing() const { return m_isComparing; }
    void setComparing(bool comparing);
    int missingCount() const;
    int changedCount() const;
    QUrl dialogFolder() const;
    bool isConfirming() const { return !m_pendingDestination.isEmpty(); }
    QString confirmationText() const;
    bool isRestoring() const { return m_isRestoring; }
    double restoreProgress() const { return m_restoreProgress; }
    QString restoreMessage() const { return m_restoreMessage; }
    bool restoreFailed() const { return m_restoreFailed; }

    // Shows the root folder of `entry`. `protectedFolders`: every listed
    // snapshot's folder, none of which a restore may write into.
    void open(const SnapshotEntry &entry, const QStringList &protectedFolders);
    Q_INVOKABLE void close();

    // Rows are those of `files` (the filtered list).
    Q_INVOKABLE void enter(int row);
    Q_INVOKABLE void goBack();
    Q_INVOKABLE void toggleSelected(int row);
    Q_INVOKABLE void selectAllShown();
    Q_INVOKABLE void clearSelection();

    // "Restore To..." chose `folder`: asks first when the settings say so,
    // restores at once otherwise.
    Q_INVOKABLE void chooseDestination(const QUrl &folder);
    Q_INVOKABLE void confirmRestore();
    Q_INVOKABLE void dismissConfirmation();
    Q_INVOKABLE void cancelRestore() { m_restoreWork.cancel(); }

Q_SIGNALS:
    void snapshotChanged();
    void currentPathChanged();
    void isListingChanged();
    void errorMessageChanged();
    void searchTextChanged();
    void selectionChanged();
    void isComparingChanged();
    void comparisonChanged();
    void dialogFolderChanged();
    void confirmationChanged();
    void isRestoringChanged();
    void restoreProgressChanged();
    void restoreMessageChanged();

private:
    QByteArray absolutePath(const QByteArray &relative, const QString &root) const;
    void listCurrentFolder();
    void compareShownFolder();
    void applyComparisons(quint64 generation, const QList<QPair<int, SnapshotComparison>> &changes);
    void startRestore(const QString &folder);
    void setIsListing(bool listing);
    void setErrorMessage(const QString &message);
    void setIsRestoring(bool restoring);
    void setRestoreProgress(double progress);
    void setRestoreMessage(const QString &message, bool failed);

    AppSettings *m_settings;
    SnapshotFileModel *m_model;
    SnapshotFileFilter *m_filter;
    SnapshotEntry m_entry;
    QStringList m_protectedFolders;
    QByteArray m_path; // below the snapshot's root, no leading slash
    // Chosen items by their path below the root.
    QSet<QByteArray> m_selection;
    // Bumped by each folder listing and by close(); a listing's result
    // counts only while it is the latest.
    quint64 m_listing = 0;
    // Bumped whenever the rows shown change; comparisons of older rows are
    // dropped.
    quint64 m_generation = 0;
    bool m_isListing = false;
    QString m_errorMessage;
    QString m_searchText;
    bool m_isComparing = false;
    QString m_pendingDestination;
    bool m_isRestoring = false;
    double m_restoreProgress = 0.0;
    QString m_restoreMessage;
    bool m_restoreFailed = false;
    // Declared last: destroyed first.
    ServiceWork<SnapshotBrowser> m_listWork{this};
    ServiceWork<SnapshotBrowser> m_compareWork{this};
    ServiceWork<SnapshotBrowser> m_restoreWork{this};
};
