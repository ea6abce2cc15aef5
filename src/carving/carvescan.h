#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The byte-pair prefilter behind the carving engine: one pass over the bytes
// that flags every position x whose byte pair (b[x], b[x+1]) may begin one of a
// set of anchors, each anchor being a first byte and either a fixed second
// byte or any second byte.
//
// It is a "shufti" classifier. Anchors are spread over eight buckets; a byte is
// mapped to the buckets it may begin (or continue) through two 16-entry tables
// indexed by its low and high nibble, so one 32-byte vector is classified with
// four table shuffles. Nibble tables blur each bucket into the cross product of
// its nibbles, so a flag is only a candidate: callers check the real bytes.
// What the filter never does is miss an anchor, and that is all the engine's
// exactness rests on. For the full catalogue random bytes raise about one
// flag per 2 KiB, and a byte in no bucket, such as the zero of a long zero
// run, costs nothing but the pass itself.
//
// A filter built from a single anchor is exact, which the footer index uses.
class PairFilter
{
public:
    struct Anchor {
        std::uint8_t first = 0;
        std::optional<std::uint8_t> second;   // nullopt: any byte, or none at all
    };

    explicit PairFilter(const std::vector<Anchor> &anchors);

    bool isEmpty() const { return m_empty; }

    // Extra entries `out` must have room for: the vector path writes a few
    // positions past the last one found rather than branch on their count.
    static constexpr std::size_t outputSlack = 4;

    // Writes into `out` (room for end - begin + outputSlack entries) every flagged x in
    // [begin, end), ascending, and returns how many. Reads bytes [begin, end]
    // but never data[size] or beyond: at x = size - 1 only the first byte is
    // classified, so anchors with any second byte are still found there.
    std::size_t scan(const std::uint8_t *data, std::size_t size, std::size_t begin, std::size_t end,
                     std::size_t *out) const;

    // Portable path, also used for the tail of the vector path. Public so that
    // tests can hold it against the vector path.
    std::size_t scanScalar(const std::uint8_t *data, std::size_t size, std::size_t begin, std::size_t end,
                           std::size_t *out) const;

private:
    // Four 16-entry nibble tables back to back, for one aligned load each:
    // low and high nibble of the first byte, then of the second byte.
    alignas(32) std::uint8_t m_tables[64] = {};
    std::uint8_t m_first[256] = {};    // bucket bits of a byte as first byte (lo1 & hi1)
    std::uint8_t m_second[256] = {};   // bucket bits of a byte as second byte (lo2 & hi2)
    bool m_empty = true;
};

// How the filter runs: chosen once from the processor (AVX2, else SSSE3,
// else a portable table loop); tests and benchmarks may force a path.
enum class PairFilterPath { portable, ssse3, avx2 };
PairFilterPath pairFilterPath();
// Forces `path` for the whole process (nullopt: back to the processor's
// best). False, and nothing changed, when the processor lacks it.
bool setPairFilterPath(std::optional<PairFilterPath> path);
const char *pairFilterPathName(PairFilterPath path);
