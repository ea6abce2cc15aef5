// Walkers of the archive formats: ZIP (PKWARE APPNOTE, with ZIP64 and
// streamed entries), 7z (its signature header) and RAR 4 and 5 (their block
// chains, from RARLAB's technote).

#include <algorithm>
#include <array>

#include "carving/verify/checksums.h"
#include "carving/verify/walkers.h"
#include "carving/verify/walkutil.h"

namespace Verify {

namespace {

bool knownZipMethod(std::uint32_t method)
{
    static constexpr std::array<std::uint32_t, 20> methods = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10,
                                                              12, 14, 18, 19, 20, 93, 95, 96, 97, 98};
    return method == 99 || std::find(methods.begin(), methods.end(), method) != methods.end();
}

// Sizes from a ZIP64 extended information field, where the 32-bit ones are
// all ones. `extra` is the extra field of a local header.
bool zip64Sizes(HitBytes &bytes, quint64 extra, std::uint32_t extraLength, quint64 &compressed)
{
    quint64 pos = extra;
    const quint64 end = extra + extraLength;
    while (pos + 4 <= end) {
        const auto field = bytes.view(pos, 20);
        if (field.size() < 4)
            return false;
        const std::uint32_t id = le16(field.data());
        const std::uint32_t size = le16(field.data() + 2);
        if (id == 0x0001) {
            if (size < 16 || field.size() < 20)
                return false;
            compressed = le64(field.data() + 12);
            return true;
        }
        pos += 4 + size;
    }
    return false;
}

// For an entry streamed without its sizes: the data descriptor after the
// data. It carries the data's size, so the right one is the first whose
// size equals its distance from the data's start.
quint64 streamedEnd(HitBytes &bytes, quint64 data, bool zip64)
{
    quint64 from = data;
    for (;;) {
        const quint64 descriptor = bytes.find("PK\x07\x08", from, HitBytes::npos);
        if (descriptor == HitBytes::npos)
            return HitBytes::npos;
        const auto v = bytes.view(descriptor, 24);
        const quint64 size = zip64 ? (v.size() >= 16 ? le64(v.data() + 8) : HitBytes::npos)
                                   : (v.size() >= 12 ? le32(v.data() + 8) : HitBytes::npos);
        if (size == descriptor - data)
            return descriptor + (zip64 ? 24 : 16);
        from = descriptor + 1;
    }
}

} // namespace

