#include "carveengine.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include "carver.h"

namespace {
// Positions flagged per scan call; also the granularity at which candidates
// are released and the footer index grows.
constexpr std::size_t blockSize = 32 * 1024;

// Source offsets per block of a footer memo.
constexpr quint64 memoBlockSize = 32 * 1024;

// The validator sees at most this many bytes, so a promise about later bytes
// could never be checked by it and is not used.
constexpr std::size_t validatorView = 16;

// Two equal leading bytes (or a single one) match inside every run of that
// byte value, which raw disks are full of.
bool isWeakAnchor(const QByteArray &bytes)
{
    return bytes.size() < 2 || bytes[0] == bytes[1];
}

// A plain loop: headers are a few bytes and most checks fail on the first
// one, where a library call would cost more than the comparison.
inline bool bytesAt(const std::uint8_t *data, std::size_t size, std::size_t at, const QByteArray &bytes)
{
    const std::size_t n = std::size_t(bytes.size());
    if (at > size || n > size - at)
        return false;
    const char *expected = bytes.constData();
    for (std::size_t i = 0; i < n; ++i) {
        if (data[at + i] != std::uint8_t(expected[i]))
            return false;
    }
    return true;
}

struct Candidate {
    std::size_t position;
    int signature;
    bool operator<(const Candidate &o) const
    {
        return position != o.position ? position < o.position : signature < o.signature;
    }
};

// Footer positions of one carve call, known for a stretch [m_low, m_high) of
// start positions and complete there, so the highest one at or below a bound
// inside the stretch is the last footer at or below that bound. The stretch
// begins at the first query's upper bound and grows on demand: down until a
// footer turns up, up as later hits' windows end further on. With read-ahead
// windows capped below the area's end, the area above the highest window end
// is never searched.
class FooterIndex
{
public:
    FooterIndex(const std::uint8_t *area, std::size_t windowEnd, const QByteArray &footer, const PairFilter &filter)
        : m_area(area), m_end(windowEnd), m_footer(footer), m_filter(filter)
    {
    }

    // The highest q in [low, high] with the footer at q, or npos. `high` +
    // footer length never exceeds the window end. `scratch` has room for
    // `step` + PairFilter::outputSlack positions.
    std::size_t lastIn(std::size_t low, std::size_t high, std::size_t *scratch, std::size_t step)
    {
        if (!m_started) {
            m_low = m_high = high + 1;
            m_started = true;
        }
        while (m_high <= high) {
            const std::size_t top = std::min(high + 1, m_high + step);
            scanInto(m_high, top, scratch, [&](std::size_t q) { m_above.push_back(q); }, false);
            m_high = top;
        }
        for (;;) {
            // m_above ascends and lies above m_below, which descends.
            const auto up = std::upper_bound(m_above.begin(), m_above.end(), high);
            if (up != m_above.begin())
                return *(up - 1) >= low ? *(up - 1) : npos;
            if (high >= m_low) {
                const auto down = std::lower_bound(m_below.begin(), m_below.end(), high, std::greater<>());
                if (down != m_below.end())
                    return *down >= low ? *down : npos;
            }
            if (m_low == 0 || m_low <= low)
                return npos;
            const std::size_t bottom = m_low > step ? m_low - step : 0;
            scanInto(bottom, m_low, scratch, [&](std::size_t q) { m_below.push_back(q); }, true);
            m_low = bottom;
        }
    }

    static constexpr std::size_t npos = std::size_t(-1);

private:
    template<typename Add>
    void scanInto(std::size_t begin, std::size_t end, std::size_t *scratch, Add add, bool descending)
    {
        const std::size_t n = m_filter.scan(m_area, m_end, begin, end, scratch);
        const std::size_t f = std::size_t(m_footer.size());
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t q = scratch[descending ? n - 1 - i : i];
            if (f <= m_end - q && std::memcmp(m_area + q, m_footer.constData(), f) == 0)
                add(q);
        }
    }

    const std::uint8_t *m_area;
    std::size_t m_end;
    const QByteArray &m_footer;
    const PairFilter &m_filter;
    bool m_started = false;
    std::size_t m_low = 0;              // the stretch is [m_low, m_high)
    std::size_t m_high = 0;
    std::vector<std::size_t> m_above;   // found growing up, ascending
    std::vector<std::size_t> m_below;   // found growing down, descending
};

