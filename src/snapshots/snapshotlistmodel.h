#pragma once

#include <QAbstractListModel>
#include <QList>

#include <optional>

#include "snapshots/snapshotentry.h"

// The listed snapshots as rows for the Snapshots screen, newest first.
// Replaced as a whole by each listing.
class SnapshotListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    enum class Role {
        snapshotId = Qt::UserRole + 1, // the record's id ("id" is taken in QML)
        name,
        snapshotUUID,
        formattedDate, // long date, medium time; "Unknown" without a date
        volumeName,
        volumeDevice,
        kindName,      // "btrfs", "Snapper", "LVM", "ZFS", "APFS"
        canBrowse,     // its files can be opened as a folder
    };
    Q_ENUM(Role)

    explicit SnapshotListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<SnapshotEntry> &entries() const { return m_entries; }
    void setEntries(QList<SnapshotEntry> entries);
    std::optional<SnapshotEntry> entryAt(int row) const;

Q_SIGNALS:
    void countChanged();

private:
    QList<SnapshotEntry> m_entries;
};