Outcome walkZip(HitBytes &bytes, WalkLog *)
{
    quint64 pos = 0;
    std::vector<quint64> entries;
    for (;;) {
        const auto head = bytes.view(pos, 30);
        if (head.size() < 4)
            return Outcome::refused(bytes.cutShort(pos + 4), pos);
        if (std::memcmp(head.data(), "PK\x03\x04", 4) != 0)
            break;
        if (head.size() < 30)
            return Outcome::refused(bytes.cutShort(pos + 30), pos);
        const std::uint8_t *h = head.data();
        const std::uint32_t flags = le16(h + 6);
        const std::uint32_t method = le16(h + 8);
        quint64 compressed = le32(h + 18);
        const std::uint32_t nameLength = le16(h + 26);
        const std::uint32_t extraLength = le16(h + 28);
        if ((h[4] > 63) || !knownZipMethod(method) || nameLength == 0)
            return Outcome::refused(QStringLiteral("invalid entry header") + at(pos), pos);
        const quint64 extra = pos + 30 + nameLength;
        const quint64 data = extra + extraLength;
        const bool streamed = flags & 0x08;
        bool zip64 = false;
        if (compressed == 0xFFFFFFFFu) {
            if (!zip64Sizes(bytes, extra, extraLength, compressed))
                return Outcome::refused(QStringLiteral("invalid entry header") + at(pos), pos);
            zip64 = true;
        }
        quint64 next;
        if (streamed && compressed == 0) {
            next = streamedEnd(bytes, data, zip64);
            if (next == HitBytes::npos)
                return Outcome::refused(QStringLiteral("streamed entry without its end") + at(pos), pos);
        } else {
            next = data + compressed;
            if (streamed)
                next += (bytesAre(bytes, next, "PK\x07\x08") ? 4 : 0) + (zip64 ? 20 : 12);
        }
        if (!reaches(bytes, next))
            return Outcome::refused(bytes.cutShort(next), pos);
        entries.push_back(pos);
        pos = next;
    }

    // The central directory: one record per entry, then the end records.
    const quint64 directory = pos;
    int listed = 0;
    for (;;) {
        const auto record = bytes.view(pos, 46);
        if (record.size() < 4)
            return Outcome::refused(bytes.cutShort(pos + 4), pos);
        if (std::memcmp(record.data(), "PK\x01\x02", 4) != 0)
            break;
        if (record.size() < 46)
            return Outcome::refused(bytes.cutShort(pos + 46), pos);
        // Each record points back at its entry, counted from the archive's start.
        const quint64 entry = le32(record.data() + 42);
        if (entry != 0xFFFFFFFFu && (std::size_t(listed) >= entries.size() || entry != entries[std::size_t(listed)]))
            return Outcome::refused(std::size_t(listed) == 0 && entry != 0 ? QStringLiteral("not the start of the archive")
                                                                          : QStringLiteral("directory does not match the entries"),
                                    pos);
        pos += 46 + quint64(le16(record.data() + 28)) + le16(record.data() + 30) + le16(record.data() + 32);
        ++listed;
    }
    const quint64 directoryEnd = pos;
    if (listed == 0)
        return Outcome::refused(QStringLiteral("no central directory") + at(pos), pos);
    if (std::size_t(listed) != entries.size())
        return Outcome::refused(QStringLiteral("central directory lists another number of entries"), pos);
    if (bytesAre(bytes, pos, "PK\x05\x05")) {   // digital signature
        std::uint16_t size = 0;
        if (!readLe(bytes, pos + 4, size))
            return Outcome::refused(bytes.cutShort(pos + 6), pos);
        pos += 6 + quint64(size);
    }
    if (bytesAre(bytes, pos, "PK\x06\x06")) {   // ZIP64 end record and its locator
        quint64 size = 0;
        if (!readLe(bytes, pos + 4, size))
            return Outcome::refused(bytes.cutShort(pos + 12), pos);
        pos += 12 + size;
        if (!bytesAre(bytes, pos, "PK\x06\x07"))
            return Outcome::refused(QStringLiteral("ZIP64 locator missing") + at(pos), pos);
        pos += 20;
    }
    const auto end = bytes.view(pos, 22);
    if (end.size() < 22)
        return Outcome::refused(bytes.cutShort(pos + 22), pos);
    if (std::memcmp(end.data(), "PK\x05\x06", 4) != 0)
        return Outcome::refused(QStringLiteral("no end of central directory") + at(pos), pos);
    const std::uint8_t *e = end.data();
    const std::uint32_t total = le16(e + 10);
    const quint64 size = le32(e + 12);
    const quint64 offset = le32(e + 16);
    if ((total != 0xFFFF && total != std::uint32_t(listed)) || (size != 0xFFFFFFFFu && size != directoryEnd - directory))
        return Outcome::refused(QStringLiteral("end record disagrees with the directory"), pos);
    // Offsets count from the archive's first byte: a candidate that starts
    // at a later entry of an archive sees them off by its own position.
    if (offset != 0xFFFFFFFFu && offset != directory)
        return Outcome::refused(QStringLiteral("not the start of the archive"), pos);
    const quint64 length = pos + 22 + le16(e + 20);
    if (!reaches(bytes, length))
        return Outcome::refused(bytes.cutShort(length), pos);
    return Outcome::ok(length);
}

Outcome walkSevenZip(HitBytes &bytes, WalkLog *)
{
    const auto head = bytes.view(0, 32);
    if (head.size() < 32)
        return Outcome::refused(bytes.cutShort(32));
    const std::uint8_t *h = head.data();
    if (std::memcmp(h, "7z\xBC\xAF\x27\x1C", 6) != 0 || h[6] != 0)
        return Outcome::refused(QStringLiteral("no 7z signature"));
    if (crc32(std::span(h + 12, 20)) != le32(h + 8))
        return Outcome::refused(QStringLiteral("start header CRC mismatch"));
    const quint64 nextOffset = le64(h + 12);
    const quint64 nextSize = le64(h + 20);
    const std::uint32_t nextCrc = le32(h + 28);
    if (nextSize == 0)
        return nextOffset == 0 ? Outcome::ok(32) : Outcome::refused(QStringLiteral("invalid start header"));
    if (nextOffset > bytes.limit() || nextSize > bytes.limit() || 32 + nextOffset + nextSize > bytes.limit())
        return Outcome::refused(bytes.cutShort(32 + nextOffset + nextSize), 32);
    const quint64 headerAt = 32 + nextOffset;
    const quint64 end = headerAt + nextSize;
    std::uint32_t crc = 0;
    std::uint8_t first = 0;
    for (quint64 pos = headerAt; pos < end;) {
        const auto part = bytes.view(pos, std::size_t(std::min<quint64>(HitBytes::maxView, end - pos)));
        if (part.empty())
            return Outcome::refused(bytes.cutShort(end), pos);
        if (pos == headerAt)
            first = part[0];
        crc = crc32(part, crc);
        pos += part.size();
    }
    if (crc != nextCrc)
        return Outcome::refused(QStringLiteral("header CRC mismatch") + at(headerAt), headerAt);
    // Property ids of a plain or an encoded header.
    if (first != 0x01 && first != 0x17)
        return Outcome::refused(QStringLiteral("invalid header") + at(headerAt), headerAt);
    return Outcome::ok(end);
}

