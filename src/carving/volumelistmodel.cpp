#include "volumelistmodel.h"

#include "model/bytecount.h"

VolumeListModel::VolumeListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int VolumeListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_volumes.size());
}

QVariant VolumeListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const VolumeInfo &volume = m_volumes.at(index.row());
    switch (Role(role)) {
    case Role::id:
        return volume.id.toString(QUuid::WithoutBraces);
    case Role::name:
        return volume.name;
    case Role::mountPoint:
        return volume.mountPoint;
    case Role::device:
        return volume.device;
    case Role::rawDevice:
        return volume.rawDevice;
    case Role::fileSystem:
        return volume.fileSystem;
    case Role::totalSize:
        return QVariant::fromValue(volume.totalSize);
    case Role::freeSize:
        return QVariant::fromValue(volume.freeSize);
    case Role::totalSizeText:
        return formatByteCount(volume.totalSize);
    case Role::freeSizeText:
        return formatByteCount(volume.freeSize);
    case Role::isExternal:
        return volume.isExternal;
    case Role::isRemovable:
        return volume.isRemovable;
    }
    return {};
}

QHash<int, QByteArray> VolumeListModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::id), "id"},
        {int(Role::name), "name"},
        {int(Role::mountPoint), "mountPoint"},
        {int(Role::device), "device"},
        {int(Role::rawDevice), "rawDevice"},
        {int(Role::fileSystem), "fileSystem"},
        {int(Role::totalSize), "totalSize"},
        {int(Role::freeSize), "freeSize"},
        {int(Role::totalSizeText), "totalSizeText"},
        {int(Role::freeSizeText), "freeSizeText"},
        {int(Role::isExternal), "isExternal"},
        {int(Role::isRemovable), "isRemovable"},
    };
    return names;
}

void VolumeListModel::setVolumes(QList<VolumeInfo> volumes)
{
    const bool countChanges = volumes.size() != m_volumes.size();
    beginResetModel();
    m_volumes = std::move(volumes);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}

int VolumeListModel::rowOf(const QString &id) const
{
    const QUuid wanted = QUuid::fromString(id);
    for (qsizetype row = 0; row < m_volumes.size(); ++row) {
        if (!wanted.isNull() && m_volumes.at(row).id == wanted)
            return int(row);
    }
    return -1;
}

std::optional<VolumeInfo> VolumeListModel::volumeWithId(const QString &id) const
{
    const int row = rowOf(id);
    if (row < 0)
        return std::nullopt;
    return m_volumes.at(row);
}
