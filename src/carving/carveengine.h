#pragma once

#include <QByteArray>
#include <QList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "carvescan.h"
#include "model/filesignature.h"

struct CarveInput;
struct CarveHit;

// The fast path behind Carver::carve. It gives exactly the hits of the plain
// definition (every position, every signature in list order, footer searched
// backwards through the whole window) at the cost of one pass over the bytes:
//
// - Candidates. Each signature gets one anchor: the first one or two bytes of
//   its header at offset 0, or, when the header starts with a run of one byte
//   value (the 00 00 00 of the ISO media rows) and the validator promises bytes
//   at a fixed offset (`requiredBytes` at `requiredOffset`), the first one or
//   two of those. Zero-filled space, the most common content of a disk, then
//   yields no candidates at all. One PairFilter pass flags positions that may
//   hold an anchor; each flag is checked against the real header (and promised
//   bytes) before it becomes a candidate. A header or a promise that would
//   reach past the buffer never matches, as in the definition.
// - Order. An anchor at offset o finds position p only when the scan reaches
//   p + o, so candidates are collected per block and released, sorted by
//   position then signature, once no later anchor can still produce a smaller
//   position (block end minus the largest anchor offset).
// - Footers. The last footer in a window is found through an index of footer
//   positions, one per distinct footer, built lazily during one carve call
//   from the first window's end (downwards until a footer turns up, upwards
//   as later windows end further on) and binary-searched per hit. Windows of
//   one call end at or near the same place, so the index rarely grows beyond
//   the distance to the last footer, and the cost of a call is at most one
//   extra pass over the area per footer, however many hits share it. The
//   index lives for one call: consecutive calls over overlapping read-ahead
//   areas would search the overlap again, so a caller that steps through a
//   source hands in a CarveFooterMemo instead (below).
// - Validators run only on exact candidates, in hit order.
class CarveEngine;

// What earlier carve calls learnt about the bytes of one source, kept by
// source offset (baseOffset + index into the area) in 32 KiB blocks. With
// 1 MiB steps and 10 MiB read-ahead windows the footer search of one step
// runs far ahead of its own bytes; without the memo the next steps would
// search the same stretch again (a footer that does not occur, a PNG end in
// random data, is looked for through the whole window).
//
// A footer search classifies a block in one pass over header and footer
// anchors and keeps the footers found and the flags where some header may
// still match; when a later step's own pass reaches the block it takes those
// flags instead of reading the bytes again. Blocks no search reached are
// classified by that pass alone and not kept. Each byte of the source thus
// goes through the prefilter about once. Footers that begin with a zero byte
// are searched per call as without a memo: as anchors they would end the
// skipping of zero runs.
//
// A scan owns one and passes it with every call (CarveInput::footerMemo). It
// stays exact as long as the calls carve one source with one Carver, in
// non-decreasing baseOffset order, and the byte at a given source offset is
// the same in every call that sees it. A call with another engine or a lower
// baseOffset starts afresh; what lies below a call's baseOffset is dropped,
// so the memo holds about one area's worth of flags.
class CarveFooterMemo
{
public:
    CarveFooterMemo() = default;
    CarveFooterMemo(const CarveFooterMemo &) = delete;
    CarveFooterMemo &operator=(const CarveFooterMemo &) = delete;

    // Start positions put through the prefilter since construction; lets
    // tests and benchmarks see that overlaps are not searched again.
    quint64 searchedBytes() const { return m_searched; }

private:
    friend class CarveEngine;
    // Source offsets in aligned blocks. Within one, the start positions
    // [from, to) have been classified, all relative to the block's start.
    struct Block {
        std::uint32_t from = 0;
        std::uint32_t to = 0;
        std::vector<std::uint32_t> flags;                  // ascending
        std::vector<std::vector<std::uint32_t>> footers;   // by footer of the engine, ascending
    };
    // The last footer found by the last search of each footer of the engine,
    // over source offsets [lo, hi].
    struct Answer {
        static constexpr quint64 none = ~quint64(0);
        bool valid = false;
        quint64 lo = 0;
        quint64 hi = 0;
        quint64 found = none;
    };
    const CarveEngine *m_engine = nullptr;
    std::vector<Answer> m_answers;
    quint64 m_base = 0;
    quint64 m_firstBlock = 0;
    std::deque<Block> m_blocks;                            // m_firstBlock, m_firstBlock + 1, ...
    std::vector<Block> m_spare;                            // dropped blocks, for reuse
    std::vector<std::size_t> m_scratch;
    quint64 m_searched = 0;
};

