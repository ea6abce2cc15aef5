#include "visiblehitsmodel.h"

#include <algorithm>

#include "carving/savecarved.h"

VisibleHitsModel::VisibleHitsModel(CarvedFileModel *source, QObject *parent)
    : QAbstractListModel(parent)
    , m_source(source)
{
    connect(source, &QAbstractItemModel::rowsInserted, this, &VisibleHitsModel::sourceRowsInserted);
    connect(source, &QAbstractItemModel::dataChanged, this, &VisibleHitsModel::sourceDataChanged);
    connect(source, &QAbstractItemModel::modelReset, this, &VisibleHitsModel::sourceReset);
    // CarvedFileModel only appends and resets; anything else is taken in by
    // building the rows again.
    connect(source, &QAbstractItemModel::rowsRemoved, this, &VisibleHitsModel::rebuild);
    connect(source, &QAbstractItemModel::rowsMoved, this, &VisibleHitsModel::rebuild);
    connect(source, &QAbstractItemModel::layoutChanged, this, &VisibleHitsModel::rebuild);
    rebuild();
}

int VisibleHitsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant VisibleHitsModel::data(const QModelIndex &index, int role) const
{
    if (!m_source || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = m_rows.at(index.row());
    if (role == int(Role::isSelected))
        return m_selected.contains(m_source->at(row).id);
    // The delegate asks once per row it shows; the answer is kept, so a row
    // scrolled back into view costs no second check of the file system.
    if (role == int(CarvedFileModel::Role::canRecover))
        return recoverableAt(row);
    return m_source->data(m_source->index(row), role);
}

QHash<int, QByteArray> VisibleHitsModel::roleNames() const
{
    QHash<int, QByteArray> names = m_source ? m_source->roleNames() : QHash<int, QByteArray>();
    names.insert(int(Role::isSelected), "isSelected");
    return names;
}

void VisibleHitsModel::setFilter(const HitFilter &filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    rebuild();
}

quint8 VisibleHitsModel::classify(const CarvedFile &file) const
{
    quint8 flags = 0;
    if (m_filter.accepts(file))
        flags |= accepted;
    if (file.recoveryStatus == RecoveryStatus::deleted)
        flags |= deleted;
    return flags;
}

bool VisibleHitsModel::recoverableAt(int sourceRow) const
{
    quint8 &flags = m_flags[std::size_t(sourceRow)];
    if (!(flags & recoverableKnown))
        flags |= recoverableKnown | (::canRecover(m_source->at(sourceRow)) ? recoverable : 0);
    return flags & recoverable;
}

bool VisibleHitsModel::canRecover(int row)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    return recoverableAt(m_rows.at(row));
}

int VisibleHitsModel::selectableCount()
{
    if (m_selectableCount < 0) {
        int count = 0;
        for (const int row : std::as_const(m_rows)) {
            if (m_source->at(row).recoveryStatus != RecoveryStatus::existing && recoverableAt(row))
                ++count;
        }
        m_selectableCount = count;
    }
    return m_selectableCount;
}

bool VisibleHitsModel::allSelectableSelected()
{
    // An empty selection needs no count, so a scan that fills the list (with
    // nothing selected yet) never checks a file because of this box.
    if (m_selected.isEmpty())
        return false;
    const int selectable = selectableCount();
    return selectable > 0 && m_selected.size() == selectable;
}

bool VisibleHitsModel::toggle(int row)
{
    if (!canRecover(row))
        return false;
    const QUuid id = fileAt(row).id;
    if (!m_selected.remove(id))
        m_selected.insert(id);
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, {int(Role::isSelected)});
    Q_EMIT selectionChanged();
    return true;
}

void VisibleHitsModel::selectAll()
{
    QSet<QUuid> chosen;
    chosen.reserve(m_rows.size());
    for (const int row : std::as_const(m_rows)) {
        const CarvedFile &file = m_source->at(row);
        if (file.recoveryStatus != RecoveryStatus::existing && recoverableAt(row))
            chosen.insert(file.id);
    }
    m_selectableCount = int(chosen.size());
    m_selected = std::move(chosen);
    emitSelectionShown();
}

void VisibleHitsModel::clearSelection()
{
    if (m_selected.isEmpty())
        return;
    m_selected = {};
    emitSelectionShown();
}

void VisibleHitsModel::toggleAll()
{
    if (allSelectableSelected())
        clearSelection();
    else
        selectAll();
}

