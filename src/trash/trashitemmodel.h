#pragma once

#include <QAbstractListModel>
#include <QList>

#include "model/records.h"

// The items of the last Trash scan as a list model, replaced as a whole by
// each scan.
class TrashItemModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    enum class Role {
        id = Qt::UserRole + 1, // "itemId" in QML, where "id" is taken
        fileName,
        originalPath,      // empty string when unknown
        hasOriginalPath,
        trashPath,         // local path
        fileSize,          // qint64
        sizeText,          // byte-count formatter
        deletedDate,       // invalid QDateTime when unknown
        deletedDateText,   // medium date, short time; "Unknown"
        category,          // FileCategory value
        categoryName,      // "Images"
        categoryIcon,
        categoryColor,     // palette name
        isDirectory,
        isSelected,        // filled in by the screen's proxy; false here
    };
    Q_ENUM(Role)

    explicit TrashItemModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<TrashItem> &items() const { return m_items; }
    const TrashItem &at(qsizetype row) const { return m_items.at(row); }
    void setItems(QList<TrashItem> items);

Q_SIGNALS:
    void countChanged();

private:
    QList<TrashItem> m_items;
};