PairFilter::Anchor anchorOf(const QByteArray &bytes)
{
    PairFilter::Anchor anchor;
    anchor.first = std::uint8_t(bytes[0]);
    if (bytes.size() >= 2)
        anchor.second = std::uint8_t(bytes[1]);
    return anchor;
}
} // namespace

CarveEngine::CarveEngine(const QList<FileSignature> &signatures)
    : m_pairGroups(65536, 0), m_filter(std::vector<PairFilter::Anchor>{}), m_memoFilter(std::vector<PairFilter::Anchor>{})
{
    // Members of each group in signature order, keyed by anchor and offset.
    struct Key {
        int first;
        int second;   // -1: one-byte anchor
        std::size_t offset;
        bool operator<(const Key &o) const { return std::tie(first, second, offset) < std::tie(o.first, o.second, o.offset); }
    };
    std::map<Key, std::vector<Entry>> members;
    std::vector<PairFilter::Anchor> anchors;
    for (int s = 0; s < signatures.size(); ++s) {
        const FileSignature &sig = signatures[s];
        Prepared prepared;
        prepared.header = sig.header;
        // A promise only counts when the validator exists to keep it and can
        // see the promised bytes.
        const bool promiseUsable = sig.validator && !sig.requiredBytes.isEmpty() && sig.requiredOffset >= 0
            && std::size_t(sig.requiredOffset) + std::size_t(sig.requiredBytes.size()) <= validatorView;
        if (promiseUsable && isWeakAnchor(sig.header) && !isWeakAnchor(sig.requiredBytes)) {
            prepared.hint = sig.requiredBytes;
            prepared.hintOffset = std::size_t(sig.requiredOffset);
        }
        if (sig.footer && !sig.footer->isEmpty()) {
            const auto it = std::find_if(m_footers.begin(), m_footers.end(),
                                         [&](const Footer &f) { return f.bytes == *sig.footer; });
            if (it != m_footers.end()) {
                prepared.footer = int(it - m_footers.begin());
            } else {
                prepared.footer = int(m_footers.size());
                m_footers.push_back(Footer{*sig.footer, PairFilter({anchorOf(*sig.footer)})});
            }
        }

        const QByteArray &anchorBytes = prepared.hint.isEmpty() ? sig.header : prepared.hint;
        if (anchorBytes.isEmpty()) {
            // An empty header matches everywhere; such a row gets every position.
            m_everywhere.push_back(s);
        } else {
            std::uint8_t pattern[16] = {};
            std::uint8_t mask[16] = {};
            bool complete = true;
            const auto place = [&](std::size_t at, const QByteArray &bytes) {
                for (std::size_t i = 0; i < std::size_t(bytes.size()); ++i) {
                    if (at + i >= 16) {
                        complete = false;
                        break;
                    }
                    pattern[at + i] = std::uint8_t(bytes[qsizetype(i)]);
                    mask[at + i] = 0xFF;
                }
            };
            place(0, sig.header);
            if (!prepared.hint.isEmpty())
                place(prepared.hintOffset, prepared.hint);
            Entry entry;
            entry.signature = s;
            entry.complete = complete;
            std::memcpy(entry.pattern.bytes, pattern, 16);
            std::memcpy(entry.pattern.mask, mask, 16);

            const PairFilter::Anchor anchor = anchorOf(anchorBytes);
            const std::size_t offset = prepared.hint.isEmpty() ? 0 : prepared.hintOffset;
            members[Key{anchor.first, anchor.second ? int(*anchor.second) : -1, offset}].push_back(entry);
            anchors.push_back(anchor);
            m_maxOffset = std::max(m_maxOffset, offset);
        }
        m_prepared.push_back(std::move(prepared));
    }

    for (const auto &[key, entries] : members) {
        Group group;
        group.offset = key.offset;
        group.firstEntry = std::uint32_t(m_entries.size());
        group.entryCount = std::uint32_t(entries.size());
        // Common bytes: where every member requires the same byte.
        std::uint8_t pattern[16], mask[16], otherPattern[16], otherMask[16];
        std::memcpy(pattern, entries.front().pattern.bytes, 16);
        std::memcpy(mask, entries.front().pattern.mask, 16);
        for (const Entry &entry : entries) {
            std::memcpy(otherPattern, entry.pattern.bytes, 16);
            std::memcpy(otherMask, entry.pattern.mask, 16);
            for (int i = 0; i < 16; ++i) {
                if (!otherMask[i] || otherPattern[i] != pattern[i])
                    mask[i] = pattern[i] = 0;
            }
            m_entries.push_back(entry);
        }
        std::memcpy(group.common.bytes, pattern, 16);
        std::memcpy(group.common.mask, mask, 16);
        std::uint32_t &head = key.second < 0 ? m_byteGroups[std::size_t(key.first)]
                                               : m_pairGroups[std::size_t(key.first | (key.second << 8))];
        group.next = head;
        m_groups.push_back(group);
        head = std::uint32_t(m_groups.size());
    }
    m_filter = PairFilter(anchors);
    // A footer that starts with a zero byte (GIF's 00 3B) stays out of the
    // memo: as an anchor it would make the pass classify every zero run,
    // the most common content of a disk, instead of skipping it.
    for (Footer &footer : m_footers) {
        const std::size_t id = std::size_t(&footer - m_footers.data());
        footer.remembered = footer.bytes[0] != 0 && id < 64;
        if (!footer.remembered)
            continue;
        m_footerFirst[std::uint8_t(footer.bytes[0])] |= std::uint64_t(1) << id;
        anchors.push_back(anchorOf(footer.bytes));
        m_longestFooter = std::max(m_longestFooter, std::size_t(footer.bytes.size()));
    }
    m_memoFilter = PairFilter(anchors);
}

