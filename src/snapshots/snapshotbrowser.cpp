#include "snapshotbrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include "snapshots/snapshotrestore.h"
#include "system/appsettings.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString itemCount(int count)
{
    return count == 1 ? u"1 item"_s : u"%1 items"_s.arg(count);
}

// The outcome of a restore as one line for the footer.
QString restoreSummary(const RestoreOutcome &outcome, int asked, const QString &folder)
{
    if (!outcome.refusal.isEmpty())
        return outcome.refusal;
    if (outcome.cancelled)
        return u"Restore stopped: %1 of %2 restored to %3"_s.arg(QString::number(outcome.itemsRestored), itemCount(asked),
                                                                  folder);
    if (outcome.failures.isEmpty())
        return u"Restored %1 to %2"_s.arg(itemCount(outcome.itemsRestored), folder);
    return u"Restored %1 of %2 to %3. %4 could not be copied, first %5"_s.arg(
        QString::number(outcome.itemsRestored), itemCount(asked), folder, QString::number(outcome.failures.size()),
        outcome.failures.first());
}

QString cannotOpen(const QString &path, int error)
{
    QString text = u"Cannot open %1: %2"_s.arg(path, QString::fromLocal8Bit(std::strerror(error)));
    // Snapshot folders are often kept for root alone (Snapper's
    // /.snapshots is rwxr-x--- root).
    if (error == EACCES || error == EPERM)
        text += u"\nThis snapshot's files may be readable by an administrator only."_s;
    return text;
}

} // namespace

SnapshotBrowser::SnapshotBrowser(AppSettings *settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings ? settings : AppSettings::instance())
    , m_model(new SnapshotFileModel(this))
    , m_filter(new SnapshotFileFilter(m_model, this))
{
    connect(m_settings, &AppSettings::defaultRecoveryPathChanged, this, &SnapshotBrowser::dialogFolderChanged);
}

SnapshotBrowser::~SnapshotBrowser() = default;

QString SnapshotBrowser::currentPath() const
{
    return u"/"_s + QFile::decodeName(m_path);
}

void SnapshotBrowser::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    m_filter->setSearchText(text);
    Q_EMIT searchTextChanged();
}

int SnapshotBrowser::missingCount() const
{
    const QList<SnapshotFile> &files = m_model->files();
    return int(std::count_if(files.begin(), files.end(),
                             [](const SnapshotFile &file) { return file.comparison == SnapshotComparison::missing; }));
}

int SnapshotBrowser::changedCount() const
{
    const QList<SnapshotFile> &files = m_model->files();
    return int(std::count_if(files.begin(), files.end(),
                             [](const SnapshotFile &file) { return file.comparison == SnapshotComparison::changed; }));
}

QUrl SnapshotBrowser::dialogFolder() const
{
    const QString chosen = m_settings->defaultRecoveryPath();
    if (!chosen.isEmpty() && QFileInfo(chosen).isDir())
        return QUrl::fromLocalFile(chosen);
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}

QString SnapshotBrowser::confirmationText() const
{
    if (m_pendingDestination.isEmpty())
        return QString();
    return u"Recover %1 to %2?"_s.arg(itemCount(selectedCount()), m_pendingDestination);
}

void SnapshotBrowser::open(const SnapshotEntry &entry, const QStringList &protectedFolders)
{
    m_entry = entry;
    m_protectedFolders = protectedFolders;
    m_path.clear();
    m_selection.clear();
    setSearchText(QString());
    Q_EMIT snapshotChanged();
    Q_EMIT currentPathChanged();
    Q_EMIT selectionChanged();
    listCurrentFolder();
}

void SnapshotBrowser::close()
{
    ++m_listing;
    m_listWork.cancel();
    m_compareWork.cancel();
    m_entry = SnapshotEntry{};
    m_path.clear();
    m_selection.clear();
    ++m_generation;
    m_model->setFiles({}, {});
    setSearchText(QString());
    setErrorMessage(QString());
    setIsListing(false);
    dismissConfirmation();
    // The outcome of a finished restore belongs to the snapshot left; one
    // still running reports when it ends.
    if (!m_isRestoring)
        setRestoreMessage(QString(), false);
    Q_EMIT snapshotChanged();
    Q_EMIT currentPathChanged();
    Q_EMIT selectionChanged();
    Q_EMIT comparisonChanged();
}