void VisibleHitsModel::setSelection(QSet<QUuid> ids)
{
    m_selected = std::move(ids);
    emitSelectionShown();
}

QList<CarvedFile> VisibleHitsModel::selectedFiles() const
{
    QList<CarvedFile> chosen;
    if (m_selected.isEmpty() || !m_source)
        return chosen;
    chosen.reserve(m_selected.size());
    for (const CarvedFile &file : m_source->files()) {
        if (m_selected.contains(file.id)) {
            chosen.append(file);
            if (chosen.size() == m_selected.size())
                break;
        }
    }
    return chosen;
}

// One change signal for every shown row: a view updates the few delegates it
// has, whatever the number of rows.
void VisibleHitsModel::emitSelectionShown()
{
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1), {int(Role::isSelected)});
    Q_EMIT selectionChanged();
}

void VisibleHitsModel::rebuild()
{
    beginResetModel();
    m_rebuildPending = false;
    m_rows.clear();
    m_deletedCount = 0;
    m_selectableCount = -1;
    if (m_source) {
        const QList<CarvedFile> &files = m_source->files();
        m_flags.resize(std::size_t(files.size()));
        for (qsizetype i = 0; i < files.size(); ++i) {
            quint8 &flags = m_flags[std::size_t(i)];
            flags = quint8((flags & (recoverableKnown | recoverable)) | classify(files.at(i)));
            if (flags & accepted) {
                m_rows.append(int(i));
                if (flags & deleted)
                    ++m_deletedCount;
            }
        }
    } else {
        m_flags.clear();
    }
    endResetModel();
    Q_EMIT countChanged();
    Q_EMIT selectionChanged();
}

void VisibleHitsModel::scheduleRebuild()
{
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    QMetaObject::invokeMethod(
        this, [this] {
            if (m_rebuildPending)
                rebuild();
        },
        Qt::QueuedConnection);
}

void VisibleHitsModel::sourceRowsInserted(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid() || m_rebuildPending)
        return;
    if (std::size_t(first) != m_flags.size()) {
        rebuild();
        return;
    }
    QList<int> added;
    int addedDeleted = 0;
    for (int row = first; row <= last; ++row) {
        const quint8 flags = classify(m_source->at(row));
        m_flags.push_back(flags);
        if (flags & accepted) {
            added.append(row);
            if (flags & deleted)
                ++addedDeleted;
        }
    }
    if (added.isEmpty())
        return;
    const int at = int(m_rows.size());
    beginInsertRows(QModelIndex(), at, at + int(added.size()) - 1);
    m_rows.append(added);
    m_deletedCount += addedDeleted;
    endInsertRows();
    m_selectableCount = -1;
    Q_EMIT countChanged();
    if (!m_selected.isEmpty())
        Q_EMIT selectionChanged();
}

void VisibleHitsModel::sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                         const QList<int> &roles)
{
    if (m_rebuildPending || !topLeft.isValid() || !bottomRight.isValid())
        return;
    const int first = topLeft.row();
    const int last = std::min(bottomRight.row(), int(m_flags.size()) - 1);
    bool shownSetChanges = false;
    int deletedChange = 0;
    for (int row = first; row <= last; ++row) {
        quint8 &flags = m_flags[std::size_t(row)];
        const quint8 now = quint8((flags & (recoverableKnown | recoverable)) | classify(m_source->at(row)));
        if ((now ^ flags) & accepted)
            shownSetChanges = true;
        else if (now & accepted)
            deletedChange += int(bool(now & deleted)) - int(bool(flags & deleted));
        flags = now;
    }
    if (shownSetChanges) {
        scheduleRebuild();
        return;
    }
    m_selectableCount = -1;
    const auto from = std::lower_bound(m_rows.cbegin(), m_rows.cend(), first);
    const auto to = std::upper_bound(from, m_rows.cend(), last);
    if (from != to) {
        Q_EMIT dataChanged(index(int(from - m_rows.cbegin())), index(int(to - m_rows.cbegin()) - 1), roles);
    }
    if (deletedChange != 0) {
        m_deletedCount += deletedChange;
        Q_EMIT countChanged();
    }
    if (!m_selected.isEmpty())
        Q_EMIT selectionChanged();
}

void VisibleHitsModel::sourceReset()
{
    // A reset is a new scan or New Scan: the ids chosen before name nothing
    // in the new list, and the file-system answers belong to the old hits.
    m_flags.clear();
    m_selected = {};
    rebuild();
}
