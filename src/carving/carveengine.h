#pragma once

#include <QByteArray>
#include <QList>

#include <array>
#include <cstddef>
#include <cstdint>
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
//   positions, one per distinct footer, built lazily from the end of the
//   window area downwards during one carve call and binary-searched per hit.
//   Windows of one call end at or near the same place, so the index rarely
//   grows beyond the distance to the last footer, and the cost of a call is at
//   most one extra pass over the area per footer, however many hits share it.
class CarveEngine
{
public:
    explicit CarveEngine(const QList<FileSignature> &signatures);

    void carve(const QList<FileSignature> &signatures, const CarveInput &input,
               const std::function<void(const CarveHit &)> &deliver) const;

    // Largest anchor offset: how far behind the scan a position can still
    // gain a candidate. Exposed for tests.
    std::size_t maxAnchorOffset() const { return m_maxOffset; }

private:
    struct Entry {
        std::uint8_t second = 0;
        bool anySecond = false;
        std::size_t offset = 0;   // anchor offset from the start position
        int signature = 0;
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
    };

    std::vector<Prepared> m_prepared;
    std::vector<Entry> m_entries;                  // grouped by the anchor's first byte
    std::array<std::uint32_t, 257> m_entryStart{}; // m_entries range of each first byte
    std::vector<int> m_everywhere;                 // signatures with an empty header
    std::vector<Footer> m_footers;
    PairFilter m_filter;
    std::size_t m_maxOffset = 0;
};
