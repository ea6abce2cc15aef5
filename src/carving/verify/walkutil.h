#pragma once

// Small readers shared by the walkers: integers of either byte order at a
// position, false when the bytes are not there.

#include <cstdint>
#include <cstring>

#include "carving/verify/hitbytes.h"

namespace Verify {

// The integer of type T at `pos`, most significant byte first when
// `bigEndian`; false when the bytes are not there.
template<typename T>
bool readInteger(HitBytes &bytes, quint64 pos, T &value, bool bigEndian)
{
    const auto v = bytes.view(pos, sizeof(T));
    if (v.size() < sizeof(T))
        return false;
    std::uint64_t x = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        x = (x << 8) | v[bigEndian ? i : sizeof(T) - 1 - i];
    value = T(x);
    return true;
}

template<typename T>
bool readLe(HitBytes &bytes, quint64 pos, T &value)
{
    return readInteger(bytes, pos, value, false);
}

template<typename T>
bool readBe(HitBytes &bytes, quint64 pos, T &value)
{
    return readInteger(bytes, pos, value, true);
}

inline std::uint32_t le16(const std::uint8_t *p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
inline std::uint32_t le32(const std::uint8_t *p) { return le16(p) | le16(p + 2) << 16; }
inline std::uint64_t le64(const std::uint8_t *p) { return le32(p) | std::uint64_t(le32(p + 4)) << 32; }
inline std::uint32_t be16(const std::uint8_t *p) { return std::uint32_t(p[0]) << 8 | p[1]; }
inline std::uint32_t be32(const std::uint8_t *p) { return be16(p) << 16 | be16(p + 2); }
inline std::uint64_t be64(const std::uint8_t *p) { return std::uint64_t(be32(p)) << 32 | be32(p + 4); }

// Whether the bytes at `pos` are exactly `text`.
inline bool bytesAre(HitBytes &bytes, quint64 pos, const char *text)
{
    const std::size_t n = std::strlen(text);
    const auto v = bytes.view(pos, n);
    return v.size() == n && std::memcmp(v.data(), text, n) == 0;
}

// The file really has bytes up to `end` (exclusive): its last byte is readable.
inline bool reaches(HitBytes &bytes, quint64 end)
{
    return end == 0 || bytes.has(end - 1, 1);
}

} // namespace Verify