QByteArray SnapshotBrowser::absolutePath(const QByteArray &relative, const QString &root) const
{
    const QByteArray base = QFile::encodeName(root);
    if (relative.isEmpty())
        return base;
    return base + (base.endsWith('/') ? "" : "/") + relative;
}

void SnapshotBrowser::enter(int row)
{
    const int source = m_filter->sourceRow(row);
    if (source < 0 || !m_model->files().at(source).isDirectory)
        return;
    const QByteArray name = m_model->files().at(source).rawName;
    m_path = m_path.isEmpty() ? name : m_path + '/' + name;
    setSearchText(QString());
    Q_EMIT currentPathChanged();
    listCurrentFolder();
}

void SnapshotBrowser::goBack()
{
    if (m_path.isEmpty())
        return;
    const qsizetype slash = m_path.lastIndexOf('/');
    m_path = slash < 0 ? QByteArray() : m_path.left(slash);
    setSearchText(QString());
    Q_EMIT currentPathChanged();
    listCurrentFolder();
}

void SnapshotBrowser::listCurrentFolder()
{
    if (!isOpen())
        return;
    setIsListing(true);
    const QByteArray folder = absolutePath(m_path, m_entry.folder);
    // Marks for the folder that is left are of no use any more.
    m_compareWork.cancel();
    const quint64 listing = ++m_listing;
    m_listWork.start([folder, listing](Request<SnapshotBrowser> &request) {
        int error = 0;
        QList<SnapshotFile> files = listSnapshotFolder(folder, &error);
        request.post([files = std::move(files), error, listing](SnapshotBrowser &browser) mutable {
            // The browser was closed meanwhile.
            if (listing != browser.m_listing)
                return;
            QSet<QByteArray> chosenHere;
            for (const QByteArray &chosen : std::as_const(browser.m_selection)) {
                const qsizetype slash = chosen.lastIndexOf('/');
                if ((slash < 0 ? QByteArray() : chosen.left(slash)) == browser.m_path)
                    chosenHere.insert(slash < 0 ? chosen : chosen.mid(slash + 1));
            }
            ++browser.m_generation;
            browser.m_model->setFiles(std::move(files), chosenHere);
            browser.setErrorMessage(error == 0 ? QString() : cannotOpen(browser.currentPath(), error));
            browser.setIsListing(false);
            Q_EMIT browser.comparisonChanged();
            if (browser.m_isComparing)
                browser.compareShownFolder();
        });
    });
}

void SnapshotBrowser::setComparing(bool comparing)
{
    comparing = comparing && canCompare();
    if (m_isComparing == comparing)
        return;
    m_isComparing = comparing;
    Q_EMIT isComparingChanged();
    if (comparing) {
        compareShownFolder();
    } else {
        ++m_generation;
        for (int row = 0; row < m_model->rowCount(); ++row)
            m_model->setComparison(row, SnapshotComparison::notCompared);
        Q_EMIT comparisonChanged();
    }
}

void SnapshotBrowser::compareShownFolder()
{
    QList<QByteArray> names;
    for (const SnapshotFile &file : m_model->files())
        names.append(file.rawName);
    const QByteArray kept = absolutePath(m_path, m_entry.folder);
    const QByteArray live = absolutePath(m_path, m_entry.liveFolder);
    const quint64 generation = m_generation;
    m_compareWork.start([names, kept, live, generation](Request<SnapshotBrowser> &request) {
        QList<QPair<int, SnapshotComparison>> batch;
        const auto cancelled = [&request] { return request.isCancelled(); };
        for (int row = 0; row < names.size() && !request.isCancelled(); ++row) {
            batch.append({row, compareWithLive(kept + '/' + names[row], live + '/' + names[row], cancelled)});
            // Big folders fill in as they go rather than all at the end.
            if (batch.size() >= 256 || request.progressDue()) {
                request.post([generation, batch](SnapshotBrowser &browser) { browser.applyComparisons(generation, batch); });
                batch.clear();
            }
        }
        if (!batch.isEmpty())
            request.post([generation, batch](SnapshotBrowser &browser) { browser.applyComparisons(generation, batch); });
    });
}

void SnapshotBrowser::applyComparisons(quint64 generation, const QList<QPair<int, SnapshotComparison>> &changes)
{
    // Results for a folder that is no longer shown are dropped.
    if (generation != m_generation || !m_isComparing)
        return;
    for (const auto &[row, comparison] : changes)
        m_model->setComparison(row, comparison);
    Q_EMIT comparisonChanged();
}

