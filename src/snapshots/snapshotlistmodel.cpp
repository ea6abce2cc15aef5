#include "snapshotlistmodel.h"

SnapshotListModel::SnapshotListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int SnapshotListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant SnapshotListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const SnapshotEntry &entry = m_entries.at(index.row());
    switch (Role(role)) {
    case Role::snapshotId:
        return entry.info.id.toString(QUuid::WithoutBraces);
    case Role::name:
        return entry.info.name;
    case Role::snapshotUUID:
        return entry.info.snapshotUUID;
    case Role::formattedDate:
        return entry.info.formattedDate();
    case Role::volumeName:
        return entry.info.volumeName;
    case Role::volumeDevice:
        return entry.info.volumeDevice;
    case Role::kindName:
        return snapshotKindName(entry.kind);
    case Role::canBrowse:
        return !entry.folder.isEmpty();
    }
    return {};
}

QHash<int, QByteArray> SnapshotListModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::snapshotId), "snapshotId"},
        {int(Role::name), "name"},
        {int(Role::snapshotUUID), "snapshotUUID"},
        {int(Role::formattedDate), "formattedDate"},
        {int(Role::volumeName), "volumeName"},
        {int(Role::volumeDevice), "volumeDevice"},
        {int(Role::kindName), "kindName"},
        {int(Role::canBrowse), "canBrowse"},
    };
    return names;
}

void SnapshotListModel::setEntries(QList<SnapshotEntry> entries)
{
    const bool countChanges = entries.size() != m_entries.size();
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}

std::optional<SnapshotEntry> SnapshotListModel::entryAt(int row) const
{
    if (row < 0 || row >= m_entries.size())
        return std::nullopt;
    return m_entries.at(row);
}
