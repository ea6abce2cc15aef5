// Walkers of the container formats: RIFF (WebP, WAVE, AVI with its OpenDML
// extensions) and the ISO base media file format (ISO/IEC 14496-12: MP4,
// QuickTime, M4A, and HEIF/HEIC images).

#include <QSet>

#include <algorithm>

#include "carving/verify/walkers.h"
#include "carving/verify/walkutil.h"

namespace Verify {

namespace {

bool printable(const std::uint8_t *id)
{
    for (int i = 0; i < 4; ++i) {
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    }
    return true;
}

struct RiffForm {
    quint64 end = 0;                 // 8 + the size field, plus a trailing pad byte
    QList<QByteArray> chunks;        // ids of the top-level chunks, in order
    QList<QByteArray> lists;         // list types of the LIST chunks, in order
    std::uint32_t formatSize = 0;    // size of the "fmt " chunk
    quint64 formatAt = 0;
};

// Walks the top-level chunks of a RIFF form at `start` of type `form`; they
// must fill the form exactly.
std::optional<Outcome> walkRiffForm(HitBytes &bytes, quint64 start, const char *form, RiffForm &out)
{
    const auto head = bytes.view(start, 12);
    if (head.size() < 12)
        return Outcome::refused(bytes.cutShort(start + 12), start);
    if (std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, form, 4) != 0)
        return Outcome::refused(QStringLiteral("no RIFF header"), start);
    const quint64 size = le32(head.data() + 4);
    if (size < 4 || size == 0xFFFFFFFFu)
        return Outcome::refused(QStringLiteral("size field not filled in"), start);
    const quint64 end = start + 8 + size;
    quint64 pos = start + 12;
    while (pos < end) {
        if (end - pos < 8)
            return Outcome::refused(QStringLiteral("stray bytes at the end") + at(pos), pos);
        const auto chunk = bytes.view(pos, 12);
        if (chunk.size() < 8)
            return Outcome::refused(bytes.cutShort(pos + 8), pos);
        if (!printable(chunk.data()))
            return Outcome::refused(QStringLiteral("invalid chunk") + at(pos), pos);
        const quint64 chunkSize = le32(chunk.data() + 4);
        const quint64 chunkEnd = pos + 8 + chunkSize;
        if (chunkEnd > end)
            return Outcome::refused(QStringLiteral("chunk runs past the end of the file") + at(pos), pos);
        const QByteArray id(reinterpret_cast<const char *>(chunk.data()), 4);
        out.chunks.append(id);
        if (id == "LIST" && chunk.size() == 12 && chunkSize >= 4)
            out.lists.append(QByteArray(reinterpret_cast<const char *>(chunk.data() + 8), 4));
        if (id == "fmt ") {
            out.formatSize = std::uint32_t(chunkSize);
            out.formatAt = pos + 8;
        }
        // Chunks are padded to an even length; a writer may leave the pad of
        // the last one outside the form's size.
        pos = chunkEnd + (chunkSize & 1);
    }
    out.end = std::max(pos, end);
    if (!reaches(bytes, out.end))
        return Outcome::refused(bytes.cutShort(out.end), start);
    return std::nullopt;
}

} // namespace

Outcome walkWebp(HitBytes &bytes, WalkLog *)
{
    RiffForm form;
    if (auto failed = walkRiffForm(bytes, 0, "WEBP", form))
        return *failed;
    const QByteArray first = form.chunks.value(0);
    if (first != "VP8 " && first != "VP8L" && first != "VP8X")
        return Outcome::refused(QStringLiteral("no image chunk"));
    if (first == "VP8 " && !bytesAre(bytes, 23, "\x9D\x01\x2A"))
        return Outcome::refused(QStringLiteral("invalid image chunk"));
    if (first == "VP8L" && !bytesAre(bytes, 20, "\x2F"))
        return Outcome::refused(QStringLiteral("invalid image chunk"));
    return Outcome::ok(form.end);
}

Outcome walkWav(HitBytes &bytes, WalkLog *)
{
    RiffForm form;
    if (auto failed = walkRiffForm(bytes, 0, "WAVE", form))
        return *failed;
    if (form.formatSize < 14 || !form.chunks.contains("data"))
        return Outcome::refused(QStringLiteral("no format or sound data"));
    const auto format = bytes.view(form.formatAt, 14);
    if (format.size() < 14)
        return Outcome::refused(bytes.cutShort(form.formatAt + 14));
    const std::uint32_t channels = le16(format.data() + 2);
    const std::uint32_t rate = le32(format.data() + 4);
    const std::uint32_t blockAlign = le16(format.data() + 12);
    if (channels == 0 || rate == 0 || blockAlign == 0)
        return Outcome::refused(QStringLiteral("invalid sound format"));
    return Outcome::ok(form.end);
}

