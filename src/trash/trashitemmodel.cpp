#include "trashitemmodel.h"

#include "model/bytecount.h"

TrashItemModel::TrashItemModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int TrashItemModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant TrashItemModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TrashItem &item = m_items.at(index.row());
    switch (Role(role)) {
    case Role::id:
        return item.id.toString(QUuid::WithoutBraces);
    case Role::fileName:
        return item.fileName;
    case Role::originalPath:
        return item.originalPath.value_or(QString());
    case Role::hasOriginalPath:
        return item.originalPath.has_value();
    case Role::trashPath:
        return item.trashPath.toLocalFile();
    case Role::fileSize:
        return QVariant::fromValue(item.fileSize);
    case Role::sizeText:
        return formatByteCount(item.fileSize);
    case Role::deletedDate:
        return item.deletedDate.value_or(QDateTime());
    case Role::deletedDateText:
        return item.formattedDeletedDate();
    case Role::category:
        return int(item.category);
    case Role::categoryName:
        return rawValue(item.category);
    case Role::categoryIcon:
        return icon(item.category);
    case Role::categoryColor:
        return paletteName(color(item.category));
    case Role::isDirectory:
        return item.isDirectory;
    case Role::isSelected:
        return false;
    }
    return {};
}

QHash<int, QByteArray> TrashItemModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::id), "itemId"},
        {int(Role::fileName), "fileName"},
        {int(Role::originalPath), "originalPath"},
        {int(Role::hasOriginalPath), "hasOriginalPath"},
        {int(Role::trashPath), "trashPath"},
        {int(Role::fileSize), "fileSize"},
        {int(Role::sizeText), "sizeText"},
        {int(Role::deletedDate), "deletedDate"},
        {int(Role::deletedDateText), "deletedDateText"},
        {int(Role::category), "category"},
        {int(Role::categoryName), "categoryName"},
        {int(Role::categoryIcon), "categoryIcon"},
        {int(Role::categoryColor), "categoryColor"},
        {int(Role::isDirectory), "isDirectory"},
        {int(Role::isSelected), "isSelected"},
    };
    return names;
}

void TrashItemModel::setItems(QList<TrashItem> items)
{
    const bool countChanges = items.size() != m_items.size();
    beginResetModel();
    m_items = std::move(items);
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}
