#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <vector>

#include "model/records.h"

// The unverified hits of a raw scan, kept small. Random data gives a hit
// every few kilobytes (two-byte headers such as BM match everywhere), so a
// large device yields millions of them; kept as whole records they would
// take hundreds of bytes each. Here a hit takes a few dozen bytes, its
// reason text is shared with every hit that has the same one, and past
// `listLimit` hits only their number per type is kept.
//
// A listed hit is given back as a whole record by at(); its id is derived
// from the store's own random id and the hit's index, so it is the same on
// every call and unique. Its head (the first 32 bytes, which saving and the
// existing-file matching compare) is kept, and the matching may mark it
// like any other hit.
class UnverifiedHits
{
public:
    explicit UnverifiedHits(qsizetype listLimit = defaultListLimit);

    static constexpr qsizetype defaultListLimit = 200'000;

    static constexpr int headSize = CarvedData::headSize;

    // Keeps `hit` if there is room, else counts it; false when only counted.
    bool add(const CarvedFile &hit);
    // Counts hits of `typeName` that were left out before they got here.
    void addNotListed(const QString &typeName, qint64 count);

    qsizetype listedCount() const { return qsizetype(m_entries.size()); }
    // Every hit added, listed or not.
    qint64 totalCount() const { return qint64(m_entries.size()) + m_notListedTotal; }
    qint64 notListedCount() const { return m_notListedTotal; }
    // Hits past the limit, by type name.
    const QHash<QString, qint64> &notListedByType() const { return m_notListed; }

    CarvedFile at(qsizetype index) const;
    QUuid idAt(qsizetype index) const;
    RecoveryStatus recoveryStatusAt(qsizetype index) const;
    void setRecoveryStatus(qsizetype index, RecoveryStatus status, const std::optional<QString> &matchedExistingPath);
    // The index of the listed hit with this id, or -1.
    qsizetype indexOf(const QUuid &id) const;

    void clear();

private:
    struct Entry {
        quint64 offset = 0;
        quint64 sourceOffset = 0;   // where its bytes start in its source (the offset, for raw scans)
        quint32 estimatedSize = 0;
        quint32 reason = 0;         // index into m_reasons
        quint16 type = 0;           // index into m_types
        quint8 source = 0;          // index into m_sources
        quint8 health = 0;
        quint8 status = 0;          // RecoveryStatus
        quint8 headLength = 0;
        char head[headSize] = {};
    };
    struct Type {
        QString name;
        QString extension;
    };
    struct Source {
        std::shared_ptr<ByteSource> bytes;
        QString path;
    };

    template<typename T, typename Key, typename Make>
    static quint32 intern(QList<T> &list, QHash<Key, quint32> &index, const Key &key, Make make);

    qsizetype m_listLimit;
    QUuid m_base;
    std::vector<Entry> m_entries;
    QList<Type> m_types;
    QHash<QString, quint32> m_typeIndex;
    QList<QString> m_reasons;
    QHash<QString, quint32> m_reasonIndex;
    QList<Source> m_sources;
    QHash<QString, quint32> m_sourceIndex;   // by path and source address
    quint32 m_lastSource = 0;                // the source and reason of the last hit added
    quint32 m_lastReason = 0;
    QHash<qsizetype, QString> m_matchedPaths;   // few: junk rarely matches an existing file
    QHash<QString, qint64> m_notListed;
    qint64 m_notListedTotal = 0;
};