void SnapshotBrowser::toggleSelected(int row)
{
    const int source = m_filter->sourceRow(row);
    if (source < 0)
        return;
    const QByteArray name = m_model->files().at(source).rawName;
    const QByteArray path = m_path.isEmpty() ? name : m_path + '/' + name;
    const bool select = !m_selection.contains(path);
    if (select)
        m_selection.insert(path);
    else
        m_selection.remove(path);
    m_model->setSelected(source, select);
    Q_EMIT selectionChanged();
}

void SnapshotBrowser::selectAllShown()
{
    for (int row = 0; row < m_filter->rowCount(); ++row) {
        const int source = m_filter->sourceRow(row);
        const QByteArray name = m_model->files().at(source).rawName;
        m_selection.insert(m_path.isEmpty() ? name : m_path + '/' + name);
        m_model->setSelected(source, true);
    }
    Q_EMIT selectionChanged();
}

void SnapshotBrowser::clearSelection()
{
    m_selection.clear();
    for (int row = 0; row < m_model->rowCount(); ++row)
        m_model->setSelected(row, false);
    Q_EMIT selectionChanged();
}

void SnapshotBrowser::chooseDestination(const QUrl &folder)
{
    const QString path = folder.toLocalFile();
    if (path.isEmpty() || m_selection.isEmpty() || m_isRestoring)
        return;
    if (!m_settings->confirmBeforeRecover()) {
        startRestore(path);
        return;
    }
    m_pendingDestination = path;
    Q_EMIT confirmationChanged();
}

void SnapshotBrowser::confirmRestore()
{
    if (m_pendingDestination.isEmpty())
        return;
    const QString folder = m_pendingDestination;
    m_pendingDestination.clear();
    Q_EMIT confirmationChanged();
    startRestore(folder);
}

void SnapshotBrowser::dismissConfirmation()
{
    if (m_pendingDestination.isEmpty())
        return;
    m_pendingDestination.clear();
    Q_EMIT confirmationChanged();
}

void SnapshotBrowser::startRestore(const QString &folder)
{
    QList<QByteArray> items(m_selection.begin(), m_selection.end());
    std::sort(items.begin(), items.end());
    setIsRestoring(true);
    setRestoreProgress(0.0);
    setRestoreMessage(QString(), false);
    m_restoreWork.start([root = m_entry.folder, items, folder, protectedFolders = m_protectedFolders](
                            Request<SnapshotBrowser> &request) {
        const RestoreOutcome outcome = restoreFromSnapshot(
            root, items, folder, protectedFolders, [&request] { return request.isCancelled(); },
            [&request](qint64 done, qint64 total) {
                const double fraction = total > 0 ? double(done) / double(total) : 0.0;
                request.postProgress([fraction](SnapshotBrowser &browser) { browser.setRestoreProgress(fraction); });
            });
        const bool failed = !outcome.refusal.isEmpty() || !outcome.failures.isEmpty();
        const QString summary = restoreSummary(outcome, int(items.size()), folder);
        request.post([summary, failed, done = !outcome.cancelled](SnapshotBrowser &browser) {
            if (done)
                browser.setRestoreProgress(1.0);
            browser.setRestoreMessage(summary, failed);
            browser.setIsRestoring(false);
            // Restored into the live folder, the marks are out of date.
            if (browser.m_isComparing)
                browser.compareShownFolder();
        });
    });
}

void SnapshotBrowser::setIsListing(bool listing)
{
    if (m_isListing == listing)
        return;
    m_isListing = listing;
    Q_EMIT isListingChanged();
}

void SnapshotBrowser::setErrorMessage(const QString &message)
{
    if (m_errorMessage == message && m_errorMessage.isNull() == message.isNull())
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void SnapshotBrowser::setIsRestoring(bool restoring)
{
    if (m_isRestoring == restoring)
        return;
    m_isRestoring = restoring;
    Q_EMIT isRestoringChanged();
}

void SnapshotBrowser::setRestoreProgress(double progress)
{
    if (qFuzzyCompare(m_restoreProgress + 1.0, progress + 1.0))
        return;
    m_restoreProgress = progress;
    Q_EMIT restoreProgressChanged();
}

void SnapshotBrowser::setRestoreMessage(const QString &message, bool failed)
{
    if (m_restoreMessage == message && m_restoreFailed == failed)
        return;
    m_restoreMessage = message;
    m_restoreFailed = failed;
    Q_EMIT restoreMessageChanged();
}
