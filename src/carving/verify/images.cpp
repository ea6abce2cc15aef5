// Walkers of the image formats: JPEG (ITU-T T.81 with JFIF/EXIF, CIPA
// DC-007 multi-picture files), PNG (ISO/IEC 15948), GIF (GIF89a), BMP
// (Windows bitmap headers) and little-endian TIFF 6.0.

#include <QSet>

#include <algorithm>
#include <array>

#include "carving/verify/checksums.h"
#include "carving/verify/walkers.h"
#include "carving/verify/walkutil.h"

namespace Verify {

namespace {

bool isFrameMarker(std::uint8_t m)
{
    // SOF0-SOF15 without DHT (C4), JPG (C8) and DAC (CC).
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// The end of the entropy-coded data that starts at `pos`: the position of the
// first marker that is not a restart marker, stuffing or fill.
quint64 endOfScan(HitBytes &bytes, quint64 pos, bool *cut)
{
    *cut = false;
    for (;;) {
        const auto v = bytes.view(pos, HitBytes::maxView);
        if (v.size() < 2) {
            *cut = true;
            return pos;
        }
        const std::uint8_t *base = v.data();
        std::size_t i = 0;
        const std::size_t last = v.size() - 1;   // an FF needs its successor in view
        while (i < last) {
            const void *ff = std::memchr(base + i, 0xFF, last - i);
            if (!ff) {
                i = last;
                break;
            }
            i = std::size_t(static_cast<const std::uint8_t *>(ff) - base);
            const std::uint8_t next = base[i + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                i += 2;
                continue;
            }
            if (next == 0xFF) {   // fill byte before a marker
                i += 1;
                continue;
            }
            return pos + i;
        }
        pos += i;
    }
}

// The end of the images listed in a multi-picture (MPF) APP2 segment whose
// payload starts at `payload`, relative to the file; 0 when there is none.
// Offsets in the MP index count from the byte order mark after "MPF\0".
quint64 multiPictureEnd(HitBytes &bytes, quint64 payload, quint64 segmentEnd)
{
    if (!bytesAre(bytes, payload, "MPF") || segmentEnd - payload < 16)
        return 0;
    const quint64 base = payload + 4;
    const auto head = bytes.view(base, 8);
    if (head.size() < 8)
        return 0;
    const bool little = head[0] == 'I' && head[1] == 'I';
    if (!little && !(head[0] == 'M' && head[1] == 'M'))
        return 0;
    const auto u16 = [little](const std::uint8_t *p) { return little ? le16(p) : be16(p); };
    const auto u32 = [little](const std::uint8_t *p) { return little ? le32(p) : be32(p); };
    const quint64 ifd = base + u32(head.data() + 4);
    const auto countBytes = bytes.view(ifd, 2);
    if (countBytes.size() < 2)
        return 0;
    const std::uint32_t count = u16(countBytes.data());
    if (count == 0 || count > 64)
        return 0;
    const auto entries = bytes.view(ifd + 2, std::size_t(count) * 12);
    if (entries.size() < std::size_t(count) * 12)
        return 0;
    for (std::uint32_t e = 0; e < count; ++e) {
        const std::uint8_t *entry = entries.data() + 12 * e;
        if (u16(entry) != 0xB002)   // MPEntry
            continue;
        const std::uint32_t images = u32(entry + 4) / 16;
        if (images == 0 || images > 64)
            return 0;
        const auto list = bytes.view(base + u32(entry + 8), std::size_t(images) * 16);
        if (list.size() < std::size_t(images) * 16)
            return 0;
        quint64 end = 0;
        for (std::uint32_t i = 1; i < images; ++i) {
            const std::uint8_t *image = list.data() + 16 * i;
            const quint64 size = u32(image + 4);
            const quint64 offset = u32(image + 8);
            if (offset != 0 && size != 0)
                end = std::max(end, base + offset + size);
        }
        return end;
    }
    return 0;
}

} // namespace

Outcome walkJpeg(HitBytes &bytes, WalkLog *)
{
    if (!bytesAre(bytes, 0, "\xFF\xD8"))
        return Outcome::refused(QStringLiteral("no JPEG start marker"));
    quint64 pos = 2;
    bool sawFrame = false;
    bool sawScan = false;
    quint64 pictures = 0;   // end of the further images of a multi-picture file
    for (;;) {
        auto v = bytes.view(pos, 4);
        if (v.size() < 2)
            return Outcome::refused(bytes.cutShort(pos + 2), pos);
        if (v[0] != 0xFF)
            return Outcome::refused(QStringLiteral("no marker where one belongs") + at(pos), pos);
        // Any number of fill bytes may come before a marker.
        int fill = 0;
        while (v[1] == 0xFF) {
            if (++fill > 1024)
                return Outcome::refused(QStringLiteral("no marker where one belongs") + at(pos), pos);
            ++pos;
            v = bytes.view(pos, 4);
            if (v.size() < 2)
                return Outcome::refused(bytes.cutShort(pos + 2), pos);
        }
        const std::uint8_t marker = v[1];
        if (marker == 0xD9) {
            if (!sawScan)
                return Outcome::refused(QStringLiteral("ends before its picture data"), pos);
            const quint64 end = pos + 2;
            if (pictures > end) {
                // The further pictures follow the first one directly; each
                // must at least start like a JPEG.
                if (!bytesAre(bytes, end, "\xFF\xD8"))
                    return Outcome::refused(QStringLiteral("second picture missing") + at(end), end);
                if (!reaches(bytes, pictures))
                    return Outcome::refused(bytes.cutShort(pictures), end);
                return Outcome::ok(pictures);
            }
            return Outcome::ok(end);
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (marker == 0xD8 || marker < 0xC0)
            return Outcome::refused(QStringLiteral("invalid marker") + at(pos), pos);
        if (v.size() < 4)
            return Outcome::refused(bytes.cutShort(pos + 4), pos);
        const std::uint32_t length = be16(v.data() + 2);
        if (length < 2)
            return Outcome::refused(QStringLiteral("invalid segment length") + at(pos), pos);
        const quint64 body = pos + 4;
        const quint64 next = pos + 2 + length;
        const auto segment = bytes.view(body, length - 2);
        if (segment.size() < length - 2)
            return Outcome::refused(bytes.cutShort(next), pos);
        const std::uint8_t *s = segment.data();
        if (isFrameMarker(marker)) {
            if (length < 8)
                return Outcome::refused(QStringLiteral("invalid frame header") + at(pos), pos);
            const std::uint32_t precision = s[0];
            const std::uint32_t width = be16(s + 3);
            const std::uint32_t components = s[5];
            if (precision < 2 || precision > 16 || width == 0 || components == 0 || components > 4
                || length != 8 + 3 * components)
                return Outcome::refused(QStringLiteral("invalid frame header") + at(pos), pos);
            sawFrame = true;
        } else if (marker == 0xC4) {
            if (length < 2 + 17)
                return Outcome::refused(QStringLiteral("invalid Huffman table") + at(pos), pos);
        } else if (marker == 0xDB) {
            // Tables of 64 one- or two-byte entries, each after its Pq/Tq byte.
            std::uint32_t i = 0;
            while (i < length - 2) {
                const std::uint32_t pq = s[i] >> 4;
                if (pq > 1 || (s[i] & 15) > 3)
                    break;
                i += 1 + 64 * (pq + 1);
            }
            if (i != length - 2)
                return Outcome::refused(QStringLiteral("invalid quantisation table") + at(pos), pos);
        } else if (marker == 0xDD || marker == 0xDC) {
            if (length != 4)
                return Outcome::refused(QStringLiteral("invalid segment length") + at(pos), pos);
        } else if (marker == 0xE2 && !pictures) {
            pictures = multiPictureEnd(bytes, body, next);
        } else if (marker == 0xDA) {
            const std::uint32_t components = length > 2 ? s[0] : 0;
            if (!sawFrame || components == 0 || components > 4 || length != 6 + 2 * components)
                return Outcome::refused(QStringLiteral("invalid scan header") + at(pos), pos);
            bool cut = false;
            pos = endOfScan(bytes, next, &cut);
            if (cut)
                return Outcome::refused(bytes.cutShort(pos + 2), pos);
            sawScan = true;
            continue;
        }
        pos = next;
    }
}

Outcome walkPng(HitBytes &bytes, WalkLog *)
{
    if (!bytesAre(bytes, 0, "\x89PNG\r\n\x1A\n"))
        return Outcome::refused(QStringLiteral("no PNG signature"));
    quint64 pos = 8;
    bool first = true;
    for (;;) {
        const auto head = bytes.view(pos, 8);
        if (head.size() < 8)
            return Outcome::refused(bytes.cutShort(pos + 8), pos);
        const std::uint32_t length = be32(head.data());
        const std::uint8_t *type = head.data() + 4;
        const auto letter = [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
        if (length > 0x7FFFFFFFu || !letter(type[0]) || !letter(type[1]) || !letter(type[2]) || !letter(type[3]))
            return Outcome::refused(QStringLiteral("invalid chunk") + at(pos), pos);
        const bool isEnd = std::memcmp(type, "IEND", 4) == 0;
        if (first && (std::memcmp(type, "IHDR", 4) != 0 || length != 13))
            return Outcome::refused(QStringLiteral("no image header"), pos);
        first = false;
        // CRC over type and data, read a view at a time.
        std::uint32_t crc = crc32(std::span(type, 4));
        quint64 at_ = pos + 8;
        const quint64 dataEnd = pos + 8 + length;
        while (at_ < dataEnd) {
            const auto part = bytes.view(at_, std::size_t(std::min<quint64>(HitBytes::maxView, dataEnd - at_)));
            if (part.empty())
                return Outcome::refused(bytes.cutShort(dataEnd + 4), pos);
            crc = crc32(part, crc);
            at_ += part.size();
        }
        std::uint32_t stored = 0;
        if (!readBe(bytes, dataEnd, stored))
            return Outcome::refused(bytes.cutShort(dataEnd + 4), pos);
        if (stored != crc)
            return Outcome::refused(QStringLiteral("chunk CRC mismatch") + at(pos), pos);
        pos = dataEnd + 4;
        if (isEnd)
            return Outcome::ok(pos);
    }
}

namespace {
// Skips data sub-blocks (a size byte, then that many bytes, until size 0).
bool skipSubBlocks(HitBytes &bytes, quint64 &pos)
{
    for (;;) {
        std::uint8_t size = 0;
        if (!readLe(bytes, pos, size))
            return false;
        pos += 1 + quint64(size);
        if (size == 0)
            return true;
    }
}
} // namespace

Outcome walkGif(HitBytes &bytes, WalkLog *)
{
    if (!bytesAre(bytes, 0, "GIF87a") && !bytesAre(bytes, 0, "GIF89a"))
        return Outcome::refused(QStringLiteral("no GIF version"));
    const auto screen = bytes.view(6, 7);
    if (screen.size() < 7)
        return Outcome::refused(bytes.cutShort(13));
    quint64 pos = 13;
    if (screen[4] & 0x80)
        pos += 3u << ((screen[4] & 7) + 1);
    int images = 0;
    for (;;) {
        std::uint8_t kind = 0;
        if (!readLe(bytes, pos, kind))
            return Outcome::refused(bytes.cutShort(pos + 1), pos);
        if (kind == 0x3B) {
            if (images == 0)
                return Outcome::refused(QStringLiteral("no image inside"), pos);
            return Outcome::ok(pos + 1);
        }
        const quint64 blockStart = pos;
        if (kind == 0x21) {
            std::uint8_t label = 0;
            if (!readLe(bytes, pos + 1, label))
                return Outcome::refused(bytes.cutShort(pos + 2), pos);
            if (label != 0xF9 && label != 0xFE && label != 0x01 && label != 0xFF)
                return Outcome::refused(QStringLiteral("unknown extension") + at(pos), pos);
            pos += 2;
        } else if (kind == 0x2C) {
            const auto descriptor = bytes.view(pos, 11);
            if (descriptor.size() < 11)
                return Outcome::refused(bytes.cutShort(pos + 11), pos);
            if (le16(descriptor.data() + 5) == 0 || le16(descriptor.data() + 7) == 0)
                return Outcome::refused(QStringLiteral("empty image") + at(pos), pos);
            pos += 10;
            if (descriptor[9] & 0x80)
                pos += 3u << ((descriptor[9] & 7) + 1);
            std::uint8_t codeSize = 0;
            if (!readLe(bytes, pos, codeSize))
                return Outcome::refused(bytes.cutShort(pos + 1), pos);
            if (codeSize < 2 || codeSize > 11)
                return Outcome::refused(QStringLiteral("invalid image data") + at(pos), pos);
            pos += 1;
            ++images;
        } else {
            return Outcome::refused(QStringLiteral("unexpected block") + at(pos), pos);
        }
        if (!skipSubBlocks(bytes, pos))
            return Outcome::refused(bytes.cutShort(pos + 1), blockStart);
    }
}

Outcome walkBmp(HitBytes &bytes, WalkLog *)
{
    const auto head = bytes.view(0, 54);
    if (head.size() < 26)
        return Outcome::refused(bytes.cutShort(54));
    const std::uint8_t *h = head.data();
    if (h[0] != 'B' || h[1] != 'M')
        return Outcome::refused(QStringLiteral("no bitmap signature"));
    const quint64 fileSize = le32(h + 2);
    const quint64 pixels = le32(h + 10);
    const std::uint32_t infoSize = le32(h + 14);
    static constexpr std::array<std::uint32_t, 8> infoSizes = {12, 16, 40, 52, 56, 64, 108, 124};
    if (std::find(infoSizes.begin(), infoSizes.end(), infoSize) == infoSizes.end())
        return Outcome::refused(QStringLiteral("unknown bitmap header"));
    qint64 width, height;
    std::uint32_t planes, depth, compression = 0;
    quint64 imageSize = 0;
    if (infoSize == 12) {
        width = le16(h + 18);
        height = le16(h + 20);
        planes = le16(h + 22);
        depth = le16(h + 24);
    } else {
        if (head.size() < 54)
            return Outcome::refused(bytes.cutShort(54));
        width = qint32(le32(h + 18));
        height = qint32(le32(h + 22));
        planes = le16(h + 26);
        depth = le16(h + 28);
        compression = le32(h + 30);
        imageSize = le32(h + 34);
    }
    static constexpr std::array<std::uint32_t, 8> depths = {1, 2, 4, 8, 16, 24, 32, 64};
    const bool knownCompression = compression <= 6 || (compression >= 11 && compression <= 13);
    if (planes != 1 || std::find(depths.begin(), depths.end(), depth) == depths.end() || !knownCompression
        || width <= 0 || width > 1'000'000 || height == 0 || height > 1'000'000 || height < -1'000'000)
        return Outcome::refused(QStringLiteral("invalid bitmap header"));
    if (pixels < 14 + quint64(infoSize) || (fileSize != 0 && pixels >= fileSize))
        return Outcome::refused(QStringLiteral("pixel data outside the file"));

    // Uncompressed rows are padded to four bytes; the pixels fix the least size.
    const bool plain = compression == 0 || compression == 3 || compression == 6;
    const quint64 rows = quint64(height < 0 ? -height : height);
    const quint64 needed = plain ? pixels + (quint64(width) * depth + 31) / 32 * 4 * rows : pixels + imageSize;
    quint64 length = fileSize;
    if (fileSize == 0) {
        if (!plain && imageSize == 0)
            return Outcome::refused(QStringLiteral("size not recorded"));
        length = needed;
    } else if (fileSize < needed) {
        return Outcome::refused(QStringLiteral("size field smaller than its pixels"));
    }
    if (!reaches(bytes, length))
        return Outcome::refused(bytes.cutShort(length), 54);
    return Outcome::ok(length);
}

namespace {

std::uint32_t tiffTypeSize(std::uint32_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;   // BYTE ASCII SBYTE UNDEFINED
    case 3: case 8: return 2;                   // SHORT SSHORT
    case 4: case 9: case 11: case 13: return 4; // LONG SLONG FLOAT IFD
    case 5: case 10: case 12: return 8;         // RATIONAL SRATIONAL DOUBLE
    default: return 0;
    }
}

// The values of a SHORT or LONG array field; false when they can't be read.
bool tiffValues(HitBytes &bytes, std::uint32_t type, quint64 count, const std::uint8_t *inlineValue,
                std::vector<quint64> &out)
{
    const std::uint32_t size = tiffTypeSize(type);
    if ((type != 3 && type != 4 && type != 13) || count > 1'000'000)
        return false;
    out.resize(std::size_t(count));
    const quint64 total = count * size;
    if (total <= 4) {
        for (quint64 i = 0; i < count; ++i)
            out[std::size_t(i)] = size == 2 ? le16(inlineValue + 2 * i) : le32(inlineValue);
        return true;
    }
    const quint64 offset = le32(inlineValue);
    quint64 done = 0;
    while (done < count) {
        const quint64 take = std::min<quint64>(count - done, HitBytes::maxView / size);
        const auto v = bytes.view(offset + done * size, std::size_t(take * size));
        if (v.size() < take * size)
            return false;
        for (quint64 i = 0; i < take; ++i)
            out[std::size_t(done + i)] = size == 2 ? le16(v.data() + 2 * i) : le32(v.data() + 4 * i);
        done += take;
    }
    return true;
}

} // namespace

Outcome walkTiff(HitBytes &bytes, WalkLog *)
{
    const auto head = bytes.view(0, 8);
    if (head.size() < 8)
        return Outcome::refused(bytes.cutShort(8));
    if (std::memcmp(head.data(), "II*\0", 4) != 0)
        return Outcome::refused(QStringLiteral("no TIFF header"));
    quint64 furthest = 8;
    int images = 0;
    QList<quint64> pending{le32(head.data() + 4)};
    QSet<quint64> seen;
    std::vector<quint64> offsets, counts, values;
    while (!pending.isEmpty()) {
        const quint64 ifd = pending.takeFirst();
        if (ifd < 8 || seen.contains(ifd))
            return Outcome::refused(QStringLiteral("invalid directory offset"));
        if (seen.size() >= 256)
            return Outcome::refused(QStringLiteral("too many directories"));
        seen.insert(ifd);
        std::uint16_t count = 0;
        if (!readLe(bytes, ifd, count))
            return Outcome::refused(bytes.cutShort(ifd + 2), ifd);
        if (count == 0)
            return Outcome::refused(QStringLiteral("empty directory") + at(ifd), ifd);
        const std::size_t tableSize = std::size_t(count) * 12 + 4;
        const QByteArray table = [&] {
            const auto v = bytes.view(ifd + 2, tableSize);
            return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
        }();
        if (std::size_t(table.size()) < tableSize)
            return Outcome::refused(bytes.cutShort(ifd + 2 + tableSize), ifd);
        furthest = std::max<quint64>(furthest, ifd + 2 + tableSize);
        offsets.clear();
        counts.clear();
        std::uint32_t previousTag = 0;
        const auto *t = reinterpret_cast<const std::uint8_t *>(table.constData());
        for (std::uint32_t e = 0; e < count; ++e) {
            const std::uint8_t *entry = t + 12 * e;
            const std::uint32_t tag = le16(entry);
            const std::uint32_t type = le16(entry + 2);
            const quint64 n = le32(entry + 4);
            const std::uint32_t size = tiffTypeSize(type);
            if (e > 0 && tag <= previousTag)
                return Outcome::refused(QStringLiteral("directory out of order") + at(ifd), ifd);
            if (size == 0)
                return Outcome::refused(QStringLiteral("unknown field type") + at(ifd), ifd);
            previousTag = tag;
            if (n * size > 4)
                furthest = std::max<quint64>(furthest, le32(entry + 8) + n * size);
            switch (tag) {
            case 273:   // StripOffsets
            case 324:   // TileOffsets
                if (!tiffValues(bytes, type, n, entry + 8, offsets))
                    return Outcome::refused(QStringLiteral("unreadable image offsets") + at(ifd), ifd);
                break;
            case 279:   // StripByteCounts
            case 325:   // TileByteCounts
                if (!tiffValues(bytes, type, n, entry + 8, counts))
                    return Outcome::refused(QStringLiteral("unreadable image sizes") + at(ifd), ifd);
                break;
            case 513: { // JPEGInterchangeFormat (old-style JPEG thumbnail), with its length
                const std::uint8_t *lengthEntry = entry + 12;
                if (e + 1 < count && le16(lengthEntry) == 514)
                    furthest = std::max<quint64>(furthest, quint64(le32(entry + 8)) + le32(lengthEntry + 8));
                break;
            }
            case 330:   // SubIFDs
            case 34665: // Exif IFD
            case 34853: // GPS IFD
            case 40965: // Interoperability IFD
                if (!tiffValues(bytes, type, n, entry + 8, values))
                    return Outcome::refused(QStringLiteral("unreadable directory list") + at(ifd), ifd);
                for (const quint64 sub : values)
                    pending.append(sub);
                break;
            default:
                break;
            }
        }
        if (!offsets.empty() || !counts.empty()) {
            if (offsets.size() != counts.size())
                return Outcome::refused(QStringLiteral("image offsets and sizes disagree") + at(ifd), ifd);
            for (std::size_t i = 0; i < offsets.size(); ++i)
                furthest = std::max(furthest, offsets[i] + counts[i]);
            ++images;
        }
        const quint64 next = le32(t + 12 * count);
        if (next != 0)
            pending.append(next);
    }
    if (images == 0)
        return Outcome::refused(QStringLiteral("no image data"));
    if (!reaches(bytes, furthest))
        return Outcome::refused(bytes.cutShort(furthest), 8);
    return Outcome::ok(furthest);
}

} // namespace Verify
