#pragma once

#include <QAbstractListModel>
#include <QList>

#include "carving/carvedhits.h"
#include "carving/scansink.h"
#include "model/records.h"

// The hits of a Deep Scan as a list model. Rows are appended in batches (one
// insertion per batch, in the order given) and replaced only by reset(), which
// a scan start or New Scan calls; the matching updates rows in place.
//
// Hits are held in a CarvedHits store: unverified ones compactly, and past
// its limit only counted (they take no row, but every count includes them).
// A row is therefore handed out as a record built on request, not as a
// reference into the list.
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
        originalPath,        // empty string when absent
        // What the structure walk found, shown beside the health badge.
        isVerified,
        verificationState,   // Verification::State as int: 0 not checked, 1 verified, 2 unverified
        verifiedLength,      // qint64: the whole file's length; 0 unless verified
        verifiedSizeText,    // byte-count formatter; empty unless verified
        verificationText,    // "Verified", or why not; empty when not checked
        verificationIcon,    // empty when not checked
        verificationColor,   // palette name; empty when not checked
        sizeToSave,          // qint64: what saving writes, the true length or the carved window
    };
    Q_ENUM(Role)

    explicit CarvedFileModel(QObject *parent = nullptr,
                             qsizetype unverifiedListLimit = UnverifiedHits::defaultListLimit);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Every row as a record, in order (built afresh: costly for many rows).
    QList<CarvedFile> files() const { return m_hits.files(); }
    CarvedFile at(qsizetype row) const { return m_hits.at(row); }
    const CarvedHits &hits() const { return m_hits; }
    // Whether the row's hit is one a walk refused; cheap, for filters.
    bool isUnverifiedAt(qsizetype row) const
    {
        return m_hits.verificationState(row) == Verification::State::unverified;
    }

    // Appends the hits in order; unverified ones past the list limit are
    // only counted. `notListed` adds hits of each type that a scan already
    // left out for being past the limit.
    void append(QList<CarvedFile> files, const QHash<QString, qint64> &notListed = {});
    void reset(QList<CarvedFile> files = {});

    qsizetype hitCount() const override { return m_rows; }
    CarvedFile hitAt(qsizetype row) const override { return m_hits.at(row); }
    // Marks one row; emits dataChanged for the status roles of that row only.
    void setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> matchedExistingPath) override;

    // Every hit of the scan, listed or not.
    qint64 totalHitCount() const { return m_hits.hitCount(); }
    qint64 verifiedCount() const { return m_hits.verifiedCount(); }
    qint64 unverifiedCount() const { return m_hits.unverifiedCount(); }
    qint64 notListedCount() const { return m_hits.notListedCount(); }
    qsizetype unverifiedListLimit() const { return m_hits.unverifiedListLimit(); }

Q_SIGNALS:
    void countChanged();
    // The verified, unverified or not-listed counts changed.
    void tallyChanged();

private:
    CarvedHits m_hits;
    // Rows the views know of; the store runs ahead of it between adding a
    // batch and announcing its rows.
    qsizetype m_rows = 0;
};
