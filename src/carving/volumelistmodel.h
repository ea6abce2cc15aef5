#pragma once

#include <QAbstractListModel>
#include <QList>

#include "model/records.h"

// The volumes a Deep Scan can target, as rows for the screen. Replaced as a
// whole by each volume discovery.
class VolumeListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    enum class Role {
        id = Qt::UserRole + 1,
        name,
        mountPoint,
        device,
        rawDevice,
        fileSystem,
        totalSize,      // qint64
        freeSize,       // qint64
        totalSizeText,  // byte-count formatter
        freeSizeText,
        isExternal,
        isRemovable,
    };
    Q_ENUM(Role)

    explicit VolumeListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<VolumeInfo> &volumes() const { return m_volumes; }
    void setVolumes(QList<VolumeInfo> volumes);

    // The row of the volume with this id (as the id role gives it), or -1.
    Q_INVOKABLE int rowOf(const QString &id) const;
    std::optional<VolumeInfo> volumeWithId(const QString &id) const;

Q_SIGNALS:
    void countChanged();

private:
    QList<VolumeInfo> m_volumes;
};
