#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QSet>
#include <QSortFilterProxyModel>

#include "snapshots/snapshotfiles.h"

// The entries of the snapshot folder being browsed. Replaced as a whole when
// another folder is entered; comparison and selection change row by row.
class SnapshotFileModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    enum class Role {
        name = Qt::UserRole + 1,
        isDirectory,
        isSymlink,
        sizeText,       // byte-count formatter; "--" for a folder or link
        modifiedText,   // short date and time in the user's locale
        icon,           // SF Symbols name of its category
        iconColor,      // palette name
        isSelected,
        comparisonText, // "Missing", "Changed", "Same", or empty
        comparisonColor,
    };
    Q_ENUM(Role)

    explicit SnapshotFileModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<SnapshotFile> &files() const { return m_files; }
    void setFiles(QList<SnapshotFile> files, const QSet<QByteArray> &selectedNames);
    void setComparison(int row, SnapshotComparison comparison);
    void setSelected(int row, bool selected);

Q_SIGNALS:
    void countChanged();

private:
    QList<SnapshotFile> m_files;
    QList<bool> m_selected;
};

// The rows whose name holds the search text, ignoring case.
class SnapshotFileFilter : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    explicit SnapshotFileFilter(SnapshotFileModel *files, QObject *parent = nullptr);

    void setSearchText(const QString &text);
    // The row of the file model behind a shown row, or -1.
    int sourceRow(int row) const;

Q_SIGNALS:
    void countChanged();
};
