#include "carvescan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <map>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUORVEL_HAVE_X86 1
#endif

namespace {
constexpr int bucketCount = 8;

// The bytes a set of nibble bits lets through: |low nibbles| x |high nibbles|.
struct NibbleSet {
    std::uint16_t lo = 0;
    std::uint16_t hi = 0;
    void add(std::uint8_t byte)
    {
        lo |= std::uint16_t(1u << (byte & 15));
        hi |= std::uint16_t(1u << (byte >> 4));
    }
    void addAll() { lo = hi = 0xFFFF; }
    NibbleSet merged(const NibbleSet &o) const { return {std::uint16_t(lo | o.lo), std::uint16_t(hi | o.hi)}; }
    int width() const { return std::popcount(lo) * std::popcount(hi); }
};

struct Bucket {
    NibbleSet first;
    NibbleSet second;
    bool used = false;
    int cost() const { return used ? first.width() * second.width() : 0; }
};

std::atomic<int> forcedPath{-1};   // -1: the best the CPU offers

#ifdef QUORVEL_HAVE_X86
bool cpuHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi")
        && __builtin_cpu_supports("popcnt");
    return has;
}

bool cpuHasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return has;
}

// Writes the set bits of `bits` as x + bit into out[n...] and returns their
// count. Four are written whatever the count, so that the usual zero or one
// takes no data-dependent branch: text flags often enough to make such a
// branch mispredict half the time, which cost more than the block's scan.
template<typename Bits>
__attribute__((always_inline)) inline std::size_t writeFlags(Bits bits, std::size_t x, std::size_t *out)
{
    const int found = std::popcount(bits);
    for (int i = 0; i < 4; ++i) {
        out[i] = x + std::size_t(std::countr_zero(bits));
        bits &= bits - 1;
    }
    if (found > 4) [[unlikely]] {
        std::size_t m = 4;
        while (bits) {
            out[m++] = x + std::size_t(std::countr_zero(bits));
            bits &= bits - 1;
        }
    }
    return std::size_t(found);
}

__attribute__((target("ssse3"))) inline __m128i classify128(__m128i first, __m128i second, __m128i lo1, __m128i hi1,
                                                             __m128i lo2, __m128i hi2, __m128i nibble)
{
    const __m128i a = _mm_and_si128(_mm_shuffle_epi8(lo1, _mm_and_si128(first, nibble)),
                                    _mm_shuffle_epi8(hi1, _mm_and_si128(_mm_srli_epi16(first, 4), nibble)));
    const __m128i b = _mm_and_si128(_mm_shuffle_epi8(lo2, _mm_and_si128(second, nibble)),
                                    _mm_shuffle_epi8(hi2, _mm_and_si128(_mm_srli_epi16(second, 4), nibble)));
    return _mm_and_si128(a, b);
}

// The 16-byte form of scanAvx2 below, for x86 processors without AVX2.
__attribute__((target("ssse3,popcnt"))) std::size_t scanSsse3(const std::uint8_t *tables, bool skipZeros,
                                                              const std::uint8_t *data, std::size_t size,
                                                              std::size_t x, std::size_t end, std::size_t *out,
                                                              std::size_t *count)
{
    const __m128i lo1 = _mm_load_si128(reinterpret_cast<const __m128i *>(tables));
    const __m128i hi1 = _mm_load_si128(reinterpret_cast<const __m128i *>(tables + 16));
    const __m128i lo2 = _mm_load_si128(reinterpret_cast<const __m128i *>(tables + 32));
    const __m128i hi2 = _mm_load_si128(reinterpret_cast<const __m128i *>(tables + 48));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i zero = _mm_setzero_si128();
    std::size_t n = *count;
    while (x + 32 <= end && x + 33 <= size) {
        const std::uint8_t *p = data + x;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
        if (skipZeros && _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(a0, a1), zero)) == 0xFFFF) {
            x += 32;
            continue;
        }
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 17));
        const __m128i m0 = classify128(a0, b0, lo1, hi1, lo2, hi2, nibble);
        const __m128i m1 = classify128(a1, b1, lo1, hi1, lo2, hi2, nibble);
        const std::uint32_t z0 = std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(m0, zero)));
        const std::uint32_t z1 = std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(m1, zero)));
        n += writeFlags(std::uint32_t(~(z0 | (z1 << 16))), x, out + n);
        x += 32;
    }
    *count = n;
    return x;
}