class CarveEngine
{
public:
    explicit CarveEngine(const QList<FileSignature> &signatures);

    void carve(const QList<FileSignature> &signatures, const CarveInput &input,
               const std::function<void(const CarveHit &)> &deliver) const;

private:
    // A masked 16-byte pattern from a start position: the header and
    // promised bytes that lie in the first 16 bytes.
    struct Pattern {
        std::uint64_t bytes[2] = {0, 0};
        std::uint64_t mask[2] = {0, 0};
        bool misses(const std::uint64_t word[2]) const
        {
            return ((word[0] & mask[0]) ^ bytes[0]) | ((word[1] & mask[1]) ^ bytes[1]);
        }
    };
    struct Entry {
        int signature = 0;
        Pattern pattern;
        bool complete = false;    // the pattern is the whole header and promise
    };
    // The signatures that share one anchor (its bytes and offset), with the
    // bytes all of them require: text and noise hit anchors often, and one
    // compare then turns most of them away.
    struct Group {
        std::size_t offset = 0;
        Pattern common;
        std::uint32_t firstEntry = 0;
        std::uint32_t entryCount = 0;
        std::uint32_t next = 0;   // 1-based: another group with the same anchor bytes
    };
    struct Prepared {
        QByteArray header;
        QByteArray hint;          // promised bytes used as the anchor, or empty
        std::size_t hintOffset = 0;
        int footer = -1;          // index into m_footers
    };
    struct Footer {
        QByteArray bytes;
        PairFilter filter;
        bool remembered = false;   // found through the memo's pass
    };

    struct MemoView;
    // Prepares `memo` for a call at `base`: starts afresh or drops what lies below.
    void adoptMemo(CarveFooterMemo &memo, quint64 base) const;
    // The memo's block holding source offset `at`, classified at least over
    // [needFrom, needTo) (relative to the block); null when the call's bytes
    // cannot settle all of that.
    CarveFooterMemo::Block *memoBlock(const MemoView &view, quint64 at, std::uint32_t needFrom,
                                      std::uint32_t needTo) const;
    // The last footer `footerId` at a start position in [low, high] of the
    // call, or npos, into `found`; false when the memo cannot tell.
    bool memoLastFooter(const MemoView &view, int footerId, std::size_t low, std::size_t high,
                        std::size_t &found) const;
    // The same, through the blocks alone.
    bool memoSearchFooter(const MemoView &view, int footerId, std::size_t low, std::size_t high,
                          std::size_t &found) const;
    // The prefilter flags in [begin, end) of the call; false when the memo
    // cannot tell.
    bool memoFlags(const MemoView &view, std::size_t begin, std::size_t end, std::size_t *out, std::size_t &count) const;

    std::vector<Prepared> m_prepared;
    std::vector<Entry> m_entries;                  // by group, in signature order
    std::vector<Group> m_groups;
    std::vector<std::uint32_t> m_pairGroups;       // 1-based group of a two-byte anchor, by first | second << 8
    std::array<std::uint32_t, 256> m_byteGroups{}; // 1-based group of a one-byte anchor
    std::vector<int> m_everywhere;                 // signatures with an empty header
    std::vector<Footer> m_footers;
    PairFilter m_filter;
    PairFilter m_memoFilter;                       // header and footer anchors in one pass
    std::array<std::uint64_t, 256> m_footerFirst{};  // remembered footers by first byte, as bits
    std::size_t m_longestFooter = 0;
    std::size_t m_maxOffset = 0;
};
