#include "unverifiedhits.h"

#include <algorithm>
#include <cstring>
#include <limits>

UnverifiedHits::UnverifiedHits(qsizetype listLimit)
    : m_listLimit(listLimit)
    , m_base(newRecordId())
{
}

template<typename T, typename Key, typename Make>
quint32 UnverifiedHits::intern(QList<T> &list, QHash<Key, quint32> &index, const Key &key, Make make)
{
    const auto it = index.constFind(key);
    if (it != index.cend())
        return *it;
    const auto at = quint32(list.size());
    list.append(make());
    index.insert(key, at);
    return at;
}

bool UnverifiedHits::add(const CarvedFile &hit)
{
    // Types and sources are a handful per scan; a record that would need more
    // than the fields hold is counted like one past the limit.
    const bool room = qsizetype(m_entries.size()) < m_listLimit && hit.data
        && hit.estimatedSize >= 0 && hit.estimatedSize <= std::numeric_limits<quint32>::max()
        && (m_typeIndex.contains(hit.signatureType) || m_types.size() < 0xFFFF);
    if (!room) {
        ++m_notListed[hit.signatureType];
        ++m_notListedTotal;
        return false;
    }
    // A scan has one source: the last one found is nearly always the one.
    const ByteSource *bytes = hit.data->source.get();
    quint32 source = m_lastSource;
    if (source >= quint32(m_sources.size()) || m_sources[source].bytes.get() != bytes
        || m_sources[source].path != hit.sourcePath) {
        const QString sourceKey = hit.sourcePath + QLatin1Char('\n') + QString::number(quintptr(bytes));
        if (!m_sourceIndex.contains(sourceKey) && m_sources.size() >= 0xFF) {
            ++m_notListed[hit.signatureType];
            ++m_notListedTotal;
            return false;
        }
        source = intern(m_sources, m_sourceIndex, sourceKey, [&] { return Source{hit.data->source, hit.sourcePath}; });
        m_lastSource = source;
    }
    Entry entry;
    entry.offset = hit.offset;
    entry.sourceOffset = hit.data->offset;
    entry.estimatedSize = quint32(hit.estimatedSize);
    entry.health = quint8(hit.health);
    entry.status = quint8(hit.recoveryStatus);
    entry.headLength = quint8(std::min<qsizetype>(headSize, hit.data->head.size()));
    std::memcpy(entry.head, hit.data->head.constData(), entry.headLength);
    entry.type = quint16(intern(m_types, m_typeIndex, hit.signatureType,
                                [&] { return Type{hit.signatureType, hit.fileExtension}; }));
    if (m_lastReason >= quint32(m_reasons.size()) || m_reasons[m_lastReason] != hit.verification.reason)
        m_lastReason = intern(m_reasons, m_reasonIndex, hit.verification.reason, [&] { return hit.verification.reason; });
    entry.reason = m_lastReason;
    entry.source = quint8(source);
    if (hit.matchedExistingPath)
        m_matchedPaths.insert(qsizetype(m_entries.size()), *hit.matchedExistingPath);
    m_entries.push_back(entry);
    return true;
}

void UnverifiedHits::addNotListed(const QString &typeName, qint64 count)
{
    if (count <= 0)
        return;
    m_notListed[typeName] += count;
    m_notListedTotal += count;
}

RecoveryStatus UnverifiedHits::recoveryStatusAt(qsizetype index) const
{
    return RecoveryStatus(m_entries.at(std::size_t(index)).status);
}

void UnverifiedHits::setRecoveryStatus(qsizetype index, RecoveryStatus status,
                                       const std::optional<QString> &matchedExistingPath)
{
    m_entries.at(std::size_t(index)).status = quint8(status);
    if (matchedExistingPath)
        m_matchedPaths.insert(index, *matchedExistingPath);
    else
        m_matchedPaths.remove(index);
}

QUuid UnverifiedHits::idAt(qsizetype index) const
{
    QUuid id = m_base;
    id.data1 ^= quint32(index);
    id.data2 ^= quint16(quint64(index) >> 32);
    return id;
}

qsizetype UnverifiedHits::indexOf(const QUuid &id) const
{
    if (id.data3 != m_base.data3 || std::memcmp(id.data4, m_base.data4, sizeof id.data4) != 0)
        return -1;
    const qsizetype index = qsizetype(quint64(id.data1 ^ m_base.data1) | quint64(quint16(id.data2 ^ m_base.data2)) << 32);
    return index < listedCount() ? index : -1;
}

CarvedFile UnverifiedHits::at(qsizetype index) const
{
    const Entry &entry = m_entries.at(std::size_t(index));
    const Type &type = m_types.at(entry.type);
    const Source &source = m_sources.at(entry.source);
    CarvedFile file;
    file.id = idAt(index);
    file.signatureType = type.name;
    file.fileExtension = type.extension;
    file.offset = entry.offset;
    file.estimatedSize = entry.estimatedSize;
    CarvedData data;
    data.source = source.bytes;
    data.offset = entry.sourceOffset;
    data.length = entry.estimatedSize;
    data.head = QByteArray(entry.head, entry.headLength);
    file.data = std::move(data);
    file.health = CarvedFileHealth(entry.health);
    file.recoveryStatus = RecoveryStatus(entry.status);
    const auto matched = m_matchedPaths.constFind(index);
    if (matched != m_matchedPaths.cend())
        file.matchedExistingPath = *matched;
    file.sourcePath = source.path;
    file.verification.state = Verification::State::unverified;
    file.verification.reason = m_reasons.at(entry.reason);
    return file;
}

void UnverifiedHits::clear()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_types.clear();
    m_typeIndex.clear();
    m_reasons.clear();
    m_reasonIndex.clear();
    m_sources.clear();
    m_sourceIndex.clear();
    m_lastSource = 0;
    m_lastReason = 0;
    m_matchedPaths.clear();
    m_notListed.clear();
    m_notListedTotal = 0;
    m_base = newRecordId();
}
