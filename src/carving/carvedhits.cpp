#include "carvedhits.h"

CarvedHits::CarvedHits(qsizetype unverifiedListLimit)
    : m_listLimit(unverifiedListLimit)
    , m_unverified(unverifiedListLimit)
{
}

qsizetype CarvedHits::append(const QList<CarvedFile> &files)
{
    const qsizetype before = size();
    for (const CarvedFile &file : files) {
        switch (file.verification.state) {
        case Verification::State::unverified: {
            const qsizetype index = m_unverified.listedCount();
            if (m_unverified.add(file))
                m_rows.push_back(quint32(index) | compactRow);
            break;
        }
        case Verification::State::verified:
            ++m_verified;
            Q_FALLTHROUGH();
        case Verification::State::notChecked:
            m_rows.push_back(quint32(m_whole.size()));
            m_whole.append(file);
            break;
        }
    }
    return size() - before;
}

void CarvedHits::addNotListed(const QString &typeName, qint64 count)
{
    m_unverified.addNotListed(typeName, count);
}

CarvedFile CarvedHits::at(qsizetype row) const
{
    const quint32 index = m_rows.at(std::size_t(row));
    return index & compactRow ? m_unverified.at(index & ~compactRow) : m_whole.at(index);
}

Verification::State CarvedHits::verificationState(qsizetype row) const
{
    const quint32 index = m_rows.at(std::size_t(row));
    return index & compactRow ? Verification::State::unverified : m_whole.at(index).verification.state;
}

RecoveryStatus CarvedHits::recoveryStatus(qsizetype row) const
{
    const quint32 index = m_rows.at(std::size_t(row));
    return index & compactRow ? m_unverified.recoveryStatusAt(index & ~compactRow) : m_whole.at(index).recoveryStatus;
}

void CarvedHits::setRecoveryStatus(qsizetype row, RecoveryStatus status, const std::optional<QString> &matchedExistingPath)
{
    const quint32 index = m_rows.at(std::size_t(row));
    if (index & compactRow) {
        m_unverified.setRecoveryStatus(index & ~compactRow, status, matchedExistingPath);
        return;
    }
    CarvedFile &file = m_whole[index];
    file.recoveryStatus = status;
    file.matchedExistingPath = matchedExistingPath;
}

QList<CarvedFile> CarvedHits::files() const
{
    QList<CarvedFile> all;
    all.reserve(size());
    for (qsizetype row = 0; row < size(); ++row)
        all.append(at(row));
    return all;
}

void CarvedHits::clear()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_whole.clear();
    m_whole.squeeze();
    m_unverified.clear();
    m_verified = 0;
}
