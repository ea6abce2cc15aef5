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
    // CarvedFileModel only appends and resets; anything else moves hits to
    // other rows, and is taken as a new list.
    connect(source, &QAbstractItemModel::rowsRemoved, this, &VisibleHitsModel::sourceReset);
    connect(source, &QAbstractItemModel::rowsMoved, this, &VisibleHitsModel::sourceReset);
    connect(source, &QAbstractItemModel::layoutChanged, this, &VisibleHitsModel::sourceReset);
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
        return bool(m_flags[std::size_t(row)] & selected);
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

bool VisibleHitsModel::refreshRecoverable(int sourceRow)
{
    quint8 &flags = m_flags[std::size_t(sourceRow)];
    const quint8 before = flags & (recoverableKnown | recoverable);
    const quint8 now = recoverableKnown | (::canRecover(m_source->at(sourceRow)) ? recoverable : 0);
    flags = quint8((flags & ~(recoverableKnown | recoverable)) | now);
    return (before & recoverableKnown) && before != now;
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
    if (m_selectedCount == 0)
        return false;
    const int selectable = selectableCount();
    return selectable > 0 && m_selectedCount == selectable;
}

bool VisibleHitsModel::toggle(int row)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    const int sourceRow = m_rows.at(row);
    // Asked afresh: the source file of a hit without bytes may have gone
    // since the row was drawn, and such a hit must not be picked.
    if (refreshRecoverable(sourceRow)) {
        m_selectableCount = -1;
        const QModelIndex changed = index(row);
        Q_EMIT dataChanged(changed, changed, {int(CarvedFileModel::Role::canRecover)});
        Q_EMIT selectionChanged();
    }
    quint8 &flags = m_flags[std::size_t(sourceRow)];
    // Taking such a hit out of the selection stays possible: it could only
    // fail its save.
    if (!(flags & recoverable) && !(flags & selected))
        return false;
    flags ^= selected;
    m_selectedCount += (flags & selected) ? 1 : -1;
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, {int(Role::isSelected)});
    Q_EMIT selectionChanged();
    return true;
}

void VisibleHitsModel::clearMarks()
{
    for (quint8 &flags : m_flags)
        flags &= quint8(~selected);
    m_selectedCount = 0;
}

void VisibleHitsModel::selectAll()
{
    clearMarks();
    // Answers already known are taken as they are: asking again costs a
    // check per hit without bytes, some 0.4 s per 100,000 on every press. A
    // source deleted since its row was drawn fails the save and is counted so.
    for (const int row : std::as_const(m_rows)) {
        if (m_source->at(row).recoveryStatus != RecoveryStatus::existing && recoverableAt(row)) {
            m_flags[std::size_t(row)] |= selected;
            ++m_selectedCount;
        }
    }
    m_selectableCount = m_selectedCount;
    emitSelectionShown();
}

void VisibleHitsModel::clearSelection()
{
    if (m_selectedCount == 0)
        return;
    clearMarks();
    emitSelectionShown();
}

void VisibleHitsModel::toggleAll()
{
    if (allSelectableSelected())
        clearSelection();
    else
        selectAll();
}

QList<int> VisibleHitsModel::selectedSourceRows() const
{
    QList<int> rows;
    rows.reserve(m_selectedCount);
    for (std::size_t row = 0; row < m_flags.size() && rows.size() < m_selectedCount; ++row) {
        if (m_flags[row] & selected)
            rows.append(int(row));
    }
    return rows;
}

bool VisibleHitsModel::isSourceRowSelected(int sourceRow) const
{
    return sourceRow >= 0 && std::size_t(sourceRow) < m_flags.size() && (m_flags[std::size_t(sourceRow)] & selected);
}

void VisibleHitsModel::setSelectedSourceRows(const QList<int> &rows)
{
    clearMarks();
    for (const int row : rows) {
        if (row >= 0 && std::size_t(row) < m_flags.size() && !(m_flags[std::size_t(row)] & selected)) {
            m_flags[std::size_t(row)] |= selected;
            ++m_selectedCount;
        }
    }
    emitSelectionShown();
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
            flags = quint8((flags & kept) | classify(files.at(i)));
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
    if (m_selectedCount > 0)
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
        const quint8 now = quint8((flags & kept) | classify(m_source->at(row)));
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
    if (m_selectedCount > 0)
        Q_EMIT selectionChanged();
}

void VisibleHitsModel::sourceReset()
{
    // A reset is a new scan or New Scan: the marks and the file-system
    // answers belong to the hits that were in the rows before.
    m_flags.clear();
    m_selectedCount = 0;
    ++m_generation;
    rebuild();
}
