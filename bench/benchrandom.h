#pragma once

#include <cstddef>
#include <cstdint>

// Fast, reproducible filler for the benchmarks' images: the same seed gives
// the same bytes, so runs compare like with like.
struct XorShift {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    std::uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::size_t below(std::size_t n) { return std::size_t(next() % n); }
};