struct CarveEngine::MemoView {
    CarveFooterMemo &memo;
    const std::uint8_t *area;
    std::size_t areaSize;
    quint64 base;
    std::size_t coverEnd;   // positions below it have a pair and every footer inside the area
};

void CarveEngine::adoptMemo(CarveFooterMemo &memo, quint64 base) const
{
    if (memo.m_engine != this || base < memo.m_base) {
        memo.m_engine = this;
        memo.m_blocks.clear();
        memo.m_spare.clear();
        memo.m_answers.clear();
    }
    memo.m_answers.resize(m_footers.size());
    memo.m_base = base;
    while (!memo.m_blocks.empty() && (memo.m_firstBlock + 1) * memoBlockSize <= base) {
        // Kept for its lists' room: a scan passes through thousands of blocks.
        CarveFooterMemo::Block &spare = memo.m_spare.emplace_back(std::move(memo.m_blocks.front()));
        spare.from = spare.to = 0;
        memo.m_blocks.pop_front();
        ++memo.m_firstBlock;
    }
    if (memo.m_scratch.empty())
        memo.m_scratch.resize(memoBlockSize + PairFilter::outputSlack);
}

CarveFooterMemo::Block *CarveEngine::memoBlock(const MemoView &view, quint64 at, std::uint32_t needFrom,
                                               std::uint32_t needTo) const
{
    CarveFooterMemo &memo = view.memo;
    const quint64 b = at / memoBlockSize;
    const quint64 blockStart = b * memoBlockSize;
    if (memo.m_blocks.empty())
        memo.m_firstBlock = b;
    const auto fresh = [&memo] {
        CarveFooterMemo::Block block;
        if (!memo.m_spare.empty()) {
            block = std::move(memo.m_spare.back());
            memo.m_spare.pop_back();
        }
        return block;
    };
    while (b < memo.m_firstBlock) {
        memo.m_blocks.push_front(fresh());
        --memo.m_firstBlock;
    }
    while (b >= memo.m_firstBlock + memo.m_blocks.size())
        memo.m_blocks.push_back(fresh());
    CarveFooterMemo::Block &block = memo.m_blocks[std::size_t(b - memo.m_firstBlock)];
    if (block.from <= needFrom && needTo <= block.to)
        return &block;

    // Classify all of the block that this call's bytes settle.
    const quint64 coverEnd = view.base + view.coverEnd;
    if (coverEnd <= blockStart)
        return nullptr;
    const auto from = std::uint32_t(std::max(blockStart, view.base) - blockStart);
    const auto to = std::uint32_t(std::min(blockStart + memoBlockSize, coverEnd) - blockStart);
    if (needFrom < from || needTo > to)
        return nullptr;
    const std::size_t begin = std::size_t(blockStart + from - view.base);
    const std::size_t n = m_memoFilter.scan(view.area, view.areaSize, begin, begin + (to - from), memo.m_scratch.data());
    memo.m_searched += to - from;

    // The new stretch replaces the old one. It reaches further up (that is
    // why the block is classified again) and starts no lower, and what it
    // no longer holds lies below this call's base, where no later call of
    // the memo looks.
    block.footers.resize(m_footers.size());
    for (std::vector<std::uint32_t> &list : block.footers)
        list.clear();
    const auto relative = [&](std::size_t x) { return std::uint32_t(view.base + x - blockStart); };
    // A flag is kept only while some group anchored there may still match:
    // most flags are the prefilter's blur, and a later call then need not
    // touch their bytes again, long after they left the cache. A group that
    // misses the bytes every member requires yields nothing in any call,
    // since each call sees the same bytes there (a header cut by a call's
    // buffer only matches less). Where those bytes are not all in the area,
    // the flag stays.
    const auto mayMatch = [&](std::size_t x, std::uint32_t groupIndex) {
        for (; groupIndex; groupIndex = m_groups[groupIndex - 1].next) {
            const Group &group = m_groups[groupIndex - 1];
            if (x < group.offset || view.areaSize - (x - group.offset) < 16)
                return true;
            std::uint64_t word[2];
            std::memcpy(word, view.area + (x - group.offset), 16);
            if (!group.common.misses(word))
                return true;
        }
        return false;
    };
    block.flags.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t q = memo.m_scratch[i];
        const std::uint8_t b0 = view.area[q];
        if (mayMatch(q, m_pairGroups[std::size_t(b0 | (view.area[q + 1] << 8))]) || mayMatch(q, m_byteGroups[b0]))
            block.flags.push_back(relative(q));
        for (std::uint64_t ids = m_footerFirst[view.area[q]]; ids; ids &= ids - 1) {
            const auto id = std::size_t(std::countr_zero(ids));
            if (bytesAt(view.area, view.areaSize, q, m_footers[id].bytes))
                block.footers[id].push_back(relative(q));
        }
    }
    block.from = from;
    block.to = to;
    return &block;
}