__attribute__((target("avx2"))) inline __m256i classify(__m256i first, __m256i second, __m256i lo1, __m256i hi1,
                                                         __m256i lo2, __m256i hi2, __m256i nibble)
{
    const __m256i a = _mm256_and_si256(_mm256_shuffle_epi8(lo1, _mm256_and_si256(first, nibble)),
                                       _mm256_shuffle_epi8(hi1, _mm256_and_si256(_mm256_srli_epi16(first, 4), nibble)));
    const __m256i b = _mm256_and_si256(_mm256_shuffle_epi8(lo2, _mm256_and_si256(second, nibble)),
                                       _mm256_shuffle_epi8(hi2, _mm256_and_si256(_mm256_srli_epi16(second, 4), nibble)));
    return _mm256_and_si256(a, b);
}

// Handles x while x + 64 <= end and x + 65 <= size (both loads of the pair in
// range); returns the first x it did not handle.
// With `skipZeros` (a zero byte begins no anchor), 64 zero bytes are passed
// over after one test, so zero-filled space costs little more than reading it.
__attribute__((target("avx2,bmi,popcnt"))) std::size_t scanAvx2(const std::uint8_t *tables, bool skipZeros,
                                                     const std::uint8_t *data, std::size_t size, std::size_t x,
                                                     std::size_t end, std::size_t *out, std::size_t *count)
{
    const __m256i lo1 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(tables)));
    const __m256i hi1 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(tables + 16)));
    const __m256i lo2 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(tables + 32)));
    const __m256i hi2 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(tables + 48)));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    std::size_t n = *count;
    while (x + 64 <= end && x + 65 <= size) {
        const std::uint8_t *p = data + x;
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        if (skipZeros && _mm256_testz_si256(_mm256_or_si256(a0, a1), _mm256_or_si256(a0, a1))) {
            x += 64;
            continue;
        }
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 1));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 33));
        const __m256i m0 = classify(a0, b0, lo1, hi1, lo2, hi2, nibble);
        const __m256i m1 = classify(a1, b1, lo1, hi1, lo2, hi2, nibble);
        const std::uint64_t z0 = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(m0, zero)));
        const std::uint64_t z1 = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(m1, zero)));
        n += writeFlags(~(z0 | (z1 << 32)), x, out + n);
        x += 64;
    }
    *count = n;
    return x;
}
#endif
} // namespace

PairFilter::PairFilter(const std::vector<Anchor> &anchors)
{
    // One group per first byte: the seconds that may follow it.
    std::map<std::uint8_t, NibbleSet> groups;
    for (const Anchor &anchor : anchors) {
        NibbleSet &second = groups[anchor.first];
        if (anchor.second)
            second.add(*anchor.second);
        else
            second.addAll();
    }
    m_empty = groups.empty();

    // Greedy placement: each group goes to the bucket it widens least. Wide
    // groups (any second byte) go first so that they get buckets of their own.
    std::vector<std::pair<std::uint8_t, NibbleSet>> order(groups.begin(), groups.end());
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &a, const auto &b) { return a.second.width() > b.second.width(); });
    std::array<Bucket, bucketCount> buckets{};
    for (const auto &[firstByte, seconds] : order) {
        NibbleSet first;
        first.add(firstByte);
        int best = 0;
        int bestIncrease = -1;
        for (int i = 0; i < bucketCount; ++i) {
            Bucket candidate = buckets[i];
            candidate.first = candidate.used ? candidate.first.merged(first) : first;
            candidate.second = candidate.used ? candidate.second.merged(seconds) : seconds;
            candidate.used = true;
            const int increase = candidate.cost() - buckets[i].cost();
            if (bestIncrease < 0 || increase < bestIncrease) {
                bestIncrease = increase;
                best = i;
            }
        }
        Bucket &bucket = buckets[best];
        bucket.first = bucket.used ? bucket.first.merged(first) : first;
        bucket.second = bucket.used ? bucket.second.merged(seconds) : seconds;
        bucket.used = true;
    }

    for (int i = 0; i < bucketCount; ++i) {
        if (!buckets[i].used)
            continue;
        const std::uint8_t bit = std::uint8_t(1u << i);
        for (int nib = 0; nib < 16; ++nib) {
            if (buckets[i].first.lo & (1u << nib))
                m_tables[nib] |= bit;
            if (buckets[i].first.hi & (1u << nib))
                m_tables[16 + nib] |= bit;
            if (buckets[i].second.lo & (1u << nib))
                m_tables[32 + nib] |= bit;
            if (buckets[i].second.hi & (1u << nib))
                m_tables[48 + nib] |= bit;
        }
    }
    for (int c = 0; c < 256; ++c) {
        m_first[c] = m_tables[c & 15] & m_tables[16 + (c >> 4)];
        m_second[c] = m_tables[32 + (c & 15)] & m_tables[48 + (c >> 4)];
    }
}

