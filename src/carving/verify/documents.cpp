// The PDF walker (ISO 32000): a file runs from its header to the end of line
// after the "%%EOF" that closes its last revision. Each revision ends with
// "startxref", the offset of its cross-reference section and "%%EOF"; an
// incremental update appends objects, a new cross-reference section and a
// new trailer after it.

#include <cctype>

#include "carving/verify/walkers.h"
#include "carving/verify/walkutil.h"
#include "model/bytecount.h"

namespace Verify {

namespace {

bool isSpace(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0;
}

bool isDigit(std::uint8_t c)
{
    return c >= '0' && c <= '9';
}

// Whether the bytes at `pos` begin a cross-reference section: the keyword
// "xref", or the header "N G obj" of a cross-reference stream.
bool startsXref(HitBytes &bytes, quint64 pos)
{
    const auto v = bytes.view(pos, 32);
    if (v.size() >= 4 && std::memcmp(v.data(), "xref", 4) == 0)
        return true;
    std::size_t i = 0;
    const auto number = [&] {
        const std::size_t from = i;
        while (i < v.size() && isDigit(v[i]))
            ++i;
        return i > from;
    };
    const auto spaces = [&] {
        const std::size_t from = i;
        while (i < v.size() && isSpace(v[i]))
            ++i;
        return i > from;
    };
    return number() && spaces() && number() && spaces() && v.size() - i >= 3
        && std::memcmp(v.data() + i, "obj", 3) == 0;
}

// The offset after "startxref" in the few bytes before the "%%EOF" at `eof`,
// when it names a cross-reference section inside [0, eof).
bool revisionCloses(HitBytes &bytes, quint64 eof)
{
    const quint64 from = eof > 64 ? eof - 64 : 0;
    const auto tail = bytes.view(from, std::size_t(eof - from));
    const QByteArray text(reinterpret_cast<const char *>(tail.data()), qsizetype(tail.size()));
    const qsizetype keyword = text.lastIndexOf("startxref");
    if (keyword < 0)
        return false;
    qsizetype i = keyword + 9;
    while (i < text.size() && isSpace(std::uint8_t(text[i])))
        ++i;
    const qsizetype digits = i;
    while (i < text.size() && isDigit(std::uint8_t(text[i])))
        ++i;
    if (i == digits || i - digits > 15)
        return false;
    while (i < text.size() && isSpace(std::uint8_t(text[i])))
        ++i;
    if (i != text.size())
        return false;
    const quint64 xref = text.mid(digits, i - digits).trimmed().toULongLong();
    return xref > 0 && xref < eof && startsXref(bytes, xref);
}

// After a closed revision: does an incremental update follow?
bool updateFollows(HitBytes &bytes, quint64 pos)
{
    const auto v = bytes.view(pos, 256);
    std::size_t i = 0;
    while (i < v.size() && isSpace(v[i]) && v[i] != 0)
        ++i;
    if (i == v.size())
        return false;
    const bool trailer = v.size() - i >= 7 && std::memcmp(v.data() + i, "trailer", 7) == 0;
    return trailer || startsXref(bytes, pos + i);
}

} // namespace

Outcome walkPdf(HitBytes &bytes, WalkLog *)
{
    const auto head = bytes.view(0, 8);
    if (head.size() < 8)
        return Outcome::refused(bytes.cutShort(8));
    if (std::memcmp(head.data(), "%PDF-", 5) != 0 || !isDigit(head[5]) || head[6] != '.' || !isDigit(head[7]))
        return Outcome::refused(QStringLiteral("no PDF version"));
    quint64 pos = 8;
    quint64 end = 0;   // end of the last closed revision
    for (;;) {
        const quint64 eof = bytes.find("%%EOF", pos, HitBytes::npos);
        if (eof == HitBytes::npos) {
            if (end != 0)
                return Outcome::ok(end);
            if (bytes.searchWasCut())
                return Outcome::refused(QStringLiteral("no %%EOF in its first ") + formatByteCount(qint64(bytes.searchedTo())),
                                        bytes.searchedTo());
            return Outcome::refused(QStringLiteral("no %%EOF that closes it"), bytes.limit());
        }
        pos = eof + 5;
        // A "%%EOF" inside a stream (an embedded file) is not preceded by a
        // startxref that points back into this file.
        if (!revisionCloses(bytes, eof))
            continue;
        const auto eol = bytes.view(pos, 2);
        quint64 close = pos;
        if (!eol.empty() && eol[0] == '\r')
            close += (eol.size() > 1 && eol[1] == '\n') ? 2 : 1;
        else if (!eol.empty() && eol[0] == '\n')
            close += 1;
        end = close;
        if (!updateFollows(bytes, close))
            return Outcome::ok(end);
        pos = close;
    }
}

} // namespace Verify