bool CarveEngine::memoLastFooter(const MemoView &view, int footerId, std::size_t low, std::size_t high,
                                 std::size_t &found) const
{
    if (!m_footers[std::size_t(footerId)].remembered)
        return false;
    // Candidates come in increasing order and their windows mostly overlap
    // the last one's: data with a header every few bytes and no footer would
    // otherwise walk back through the whole window for each of them. The
    // last answer holds for the part of the new range it covered; only the
    // rest is searched.
    CarveFooterMemo::Answer &last = view.memo.m_answers[std::size_t(footerId)];
    const quint64 lo = view.base + low;
    const quint64 hi = view.base + high;
    if (last.valid && lo >= last.lo && hi >= last.hi) {
        std::size_t q = FooterIndex::npos;
        if (hi > last.hi && !memoSearchFooter(view, footerId, std::size_t(std::max(lo, last.hi + 1) - view.base), high, q))
            return false;
        const quint64 at = q != FooterIndex::npos ? view.base + q
            : last.found != CarveFooterMemo::Answer::none && last.found >= lo ? last.found
                                                                               : CarveFooterMemo::Answer::none;
        last = {true, lo, hi, at};
        found = at == CarveFooterMemo::Answer::none ? FooterIndex::npos : std::size_t(at - view.base);
        return true;
    }
    if (!memoSearchFooter(view, footerId, low, high, found))
        return false;
    last = {true, lo, hi, found == FooterIndex::npos ? CarveFooterMemo::Answer::none : view.base + found};
    return true;
}

