#include "carveengine.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "carver.h"

namespace {
// Positions flagged per scan call; also the granularity at which candidates
// are released and the footer index grows.
constexpr std::size_t blockSize = 32 * 1024;

// The validator sees at most this many bytes, so a promise about later bytes
// could never be checked by it and is not used.
constexpr std::size_t validatorView = 16;

// Two equal leading bytes (or a single one) match inside every run of that
// byte value, which raw disks are full of.
bool isWeakAnchor(const QByteArray &bytes)
{
    return bytes.size() < 2 || bytes[0] == bytes[1];
}

bool bytesAt(const std::uint8_t *data, std::size_t size, std::size_t at, const QByteArray &bytes)
{
    const std::size_t n = std::size_t(bytes.size());
    return at <= size && n <= size - at && std::memcmp(data + at, bytes.constData(), n) == 0;
}

struct Candidate {
    std::size_t position;
    int signature;
    bool operator<(const Candidate &o) const
    {
        return position != o.position ? position < o.position : signature < o.signature;
    }
};

// All footer positions at or above `covered` within [0, limit), highest first,
// extended downwards on demand. Complete for what it covers, so the highest
// entry at or below a bound is the last footer at or below that bound.
class FooterIndex
{
public:
    FooterIndex(const std::uint8_t *area, std::size_t windowEnd, const QByteArray &footer, const PairFilter &filter)
        : m_area(area), m_end(windowEnd), m_footer(footer), m_filter(filter),
          m_covered(windowEnd >= std::size_t(footer.size()) ? windowEnd - std::size_t(footer.size()) + 1 : 0)
    {
    }

    // The highest q in [low, high] with the footer at q, or npos.
    std::size_t lastIn(std::size_t low, std::size_t high, std::size_t *scratch)
    {
        for (;;) {
            if (high >= m_covered) {
                const auto it = std::lower_bound(m_matches.begin(), m_matches.end(), high, std::greater<>());
                if (it != m_matches.end())
                    return *it >= low ? *it : npos;
            }
            if (m_covered == 0 || m_covered <= low)
                return npos;
            extend(scratch);
        }
    }

    static constexpr std::size_t npos = std::size_t(-1);

private:
    void extend(std::size_t *scratch)
    {
        const std::size_t top = m_covered;
        const std::size_t bottom = top > blockSize ? top - blockSize : 0;
        const std::size_t n = m_filter.scan(m_area, m_end, bottom, top, scratch);
        const std::size_t f = std::size_t(m_footer.size());
        for (std::size_t i = n; i-- > 0;) {
            const std::size_t q = scratch[i];
            if (f <= m_end - q && std::memcmp(m_area + q, m_footer.constData(), f) == 0)
                m_matches.push_back(q);
        }
        m_covered = bottom;
    }

    const std::uint8_t *m_area;
    std::size_t m_end;
    const QByteArray &m_footer;
    const PairFilter &m_filter;
    std::size_t m_covered;
    std::vector<std::size_t> m_matches;
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
    : m_filter(std::vector<PairFilter::Anchor>{})
{
    std::vector<std::pair<std::uint8_t, Entry>> byFirst;
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
            const PairFilter::Anchor anchor = anchorOf(anchorBytes);
            Entry entry;
            entry.second = anchor.second.value_or(0);
            entry.anySecond = !anchor.second;
            entry.offset = prepared.hint.isEmpty() ? 0 : prepared.hintOffset;
            entry.signature = s;
            byFirst.emplace_back(anchor.first, entry);
            anchors.push_back(anchor);
            m_maxOffset = std::max(m_maxOffset, entry.offset);
        }
        m_prepared.push_back(std::move(prepared));
    }

    std::stable_sort(byFirst.begin(), byFirst.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::size_t i = 0;
    for (int c = 0; c < 256; ++c) {
        m_entryStart[c] = std::uint32_t(m_entries.size());
        for (; i < byFirst.size() && byFirst[i].first == c; ++i)
            m_entries.push_back(byFirst[i].second);
    }
    m_entryStart[256] = std::uint32_t(m_entries.size());
    m_filter = PairFilter(anchors);
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
    const std::unique_ptr<std::size_t[]> flagged(new std::size_t[blockSize]);
    std::vector<Candidate> pending;
    std::vector<std::unique_ptr<FooterIndex>> footerIndexes(m_footers.size());

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
                std::unique_ptr<FooterIndex> &index = footerIndexes[std::size_t(footerId)];
                if (!index)
                    index = std::make_unique<FooterIndex>(area.data(), windowEnd, m_footers[std::size_t(footerId)].bytes,
                                                          m_footers[std::size_t(footerId)].filter);
                const std::size_t q = index->lastIn(p + h, p + k - f, flagged.get());
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

    // The flag buffer doubles as scratch for footer index growth, which only
    // happens while candidates are released, after the flags are consumed.
    // Anchors of positions below scanLength lie below scanLength + the largest
    // offset; every candidate position is therefore visited as some x.
    const std::size_t xEnd = std::min(size, scanLength + m_maxOffset);
    for (std::size_t x0 = 0; x0 < xEnd; x0 += blockSize) {
        const std::size_t x1 = std::min(x0 + blockSize, xEnd);
        const std::size_t n = m_filter.scan(data, size, x0, x1, flagged.get());
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t x = flagged[i];
            const std::uint8_t b0 = data[x];
            for (std::uint32_t e = m_entryStart[b0]; e < m_entryStart[b0 + 1]; ++e) {
                const Entry &entry = m_entries[e];
                if (!entry.anySecond && (x + 1 >= size || data[x + 1] != entry.second))
                    continue;
                if (x < entry.offset)
                    continue;
                const std::size_t p = x - entry.offset;
                if (p >= scanLength)
                    continue;
                const Prepared &prepared = m_prepared[std::size_t(entry.signature)];
                if (!bytesAt(data, size, p, prepared.header))
                    continue;
                if (!prepared.hint.isEmpty() && !bytesAt(data, size, p + prepared.hintOffset, prepared.hint))
                    continue;
                pending.push_back({p, entry.signature});
            }
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