namespace {

Outcome walkRar4(HitBytes &bytes)
{
    quint64 pos = 7;
    bool first = true;
    for (;;) {
        const auto head = bytes.view(pos, 11);
        if (head.size() < 7)
            return Outcome::refused(bytes.cutShort(pos + 7), pos);
        const std::uint8_t *h = head.data();
        const std::uint32_t type = h[2];
        const std::uint32_t flags = le16(h + 3);
        const std::uint32_t headerSize = le16(h + 5);
        if (type < 0x73 || type > 0x7B || headerSize < 7 || (first && type != 0x73))
            return Outcome::refused(QStringLiteral("invalid block") + at(pos), pos);
        const auto header = bytes.view(pos, headerSize);
        if (header.size() < headerSize)
            return Outcome::refused(bytes.cutShort(pos + headerSize), pos);
        if ((crc32(header.subspan(2)) & 0xFFFF) != le16(header.data()))
            return Outcome::refused(QStringLiteral("block CRC mismatch") + at(pos), pos);
        quint64 dataSize = 0;
        // File and service blocks always carry their packed size; others
        // only with the "added size" flag.
        if (type == 0x74 || type == 0x7A || (flags & 0x8000)) {
            if (headerSize < 11)
                return Outcome::refused(QStringLiteral("invalid block") + at(pos), pos);
            dataSize = le32(header.data() + 7);
            if ((type == 0x74 || type == 0x7A) && (flags & 0x100)) {
                if (headerSize < 36)
                    return Outcome::refused(QStringLiteral("invalid block") + at(pos), pos);
                dataSize |= quint64(le32(header.data() + 32)) << 32;
            }
        }
        if (type == 0x73 && (flags & 0x80))
            return Outcome::refused(QStringLiteral("headers are encrypted"));
        const quint64 next = pos + headerSize + dataSize;
        if (!reaches(bytes, next))
            return Outcome::refused(bytes.cutShort(next), pos);
        if (type == 0x7B)
            return Outcome::ok(next);
        first = false;
        pos = next;
    }
}

// A RAR 5 variable-length integer: seven bits a byte, low bits first.
bool readVint(std::span<const std::uint8_t> v, std::size_t &i, quint64 &value)
{
    value = 0;
    for (int shift = 0; shift < 64 && i < v.size(); shift += 7) {
        const std::uint8_t b = v[i++];
        value |= quint64(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

Outcome walkRar5(HitBytes &bytes)
{
    quint64 pos = 8;
    bool first = true;
    for (;;) {
        const auto head = bytes.view(pos, 4 + 3);
        if (head.size() < 7)
            return Outcome::refused(bytes.cutShort(pos + 7), pos);
        std::size_t i = 4;
        quint64 headerSize = 0;
        if (!readVint(head, i, headerSize) || headerSize == 0 || headerSize > 2 * 1024 * 1024)
            return Outcome::refused(QStringLiteral("invalid block") + at(pos), pos);
        const std::size_t sizeLength = i - 4;
        const std::size_t total = 4 + sizeLength + std::size_t(headerSize);
        const auto block = bytes.view(pos, total);
        if (block.size() < total)
            return Outcome::refused(bytes.cutShort(pos + total), pos);
        if (crc32(block.subspan(4)) != le32(block.data()))
            return Outcome::refused(QStringLiteral("block CRC mismatch") + at(pos), pos);
        quint64 type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!readVint(block, i, type) || !readVint(block, i, flags)
            || ((flags & 1) && !readVint(block, i, extraSize)) || ((flags & 2) && !readVint(block, i, dataSize)))
            return Outcome::refused(QStringLiteral("invalid block") + at(pos), pos);
        if (type == 4)
            return Outcome::refused(QStringLiteral("headers are encrypted"));
        if (type < 1 || type > 5 || (first && type != 1))
            return Outcome::refused(QStringLiteral("invalid block") + at(pos), pos);
        const quint64 next = pos + total + dataSize;
        if (next < pos || !reaches(bytes, next))
            return Outcome::refused(bytes.cutShort(next), pos);
        if (type == 5)
            return Outcome::ok(next);
        first = false;
        pos = next;
    }
}

} // namespace

Outcome walkRar(HitBytes &bytes, WalkLog *)
{
    const auto signature = bytes.view(0, 8);
    if (signature.size() >= 8 && std::memcmp(signature.data(), "Rar!\x1A\x07\x01\x00", 8) == 0)
        return walkRar5(bytes);
    if (signature.size() >= 7 && std::memcmp(signature.data(), "Rar!\x1A\x07\x00", 7) == 0)
        return walkRar4(bytes);
    return Outcome::refused(QStringLiteral("no RAR signature"));
}

} // namespace Verify