std::size_t PairFilter::scanScalar(const std::uint8_t *data, std::size_t size, std::size_t begin, std::size_t end,
                                   std::size_t *out) const
{
    std::size_t n = 0;
    end = std::min(end, size);
    std::size_t x = begin;
    const std::size_t pairEnd = std::min(end, size - (size > 0 ? 1 : 0));
    const bool skipZeros = m_first[0] == 0;
    while (x < pairEnd) {
        // Eight zero bytes at once where a zero begins no anchor.
        if (skipZeros && x + 8 <= pairEnd) {
            std::uint64_t word;
            std::memcpy(&word, data + x, 8);
            if (word == 0) {
                x += 8;
                continue;
            }
        }
        // Branch-free: the position is always written and kept only when
        // flagged, as text flags too often for a branch to predict.
        const std::size_t stop = std::min(pairEnd, x + 8);
        for (; x < stop; ++x) {
            out[n] = x;
            n += (m_first[data[x]] & m_second[data[x + 1]]) != 0;
        }
    }
    // The last byte has no successor: flag it on its first byte alone.
    for (; x < end; ++x) {
        if (m_first[data[x]])
            out[n++] = x;
    }
    return n;
}

std::size_t PairFilter::scan(const std::uint8_t *data, std::size_t size, std::size_t begin, std::size_t end,
                             std::size_t *out) const
{
    end = std::min(end, size);
    if (m_empty || begin >= end)
        return 0;
    std::size_t n = 0;
    std::size_t x = begin;
#ifdef QUORVEL_HAVE_X86
    switch (pairFilterPath()) {
    case PairFilterPath::avx2:
        x = scanAvx2(m_tables, m_first[0] == 0, data, size, x, end, out, &n);
        break;
    case PairFilterPath::ssse3:
        x = scanSsse3(m_tables, m_first[0] == 0, data, size, x, end, out, &n);
        break;
    case PairFilterPath::portable:
        break;
    }
#endif
    return n + scanScalar(data, size, x, end, out + n);
}

namespace {
bool supported(PairFilterPath path)
{
    switch (path) {
    case PairFilterPath::portable:
        return true;
#ifdef QUORVEL_HAVE_X86
    case PairFilterPath::ssse3:
        return cpuHasSsse3();
    case PairFilterPath::avx2:
        return cpuHasAvx2();
#else
    default:
        return false;
#endif
    }
    return false;
}
} // namespace

PairFilterPath pairFilterPath()
{
    const int forced = forcedPath.load(std::memory_order_relaxed);
    if (forced >= 0)
        return PairFilterPath(forced);
    static const PairFilterPath best = supported(PairFilterPath::avx2) ? PairFilterPath::avx2
        : supported(PairFilterPath::ssse3)                             ? PairFilterPath::ssse3
                                                                       : PairFilterPath::portable;
    return best;
}

bool setPairFilterPath(std::optional<PairFilterPath> path)
{
    if (path && !supported(*path))
        return false;
    forcedPath.store(path ? int(*path) : -1, std::memory_order_relaxed);
    return true;
}

const char *pairFilterPathName(PairFilterPath path)
{
    switch (path) {
    case PairFilterPath::portable:
        return "portable";
    case PairFilterPath::ssse3:
        return "SSSE3";
    case PairFilterPath::avx2:
        return "AVX2";
    }
    return "?";
}