bool CarveEngine::memoSearchFooter(const MemoView &view, int footerId, std::size_t low, std::size_t high,
                                   std::size_t &found) const
{
    const quint64 lo = view.base + low;
    quint64 cursor = view.base + high;
    for (;;) {
        const quint64 blockStart = cursor / memoBlockSize * memoBlockSize;
        const quint64 needLow = std::max(lo, blockStart);
        const auto needFrom = std::uint32_t(needLow - blockStart);
        const auto needTo = std::uint32_t(cursor + 1 - blockStart);
        const CarveFooterMemo::Block *block = memoBlock(view, cursor, needFrom, needTo);
        if (!block)
            return false;
        const std::vector<std::uint32_t> &positions = block->footers[std::size_t(footerId)];
        const auto up = std::lower_bound(positions.begin(), positions.end(), needTo);
        if (up != positions.begin() && *(up - 1) >= needFrom) {
            found = std::size_t(blockStart + *(up - 1) - view.base);
            return true;
        }
        if (needLow == lo) {
            found = FooterIndex::npos;
            return true;
        }
        cursor = blockStart - 1;
    }
}

bool CarveEngine::memoFlags(const MemoView &view, std::size_t begin, std::size_t end, std::size_t *out,
                            std::size_t &count) const
{
    count = 0;
    quint64 at = view.base + begin;
    const quint64 stop = view.base + end;
    while (at < stop) {
        const quint64 blockStart = at / memoBlockSize * memoBlockSize;
        const auto needFrom = std::uint32_t(at - blockStart);
        const auto needTo = std::uint32_t(std::min(stop, blockStart + memoBlockSize) - blockStart);
        // Only what a footer search classified already: bytes no search
        // reached (most of them where footers are found near each window's
        // end, or hits are few) go through the plain pass, at no cost of
        // keeping their flags.
        const quint64 b = blockStart / memoBlockSize;
        CarveFooterMemo &memo = view.memo;
        if (b < memo.m_firstBlock || b >= memo.m_firstBlock + memo.m_blocks.size())
            return false;
        const CarveFooterMemo::Block *block = &memo.m_blocks[std::size_t(b - memo.m_firstBlock)];
        if (block->from > needFrom || block->to < needTo)
            return false;
        const auto first = std::lower_bound(block->flags.begin(), block->flags.end(), needFrom);
        for (auto it = first; it != block->flags.end() && *it < needTo; ++it)
            out[count++] = std::size_t(blockStart + *it - view.base);
        at = blockStart + needTo;
    }
    return true;
}

