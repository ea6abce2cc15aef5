#pragma once

#include <QAbstractListModel>
#include <QList>

#include "carving/scansink.h"
#include "model/records.h"

// The hits of a Deep Scan as a list model. Rows are appended in batches (one
// insertion per batch, in the order given) and replaced only by reset(), which
// a scan start or New Scan calls; the matching updates rows in place.
class CarvedFileModel : public QAbstractListModel, public HitTable
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    enum class Role {
        id = Qt::UserRole + 1,
        signatureType,
        fileExtension,
        offset,          // quint64
        offsetText,      // "0x%012llX"
        estimatedSize,   // qint64
        sizeText,        // byte-count formatter
        hasData,
        health,          // enum value
        healthText,      // raw value, the badge text
        healthIcon,
        healthColor,     // palette name
        sourcePath,
        recoveryStatus,  // enum value
        recoveryStatusText,
        recoveryStatusIcon,
        recoveryStatusColor,
        matchedExistingPath, // empty string when absent
        canRecover,
        suggestedFileName,
    };
    Q_ENUM(Role)

    explicit CarvedFileModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<CarvedFile> &files() const { return m_files; }
    const CarvedFile &at(qsizetype row) const { return m_files.at(row); }

    void append(QList<CarvedFile> files);
    void reset(QList<CarvedFile> files = {});

    qsizetype hitCount() const override { return m_files.size(); }
    const CarvedFile &hitAt(qsizetype row) const override { return m_files.at(row); }
    // Marks one row; emits dataChanged for the status roles of that row only.
    void setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> matchedExistingPath) override;

Q_SIGNALS:
    void countChanged();

private:
    QList<CarvedFile> m_files;
};
