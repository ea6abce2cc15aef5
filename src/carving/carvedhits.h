#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

#include "carving/unverifiedhits.h"
#include "model/records.h"

// The hits of one scan, in the order found, in memory that stays bounded
// however large the scanned device is.
//
// Verified hits, and hits that no walk looked at (the whole files of a
// directory scan), are kept as whole records. Unverified hits, which random
// data yields by the million, go into an UnverifiedHits store: a few dozen
// bytes each, and past its limit only their number per type. A hit past that
// limit takes no row; every count below still includes it.
//
// Rows are numbered in the order hits were added; at() gives a row back as a
// whole record, built afresh for an unverified one (with an id that stays
// the same on every call).
class CarvedHits
{
public:
    explicit CarvedHits(qsizetype unverifiedListLimit = UnverifiedHits::defaultListLimit);

    // Appends the hits in order; returns how many rows they took.
    qsizetype append(const QList<CarvedFile> &files);
    // Counts unverified hits of one type that a scan left out of the list
    // before they got here (it knew they were past the limit).
    void addNotListed(const QString &typeName, qint64 count);

    qsizetype size() const { return qsizetype(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    CarvedFile at(qsizetype row) const;
    // Cheap questions about a row, without building its record.
    Verification::State verificationState(qsizetype row) const;
    RecoveryStatus recoveryStatus(qsizetype row) const;
    void setRecoveryStatus(qsizetype row, RecoveryStatus status, const std::optional<QString> &matchedExistingPath);

    // Every listed row as a record, in order.
    QList<CarvedFile> files() const;

    // Every hit added, listed or not.
    qint64 hitCount() const { return qint64(m_rows.size()) + m_unverified.notListedCount(); }
    qint64 verifiedCount() const { return m_verified; }
    // Unverified hits, listed or not.
    qint64 unverifiedCount() const { return m_unverified.totalCount(); }
    qint64 notListedCount() const { return m_unverified.notListedCount(); }
    const QHash<QString, qint64> &notListedByType() const { return m_unverified.notListedByType(); }
    qsizetype unverifiedListLimit() const { return m_listLimit; }

    void clear();

private:
    // A row is an index into m_whole, or with this bit into m_unverified.
    static constexpr quint32 compactRow = 0x8000'0000U;

    qsizetype m_listLimit;
    std::vector<quint32> m_rows;
    QList<CarvedFile> m_whole;
    UnverifiedHits m_unverified;
    qint64 m_verified = 0;
};
