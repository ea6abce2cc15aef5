#include "hitbytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/bytecount.h"
#include "model/bytesource.h"

namespace Verify {

namespace {
// Reads through the source come in blocks of this size: walks step through
// a file in small pieces, and a device read per piece would cost far more.
constexpr std::size_t blockSize = HitBytes::maxView;
// Most candidates are refused within their first few bytes.
constexpr std::size_t firstRead = 4096;
} // namespace

SearchMemo::SearchMemo(QByteArray pattern)
    : m_pattern(std::move(pattern))
{
}

HitBytes::HitBytes(std::span<const std::uint8_t> bytes)
    : m_memory(bytes)
    , m_sourceRemaining(bytes.size())
{
}

HitBytes::HitBytes(std::span<const std::uint8_t> inMemory, std::shared_ptr<const ByteSource> source,
                   quint64 absoluteOffset, quint64 sourceRemaining)
    : m_memory(inMemory)
    , m_source(std::move(source))
    , m_absolute(absoluteOffset)
    , m_sourceRemaining(sourceRemaining)
{
    if (m_memory.size() > m_sourceRemaining)
        m_memory = m_memory.first(std::size_t(m_sourceRemaining));
}

std::span<const std::uint8_t> HitBytes::view(quint64 pos, std::size_t n)
{
    n = std::min(n, maxView);
    const quint64 end = limit();
    if (pos >= end)
        return {};
    if (n > end - pos)
        n = std::size_t(end - pos);
    if (pos + n <= m_memory.size())
        return m_memory.subspan(std::size_t(pos), n);
    const auto blockBytes = [this] {
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(m_block.constData()),
                                             std::size_t(m_block.size()));
    };
    if (pos >= m_blockStart && pos + n <= m_blockStart + quint64(m_block.size()))
        return blockBytes().subspan(std::size_t(pos - m_blockStart), n);
    if (!m_source || (m_failed && pos + n > m_failedAt)) {
        // Only what is in memory, up to the first byte that cannot be had.
        if (pos < m_memory.size())
            return m_memory.subspan(std::size_t(pos));
        return {};
    }

    // Read a whole block from `pos` on (less at the limit). A view that
    // begins inside the in-memory span is copied together with its tail.
    const quint64 readFrom = pos < m_memory.size() ? quint64(m_memory.size()) : pos;
    // A walk that reads on where the last block ended gets larger blocks;
    // one that jumps (past media data, to a size field's end) small ones.
    const bool onwards = m_readSize != 0 && readFrom == m_blockStart + quint64(m_block.size());
    m_readSize = onwards ? std::min(2 * m_readSize, blockSize) : firstRead;
    const quint64 readLength = std::min<quint64>(std::max<quint64>(m_readSize, pos + n - readFrom), end - readFrom);
    QByteArray bytes;
    QString error;
    if (!m_source->read(m_absolute + readFrom, qint64(readLength), &bytes, &error)) {
        // Try the bytes this view needs on their own before giving up: the
        // block may have run into an unreadable stretch further on.
        const quint64 needed = pos + n - readFrom;
        if (needed >= readLength || !m_source->read(m_absolute + readFrom, qint64(needed), &bytes, &error)) {
            m_failed = true;
            m_failedAt = readFrom;
            m_error = error;
            return pos < m_memory.size() ? m_memory.subspan(std::size_t(pos)) : std::span<const std::uint8_t>();
        }
    }
    m_fetched += quint64(bytes.size());
    if (pos < m_memory.size()) {
        m_scratch = QByteArray(reinterpret_cast<const char *>(m_memory.data() + pos), qsizetype(m_memory.size() - pos));
        m_scratch.append(bytes.constData(), qsizetype(std::min<quint64>(quint64(bytes.size()), pos + n - readFrom)));
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(m_scratch.constData()),
                                             std::size_t(m_scratch.size()));
    }
    m_block = std::move(bytes);
    m_blockStart = readFrom;
    return blockBytes().subspan(0, std::min<std::size_t>(n, std::size_t(m_block.size())));
}

namespace {

// The first start in [0, starts) of `pattern` (at least two bytes) in
// `base`, which holds starts + pattern size - 1 bytes; or `starts`. The
// first two bytes are matched sixteen positions at a time: end markers such
// as "%%EOF" are searched through whole stretches of a disk, where a
// byte-wise search stops at every "%".
std::size_t findFrom(const std::uint8_t *base, std::size_t starts, QByteArrayView pattern)
{
    const std::size_t m = std::size_t(pattern.size());
    const auto a = std::uint8_t(pattern[0]);
    const auto b = std::uint8_t(pattern[1]);
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(char(a));
    const __m128i second = _mm_set1_epi8(char(b));
    // Loads reach i + 16, which lies inside the bytes while i + 16 < starts + m - 1.
    while (i + 16 < starts) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + i + 1));
        auto mask = std::uint32_t(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second))));
        while (mask) {
            const std::size_t at = i + std::size_t(std::countr_zero(mask));
            if (std::memcmp(base + at, pattern.data(), m) == 0)
                return at;
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    for (; i < starts; ++i) {
        if (base[i] == a && base[i + 1] == b && std::memcmp(base + i, pattern.data(), m) == 0)
            return i;
    }
    return starts;
}

} // namespace

