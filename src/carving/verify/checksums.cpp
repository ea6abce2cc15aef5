#include "checksums.h"

#include <array>
#include <bit>
#include <cstring>

namespace Verify {

namespace {

// Slicing by eight: PNG image data and archive headers are checked over
// whole files, so the byte-at-a-time loop would dominate a walk.
struct Crc32Tables {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    constexpr Crc32Tables()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i) {
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        }
    }
};
constexpr Crc32Tables crc32Tables;

struct Crc16Table {
    std::array<std::uint16_t, 256> t{};
    constexpr Crc16Table()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint16_t c = std::uint16_t(i << 8);
            for (int k = 0; k < 8; ++k)
                c = (c & 0x8000) ? std::uint16_t((c << 1) ^ 0x8005) : std::uint16_t(c << 1);
            t[i] = c;
        }
    }
};
constexpr Crc16Table crc16Table;

struct Crc8Table {
    std::array<std::uint8_t, 256> t{};
    constexpr Crc8Table()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint8_t c = std::uint8_t(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 0x80) ? std::uint8_t((c << 1) ^ 0x07) : std::uint8_t(c << 1);
            t[i] = c;
        }
    }
};
constexpr Crc8Table crc8Table;

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t previous)
{
    const auto &t = crc32Tables.t;
    std::uint32_t c = ~previous;
    const std::uint8_t *p = bytes.data();
    std::size_t n = bytes.size();
    while (n >= 8) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        // The tables assume little-endian words.
        if constexpr (std::endian::native == std::endian::big) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        lo ^= c;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24]
            ^ t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t previous)
{
    std::uint16_t c = previous;
    for (const std::uint8_t b : bytes)
        c = std::uint16_t((c << 8) ^ crc16Table.t[(c >> 8) ^ b]);
    return c;
}

std::uint8_t crc8(std::span<const std::uint8_t> bytes, std::uint8_t previous)
{
    std::uint8_t c = previous;
    for (const std::uint8_t b : bytes)
        c = crc8Table.t[c ^ b];
    return c;
}

} // namespace Verify