void CarveEngine::carve(const QList<FileSignature> &signatures, const CarveInput &input,
                        const std::function<void(const CarveHit &)> &deliver) const
{
    const std::span<const std::uint8_t> buffer = input.buffer;
    const std::span<const std::uint8_t> area = input.area.empty() ? buffer : input.area;
    const std::size_t windowEnd = std::min(input.windowEnd, area.size());
    const std::size_t scanLength = std::min(input.scanLength, buffer.size());
    if (scanLength == 0 || signatures.isEmpty())
        return;

    const std::uint8_t *data = buffer.data();
    const std::size_t size = buffer.size();
    // Small buffers (the head of a file, a short chunk) get a small scratch.
    const std::size_t step = std::max<std::size_t>(1, std::min(blockSize, std::max(size, windowEnd)));
    const std::unique_ptr<std::size_t[]> flagged(new std::size_t[step + PairFilter::outputSlack]);
    std::vector<Candidate> pending;
    std::vector<std::unique_ptr<FooterIndex>> footerIndexes(m_footers.size());
    // The memo's flags come from the area, which holds the buffer's bytes
    // and more; positions whose pair or footers run past it are left to this
    // call alone.
    std::optional<MemoView> memo;
    if (input.footerMemo) {
        adoptMemo(*input.footerMemo, input.baseOffset);
        const std::size_t reserve = std::max<std::size_t>(1, m_longestFooter);
        memo.emplace(MemoView{*input.footerMemo, area.data(), area.size(), input.baseOffset,
                              area.size() > reserve ? area.size() - reserve : 0});
    }

    const auto finish = [&](const Candidate &c) {
        const FileSignature &sig = signatures[c.signature];
        const std::size_t p = c.position;
        if (sig.validator && !sig.validator(buffer.subspan(p, std::min(validatorView, size - p))))
            return;
        if (p >= windowEnd || sig.maxFileSize <= 0)
            return;
        const std::size_t k = std::min({std::size_t(sig.maxFileSize), input.windowCap, windowEnd - p});
        if (k == 0)
            return;
        const std::size_t h = std::size_t(sig.header.size());
        std::size_t end = k;
        CarvedFileHealth health = CarvedFileHealth::partial;
        const int footerId = m_prepared[std::size_t(c.signature)].footer;
        if (footerId >= 0) {
            const std::size_t f = std::size_t(m_footers[std::size_t(footerId)].bytes.size());
            if (k >= f && k - f >= h) {
                std::size_t q;
                if (!memo || !memoLastFooter(*memo, footerId, p + h, p + k - f, q)) {
                    std::unique_ptr<FooterIndex> &index = footerIndexes[std::size_t(footerId)];
                    if (!index)
                        index = std::make_unique<FooterIndex>(area.data(), windowEnd,
                                                              m_footers[std::size_t(footerId)].bytes,
                                                              m_footers[std::size_t(footerId)].filter);
                    q = index->lastIn(p + h, p + k - f, flagged.get(), step);
                }
                if (q != FooterIndex::npos) {
                    end = q - p + f;
                    health = CarvedFileHealth::good;
                }
            }
        }
        if (end <= h + 10)
            return;
        deliver(CarveHit{p, c.signature, qint64(end), health});
    };

    // Turns the groups of the anchor at x into exact candidates.
    const auto collect = [&](std::size_t x, std::uint32_t groupIndex) {
        while (groupIndex) {
            const Group &group = m_groups[groupIndex - 1];
            groupIndex = group.next;
            if (x < group.offset)
                continue;
            const std::size_t p = x - group.offset;
            if (p >= scanLength)
                continue;
            const bool wide = size - p >= 16;
            std::uint64_t word[2] = {0, 0};
            if (wide) {
                std::memcpy(word, data + p, 16);
                if (group.common.misses(word))
                    continue;
            }
            for (std::uint32_t e = group.firstEntry; e < group.firstEntry + group.entryCount; ++e) {
                const Entry &entry = m_entries[e];
                if (wide && entry.complete) {
                    if (entry.pattern.misses(word))
                        continue;
                } else {
                    const Prepared &prepared = m_prepared[std::size_t(entry.signature)];
                    if (!bytesAt(data, size, p, prepared.header))
                        continue;
                    if (!prepared.hint.isEmpty() && !bytesAt(data, size, p + prepared.hintOffset, prepared.hint))
                        continue;
                }
                pending.push_back({p, entry.signature});
            }
        }
    };

    // The flag buffer doubles as scratch for footer index growth, which only
    // happens while candidates are released, after the flags are consumed.
    // Anchors of positions below scanLength lie below scanLength + the largest
    // offset; every candidate position is therefore visited as some x.
    const std::size_t xEnd = std::min(size, scanLength + m_maxOffset);
    for (std::size_t x0 = 0; x0 < xEnd; x0 += step) {
        const std::size_t x1 = std::min(x0 + step, xEnd);
        std::size_t n;
        if (!memo || !memoFlags(*memo, x0, x1, flagged.get(), n))
            n = m_filter.scan(data, size, x0, x1, flagged.get());
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t x = flagged[i];
            const std::uint8_t b0 = data[x];
            if (x + 1 < size)
                collect(x, m_pairGroups[std::size_t(b0 | (data[x + 1] << 8))]);
            collect(x, m_byteGroups[b0]);
        }
        for (int s : m_everywhere) {
            for (std::size_t p = x0; p < std::min(x1, scanLength); ++p)
                pending.push_back({p, s});
        }
        if (pending.empty())
            continue;
        if (!std::is_sorted(pending.begin(), pending.end()))
            std::sort(pending.begin(), pending.end());
        const bool last = x1 == xEnd;
        const std::size_t release = last ? std::size_t(-1) : (x1 > m_maxOffset ? x1 - m_maxOffset : 0);
        std::size_t done = 0;
        while (done < pending.size() && pending[done].position < release)
            finish(pending[done++]);
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(done));
    }
}