quint64 HitBytes::findPlain(QByteArrayView pattern, quint64 from, quint64 to)
{
    const std::size_t m = std::size_t(pattern.size());
    if (m == 0)
        return from < to ? from : npos;
    const quint64 end = limit();
    to = std::min(to, end >= m ? end - m + 1 : 0);
    const auto first = std::uint8_t(pattern[0]);
    // Blocks overlap by m - 1 bytes so that a pattern across two is found.
    quint64 pos = from;
    while (pos < to) {
        const std::size_t want = std::size_t(std::min<quint64>(blockSize, to - pos + m - 1));
        const std::span<const std::uint8_t> bytes = view(pos, want);
        if (bytes.size() < m)
            return npos;
        const std::size_t starts = bytes.size() - m + 1;
        const std::uint8_t *base = bytes.data();
        if (m == 1) {
            if (const void *hit = std::memchr(base, first, starts))
                return pos + quint64(static_cast<const std::uint8_t *>(hit) - base);
        } else if (const std::size_t at = findFrom(base, starts, pattern); at < starts) {
            return pos + at;
        }
        if (bytes.size() < want)
            return npos;
        pos += starts;
    }
    return npos;
}

quint64 HitBytes::find(QByteArrayView pattern, quint64 from, quint64 to)
{
    if (!m_searchBudget)
        return findUnbudgeted(pattern, from, to);
    // The budget is spent on reads, so the search runs with the limit
    // lowered to where the budget reaches: view() then never reads past it,
    // and nothing is read that the budget does not pay for.
    const quint64 reach = quint64(m_memory.size()) + std::min(*m_searchBudget, unknownEnd - m_memory.size());
    const quint64 typeLimit = m_typeLimit;
    const bool capped = reach < limit();
    if (capped)
        m_typeLimit = reach;
    const quint64 fetchedBefore = m_fetched;
    const quint64 found = findUnbudgeted(pattern, from, to);
    m_typeLimit = typeLimit;
    *m_searchBudget -= std::min(*m_searchBudget, m_fetched - fetchedBefore);
    if (capped && found == npos && to > reach) {
        m_searchCut = true;
        m_searchedTo = reach;
    }
    return found;
}

quint64 HitBytes::findUnbudgeted(QByteArrayView pattern, quint64 from, quint64 to)
{
    if (!m_memo || pattern != QByteArrayView(m_memo->m_pattern))
        return findPlain(pattern, from, to);
    const quint64 end = limit();
    const quint64 m = quint64(pattern.size());
    to = std::min(to, end >= m ? end - m + 1 : 0);
    if (from >= to)
        return npos;
    SearchMemo &memo = *m_memo;
    const quint64 absFrom = m_absolute + from;
    const quint64 absTo = m_absolute + to;
    if (absFrom < memo.m_from || absFrom > memo.m_to) {
        memo.m_from = memo.m_to = absFrom;
        memo.m_found.clear();
    }
    // What lies before this hit is of no use to it or to later hits, which
    // start further on; a walk's own later searches start past its hit.
    if (m_absolute > memo.m_from) {
        memo.m_found.erase(memo.m_found.begin(),
                           std::lower_bound(memo.m_found.begin(), memo.m_found.end(), m_absolute));
        memo.m_from = m_absolute;
    }
    for (;;) {
        const auto it = std::lower_bound(memo.m_found.begin(), memo.m_found.end(), absFrom);
        if (it != memo.m_found.end() && *it < absTo)
            return *it - m_absolute;
        if (memo.m_to >= absTo)
            return npos;
        // Grow the searched stretch a block at a time, noting every
        // occurrence in it, so that a walk that finds its marker soon does
        // not search far ahead for others.
        const quint64 growTo = std::min(absTo, memo.m_to + blockSize);
        quint64 at = memo.m_to;
        for (;;) {
            const quint64 hit = findPlain(pattern, at - m_absolute, growTo - m_absolute);
            if (hit == npos)
                break;
            memo.m_found.push_back(m_absolute + hit);
            at = m_absolute + hit + 1;
        }
        if (m_failed)
            return npos;   // unreadable: the stretch stays unsearched
        memo.m_to = growTo;
    }
}

QString HitBytes::cutShort(quint64 pos) const
{
    if (m_failed && pos >= m_failedAt)
        return QStringLiteral("unreadable at ") + formatByteCount(qint64(m_failedAt))
            + (m_error.isEmpty() ? QString() : QStringLiteral(": ") + m_error);
    if (pos >= m_sourceRemaining || m_sourceRemaining <= m_typeLimit)
        return QStringLiteral("ends past the end of the device");
    return QStringLiteral("larger than the ") + formatByteCount(qint64(m_typeLimit))
        + QStringLiteral(" this type may take");
}

QString at(quint64 pos)
{
    // Crafted or repetitive data fails thousands of walks at the same
    // distance from their start; the locale-aware formatter costs more than
    // the walk, so recent answers are kept.
    struct Known {
        quint64 pos = 0;
        QString text;
    };
    static thread_local std::array<Known, 64> known;
    Known &slot = known[std::size_t((pos ^ (pos >> 12)) % known.size())];
    if (slot.text.isNull() || slot.pos != pos)
        slot = {pos, QStringLiteral(" at ") + formatByteCount(qint64(pos))};
    return slot.text;
}

} // namespace Verify
