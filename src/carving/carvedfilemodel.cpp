#include "carvedfilemodel.h"

#include "carving/savecarved.h"
#include "model/bytecount.h"

CarvedFileModel::CarvedFileModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int CarvedFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QVariant CarvedFileModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CarvedFile &file = m_files.at(index.row());
    switch (Role(role)) {
    case Role::id:
        return file.id.toString(QUuid::WithoutBraces);
    case Role::signatureType:
        return file.signatureType;
    case Role::fileExtension:
        return file.fileExtension;
    case Role::offset:
        return QVariant::fromValue(file.offset);
    case Role::offsetText:
        return QString::asprintf("0x%012llX", static_cast<unsigned long long>(file.offset));
    case Role::estimatedSize:
        return QVariant::fromValue(file.estimatedSize);
    case Role::sizeText:
        return formatByteCount(file.estimatedSize);
    case Role::hasData:
        return file.data.has_value();
    case Role::health:
        return int(file.health);
    case Role::healthText:
        return rawValue(file.health);
    case Role::healthIcon:
        return icon(file.health);
    case Role::healthColor:
        return paletteName(color(file.health));
    case Role::sourcePath:
        return file.sourcePath;
    case Role::recoveryStatus:
        return int(file.recoveryStatus);
    case Role::recoveryStatusText:
        return rawValue(file.recoveryStatus);
    case Role::recoveryStatusIcon:
        return icon(file.recoveryStatus);
    case Role::recoveryStatusColor:
        return paletteName(color(file.recoveryStatus));
    case Role::matchedExistingPath:
        return file.matchedExistingPath.value_or(QString());
    case Role::canRecover:
        return canRecover(file);
    case Role::suggestedFileName:
        return file.suggestedFileName();
    case Role::originalPath:
        return file.originalPath.value_or(QString());
    }
    return {};
}

QHash<int, QByteArray> CarvedFileModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::id), "id"},
        {int(Role::signatureType), "signatureType"},
        {int(Role::fileExtension), "fileExtension"},
        {int(Role::offset), "offset"},
        {int(Role::offsetText), "offsetText"},
        {int(Role::estimatedSize), "estimatedSize"},
        {int(Role::sizeText), "sizeText"},
        {int(Role::hasData), "hasData"},
        {int(Role::health), "health"},
        {int(Role::healthText), "healthText"},
        {int(Role::healthIcon), "healthIcon"},
        {int(Role::healthColor), "healthColor"},
        {int(Role::sourcePath), "sourcePath"},
        {int(Role::recoveryStatus), "recoveryStatus"},
        {int(Role::recoveryStatusText), "recoveryStatusText"},
        {int(Role::recoveryStatusIcon), "recoveryStatusIcon"},
        {int(Role::recoveryStatusColor), "recoveryStatusColor"},
        {int(Role::matchedExistingPath), "matchedExistingPath"},
        {int(Role::canRecover), "canRecover"},
        {int(Role::suggestedFileName), "suggestedFileName"},
        {int(Role::originalPath), "originalPath"},
    };
    return names;
}

void CarvedFileModel::append(QList<CarvedFile> files)
{
    if (files.isEmpty())
        return;
    const int first = int(m_files.size());
    beginInsertRows(QModelIndex(), first, first + int(files.size()) - 1);
    m_files.append(std::move(files));
    endInsertRows();
    Q_EMIT countChanged();
}

void CarvedFileModel::reset(QList<CarvedFile> files)
{
    const bool countChanges = files.size() != m_files.size();
    beginResetModel();
    m_files = std::move(files);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}

void CarvedFileModel::setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> matchedExistingPath)
{
    if (row < 0 || row >= m_files.size())
        return;
    CarvedFile &file = m_files[row];
    file.recoveryStatus = status;
    file.matchedExistingPath = std::move(matchedExistingPath);
    const QModelIndex changed = index(int(row));
    Q_EMIT dataChanged(changed, changed,
                       {int(Role::recoveryStatus), int(Role::recoveryStatusText), int(Role::recoveryStatusIcon),
                        int(Role::recoveryStatusColor), int(Role::matchedExistingPath)});
}