Outcome walkAvi(HitBytes &bytes, WalkLog *)
{
    RiffForm form;
    if (auto failed = walkRiffForm(bytes, 0, "AVI ", form))
        return *failed;
    if (form.lists.value(0) != "hdrl" || !form.lists.contains("movi"))
        return Outcome::refused(QStringLiteral("no AVI header or movie data"));
    // Files past 1 GB go on in further RIFF forms of type AVIX (OpenDML).
    quint64 end = form.end;
    while (bytesAre(bytes, end, "RIFF") && bytesAre(bytes, end + 8, "AVIX")) {
        RiffForm extension;
        if (auto failed = walkRiffForm(bytes, end, "AVIX", extension))
            return *failed;
        end = extension.end;
    }
    return Outcome::ok(end);
}

namespace {

enum class IsoKind { movie, image };

bool knownTopLevelBox(const std::uint8_t *type)
{
    static const QSet<QByteArray> known = {
        "ftyp", "moov", "mdat", "free", "skip", "wide", "meta", "uuid", "pdin", "moof", "mfra",
        "styp", "sidx", "ssix", "prft", "emsg", "pnot", "udta", "junk", "PICT",
    };
    return known.contains(QByteArray(reinterpret_cast<const char *>(type), 4));
}

// The boxes inside [from, to) must follow one another exactly; the type of
// the first is returned through `firstType`.
bool childrenTile(HitBytes &bytes, quint64 from, quint64 to, QByteArray *firstType)
{
    quint64 pos = from;
    int children = 0;
    while (pos < to) {
        const auto head = bytes.view(pos, 16);
        if (head.size() < 8 || to - pos < 8 || !printable(head.data() + 4))
            return false;
        quint64 size = be32(head.data());
        if (size == 1) {
            if (head.size() < 16)
                return false;
            size = be64(head.data() + 8);
        } else if (size == 0) {
            size = to - pos;
        }
        if (size < 8 || size > to - pos)
            return false;
        if (children++ == 0 && firstType)
            *firstType = QByteArray(reinterpret_cast<const char *>(head.data() + 4), 4);
        // Nothing this walk needs is that far down; a huge box list is no file.
        if (children > 100'000)
            return false;
        pos += size;
    }
    return pos == to;
}

Outcome walkIso(HitBytes &bytes, IsoKind kind)
{
    quint64 pos = 0;
    bool sawMovie = false, sawData = false, sawMeta = false;
    const auto complete = [&] { return kind == IsoKind::image ? sawMeta : sawMovie && sawData; };
    const auto missing = [&] {
        return kind == IsoKind::image ? QStringLiteral("no image metadata box")
                                      : QStringLiteral("no movie header or media data");
    };
    for (;;) {
        const auto head = bytes.view(pos, 16);
        if (head.size() < 8) {
            // The data ends: right after a complete file, or inside one.
            if (complete())
                return Outcome::ok(pos);
            return Outcome::refused(bytes.cutShort(pos + 8), pos);
        }
        // Later reads may replace the viewed bytes; keep the type.
        std::uint8_t type[4];
        std::memcpy(type, head.data() + 4, 4);
        const bool isType = std::memcmp(type, "ftyp", 4) == 0;
        if (pos == 0) {
            const quint64 size = be32(head.data());
            if (!isType || size < 16 || size > 4096 || size % 4 != 0)
                return Outcome::refused(QStringLiteral("invalid file type box"));
        } else if (isType || !printable(type) || !knownTopLevelBox(type)) {
            // Another file, or other data, begins here.
            if (complete())
                return Outcome::ok(pos);
            return Outcome::refused(missing(), pos);
        }
        quint64 size = be32(head.data());
        quint64 headerSize = 8;
        if (size == 1) {
            if (head.size() < 16)
                return Outcome::refused(bytes.cutShort(pos + 16), pos);
            size = be64(head.data() + 8);
            headerSize = 16;
        } else if (size == 0) {
            return Outcome::refused(QStringLiteral("last box runs to the end of the device") + at(pos), pos);
        }
        if (size < headerSize)
            return Outcome::refused(QStringLiteral("invalid box size") + at(pos), pos);
        const quint64 end = pos + size;
        if (end < pos || !reaches(bytes, end))
            return Outcome::refused(bytes.cutShort(end), pos);
        if (std::memcmp(type, "moov", 4) == 0) {
            QByteArray first;
            if (!childrenTile(bytes, pos + headerSize, end, &first))
                return Outcome::refused(QStringLiteral("damaged movie header") + at(pos), pos);
            sawMovie = true;
        } else if (std::memcmp(type, "meta", 4) == 0) {
            // A full box: version and flags, then a handler box first.
            QByteArray first;
            if (kind == IsoKind::image
                && (!childrenTile(bytes, pos + headerSize + 4, end, &first) || first != "hdlr"))
                return Outcome::refused(QStringLiteral("damaged metadata box") + at(pos), pos);
            sawMeta = true;
        } else if (std::memcmp(type, "mdat", 4) == 0 || std::memcmp(type, "moof", 4) == 0) {
            sawData = true;
        }
        pos = end;
    }
}

} // namespace

Outcome walkIsoMedia(HitBytes &bytes, WalkLog *)
{
    return walkIso(bytes, IsoKind::movie);
}

Outcome walkHeif(HitBytes &bytes, WalkLog *)
{
    return walkIso(bytes, IsoKind::image);
}

} // namespace Verify
