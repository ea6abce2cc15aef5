#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

class ByteSource;

namespace Verify {

// Positions of one byte pattern in a source, remembered across the walks of
// one scan. Hits are walked in increasing offset order and many of them look
// for the same end marker ahead of them (every "%PDF-" in a file that has no
// "%%EOF" searches the same stretch), so each stretch of the source is
// searched once however many walks ask. Positions are absolute offsets.
class SearchMemo
{
public:
    explicit SearchMemo(QByteArray pattern);
    const QByteArray &pattern() const { return m_pattern; }

private:
    friend class HitBytes;
    QByteArray m_pattern;
    quint64 m_from = 0;   // every occurrence starting in [m_from, m_to) is in m_found
    quint64 m_to = 0;
    std::vector<quint64> m_found;
};

// The bytes of one candidate file, from its first byte on, as a walker sees
// them: a span already in memory (the scan's read-ahead, or all of a test's
// bytes), continued where the format says the file goes on by reads through
// the hit's byte source. Nothing past `limit()` is ever handed out: the
// type's largest size or the end of the source, whichever comes first.
//
// view() returns fewer bytes than asked only at the limit or when a read
// failed; cutShort() then words why for the user.
class HitBytes
{
public:
    static constexpr quint64 unknownEnd = std::numeric_limits<quint64>::max();
    static constexpr quint64 npos = std::numeric_limits<quint64>::max();

    // All bytes in memory; the source ends where `bytes` ends.
    explicit HitBytes(std::span<const std::uint8_t> bytes);
    // `inMemory` holds the first bytes of the hit at `absoluteOffset` of
    // `source`, which has `sourceRemaining` bytes from there on (unknownEnd
    // when its size is not known). `source` may be null: nothing beyond
    // `inMemory` is then readable.
    HitBytes(std::span<const std::uint8_t> inMemory, std::shared_ptr<const ByteSource> source, quint64 absoluteOffset,
             quint64 sourceRemaining);

    // The type's largest file size; walks never look beyond it.
    void setTypeLimit(quint64 maxFileSize) { m_typeLimit = maxFileSize; }
    void setSearchMemo(SearchMemo *memo) { m_memo = memo; }
    // Searches for an end marker may read past the in-memory span only while
    // `*budget` lasts; what they read through the source is taken off it.
    // A marker that never comes (a header in random data, a file whose end
    // was overwritten) would otherwise have every such candidate read on to
    // the type's largest size. Walks that follow size fields are not held
    // to it: the fields bound them, and junk fails them within a few bytes.
    void setSearchBudget(quint64 *budget) { m_searchBudget = budget; }
    // A search gave up where its budget ran out, not at the limit.
    bool searchWasCut() const { return m_searchCut; }
    // How far the last search cut short by its budget got.
    quint64 searchedTo() const { return m_searchedTo; }

    quint64 limit() const { return std::min(m_typeLimit, m_sourceRemaining); }
    quint64 sourceRemaining() const { return m_sourceRemaining; }
    quint64 absoluteOffset() const { return m_absolute; }

    // Up to `n` bytes at `pos`, valid until the next call (which may read a
    // new block over them). `n` may not exceed maxView.
    static constexpr std::size_t maxView = 1 << 20;
    std::span<const std::uint8_t> view(quint64 pos, std::size_t n);
    // True when all `n` bytes at `pos` can be had.
    bool has(quint64 pos, std::size_t n) { return view(pos, n).size() == n; }

    // The first position in [from, to) where `pattern` starts and fits before
    // the limit, or npos. Uses the search memo when it is for this pattern.
    quint64 find(QByteArrayView pattern, quint64 from, quint64 to);

    // Why a walk that needed bytes up to `pos` could not go on: a read error,
    // the end of the source, or the type's size limit.
    QString cutShort(quint64 pos) const;

    // Bytes fetched from the source so far (not counting the in-memory span).
    quint64 bytesFetched() const { return m_fetched; }

private:
    quint64 findPlain(QByteArrayView pattern, quint64 from, quint64 to);
    quint64 findUnbudgeted(QByteArrayView pattern, quint64 from, quint64 to);

    std::span<const std::uint8_t> m_memory;
    std::shared_ptr<const ByteSource> m_source;
    quint64 m_absolute = 0;
    quint64 m_sourceRemaining = 0;
    quint64 m_typeLimit = unknownEnd;
    SearchMemo *m_memo = nullptr;
    quint64 *m_searchBudget = nullptr;
    bool m_searchCut = false;
    quint64 m_searchedTo = 0;

    QByteArray m_block;          // bytes read from the source
    quint64 m_blockStart = 0;    // position of m_block[0]
    std::size_t m_readSize = 0;  // size of the last read
    QByteArray m_scratch;        // a view straddling the in-memory span's end
    quint64 m_fetched = 0;
    bool m_failed = false;
    quint64 m_failedAt = 0;
    QString m_error;
};

// A result of a structure walk.
struct Outcome {
    bool verified = false;
    quint64 length = 0;    // verified: the file's true length
    QString reason;        // not verified: why, in a few words for the user
    // How far the walk went: the end of a verified file, or where the walk
    // stopped. Later candidates inside it need no walk of their own.
    quint64 reached = 0;

    static Outcome ok(quint64 length) { return {true, length, {}, length}; }
    static Outcome refused(QString reason, quint64 reached = 0) { return {false, 0, std::move(reason), reached}; }
};

// "at 1.2 MB": where in the candidate something went wrong.
QString at(quint64 pos);

} // namespace Verify
