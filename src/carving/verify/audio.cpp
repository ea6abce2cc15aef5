// Walkers of the audio formats: MPEG-1/2/2.5 audio frames (ISO/IEC 11172-3,
// 13818-3) with ID3v2 and ID3v1 tags, AAC in ADTS frames (ISO/IEC 13818-7)
// and FLAC (RFC 9639), whose frames are read down to their last bit.

#include <QHash>

#include <algorithm>
#include <bit>

#include "carving/verify/checksums.h"
#include "carving/verify/walkers.h"
#include "carving/verify/walkutil.h"

namespace Verify {

namespace {

// Frames a run must hold before it counts as sound: random bytes chain a
// frame or two by chance, never this many.
constexpr int minimumFrames = 6;

struct MpegFrame {
    std::uint32_t version = 0;   // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    std::uint32_t layer = 0;     // 3: layer I, 2: layer II, 1: layer III
    std::uint32_t rate = 0;
    std::uint32_t length = 0;
};

bool mpegFrame(const std::uint8_t *h, MpegFrame &frame)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const std::uint32_t version = (h[1] >> 3) & 3;
    const std::uint32_t layer = (h[1] >> 1) & 3;
    const std::uint32_t bitrateIndex = h[2] >> 4;
    const std::uint32_t rateIndex = (h[2] >> 2) & 3;
    const std::uint32_t padding = (h[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 || (h[3] & 3) == 2)
        return false;
    static constexpr std::uint16_t bitrates[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},   // MPEG-1 layer I
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},      // MPEG-1 layer II
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},       // MPEG-1 layer III
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},      // MPEG-2/2.5 layer I
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},           // MPEG-2/2.5 layers II, III
    };
    static constexpr std::uint32_t rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? (layer == 3 ? 0 : layer == 2 ? 1 : 2) : (layer == 3 ? 3 : 4);
    const std::uint32_t bitrate = bitrates[table][bitrateIndex - 1] * 1000u;
    const std::uint32_t rate = rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layer == 3)
        frame.length = (12 * bitrate / rate + padding) * 4;
    else
        frame.length = (layer == 1 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
    frame.version = version;
    frame.layer = layer;
    frame.rate = rate;
    return frame.length >= 4;
}

struct AdtsFrame {
    std::uint32_t kind = 0;     // id, profile, sampling index and channels
    std::uint32_t length = 0;
};

bool adtsFrame(const std::uint8_t *h, AdtsFrame &frame)
{
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0)
        return false;
    const std::uint32_t rateIndex = (h[2] >> 2) & 15;
    const std::uint32_t length = (std::uint32_t(h[3] & 3) << 11) | (std::uint32_t(h[4]) << 3) | (h[5] >> 5);
    const std::uint32_t header = (h[1] & 1) ? 7 : 9;
    if (rateIndex > 12 || length < header)
        return false;
    frame.kind = (std::uint32_t(h[1] & 0x08) << 16) | (std::uint32_t(h[2] & 0xFD) << 8) | (h[3] & 0xC0);
    frame.length = length;
    return true;
}

// The run of consistent frames from `pos`: `parse` reads a header of
// `headerSize` bytes, `same` tells whether a later frame matches the first.
template<typename Frame, typename Parse, typename Same>
quint64 frameRun(HitBytes &bytes, quint64 pos, std::size_t headerSize, Parse parse, Same same, int &count,
                 bool &cut, WalkLog *log)
{
    Frame first;
    count = 0;
    cut = false;
    for (;;) {
        const auto h = bytes.view(pos, headerSize);
        Frame frame;
        if (h.size() < headerSize || !parse(h.data(), frame) || (count > 0 && !same(first, frame))) {
            cut = h.size() < headerSize && h.size() > 0 && h[0] == 0xFF;
            return pos;
        }
        if (!reaches(bytes, pos + frame.length)) {
            cut = true;
            return pos;
        }
        if (count == 0)
            first = frame;
        if (log)
            log->frames.push_back(pos);
        ++count;
        pos += frame.length;
    }
}

// An ID3v1 tag (128 bytes starting "TAG") may close an audio file; one cut
// short says the file goes on past the data.
Outcome withId3v1(HitBytes &bytes, quint64 end)
{
    if (!bytesAre(bytes, end, "TAG"))
        return Outcome::ok(end);
    if (!reaches(bytes, end + 128))
        return Outcome::refused(bytes.cutShort(end + 128), end);
    return Outcome::ok(end + 128);
}

} // namespace

Outcome walkMp3(HitBytes &bytes, WalkLog *log)
{
    quint64 pos = 0;
    const auto tag = bytes.view(0, 10);
    if (tag.size() >= 3 && std::memcmp(tag.data(), "ID3", 3) == 0) {
        if (tag.size() < 10)
            return Outcome::refused(bytes.cutShort(10));
        const std::uint8_t *t = tag.data();
        if (t[3] < 2 || t[3] > 4 || t[4] == 0xFF || (t[5] & 0x0F) || ((t[6] | t[7] | t[8] | t[9]) & 0x80))
            return Outcome::refused(QStringLiteral("invalid ID3 tag"));
        const quint64 size = (quint64(t[6]) << 21) | (quint64(t[7]) << 14) | (quint64(t[8]) << 7) | t[9];
        pos = 10 + size + ((t[5] & 0x10) ? 10 : 0);
        // Some taggers leave padding beyond the size they record: look for
        // the first frame a little further on.
        const quint64 sync = bytes.find("\xFF", pos, pos + 4096);
        if (sync == HitBytes::npos) {
            if (!reaches(bytes, pos + 1))
                return Outcome::refused(bytes.cutShort(pos + 1), pos);
            return Outcome::refused(QStringLiteral("no valid frames after header"), pos);
        }
        pos = sync;
    }
    int frames = 0;
    bool cut = false;
    const auto sameStream = [](const MpegFrame &a, const MpegFrame &b) {
        return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
    };
    const quint64 end = frameRun<MpegFrame>(bytes, pos, 4, mpegFrame, sameStream, frames, cut, log);
    // A frame that runs past the data says the stream goes on there.
    if (cut)
        return Outcome::refused(bytes.cutShort(end + 4), end);
    if (frames < minimumFrames) {
        return Outcome::refused(pos == 0 ? QStringLiteral("too few valid frames")
                                         : QStringLiteral("no valid frames after header"),
                                end);
    }
    return withId3v1(bytes, end);
}

Outcome walkAdts(HitBytes &bytes, WalkLog *log)
{
    int frames = 0;
    bool cut = false;
    const auto sameStream = [](const AdtsFrame &a, const AdtsFrame &b) { return a.kind == b.kind; };
    const quint64 end = frameRun<AdtsFrame>(bytes, 0, 7, adtsFrame, sameStream, frames, cut, log);
    if (cut)
        return Outcome::refused(bytes.cutShort(end + 7), end);
    if (frames < minimumFrames) {
        return Outcome::refused(QStringLiteral("too few valid frames"), end);
    }
    return withId3v1(bytes, end);
}

namespace {

// Reads bits most significant first from a position of the walked bytes.
class BitReader
{
public:
    BitReader(HitBytes &bytes, quint64 pos)
        : m_bytes(bytes)
    {
        seek(pos);
    }

    void seek(quint64 pos)
    {
        m_base = pos;
        m_view = {};
        m_index = 0;
        m_cache = 0;
        m_bits = 0;
    }

    // Position of the next unread bit, in bits.
    quint64 bitPosition() const { return (m_base + m_index) * 8 - quint64(m_bits); }
    bool failed() const { return m_failed; }

    std::uint32_t bits(int n)
    {
        if (n == 0)
            return 0;
        if (m_bits < n && !refill(n)) {
            m_failed = true;
            return 0;
        }
        const std::uint32_t value = std::uint32_t(m_cache >> (64 - n));
        m_cache <<= n;
        m_bits -= n;
        return value;
    }

    // The number of zero bits before the next one bit (which is consumed).
    quint64 unary()
    {
        quint64 zeros = 0;
        for (;;) {
            if (m_bits == 0 && !refill(1)) {
                m_failed = true;
                return 0;
            }
            if (m_cache != 0) {
                const int lead = std::countl_zero(m_cache);
                if (lead < m_bits) {
                    m_cache <<= lead + 1;
                    m_bits -= lead + 1;
                    return zeros + quint64(lead);
                }
            }
            zeros += quint64(m_bits);
            m_cache = 0;
            m_bits = 0;
            if (zeros > (1u << 24)) {   // no residual is that long
                m_failed = true;
                return 0;
            }
        }
    }

    void skip(quint64 n)
    {
        if (n <= quint64(m_bits)) {
            m_cache = n == 64 ? 0 : m_cache << n;
            m_bits -= int(n);
            return;
        }
        const quint64 target = bitPosition() + n;
        seek(target / 8);
        bits(int(target % 8));
    }

    void alignToByte() { bits(m_bits % 8); }

private:
    bool refill(int need)
    {
        while (m_bits <= 56) {
            if (m_index == m_view.size()) {
                m_base += m_view.size();
                m_view = m_bytes.view(m_base, 64 * 1024);
                m_index = 0;
                if (m_view.empty())
                    break;
            }
            m_cache |= std::uint64_t(m_view[m_index++]) << (56 - m_bits);
            m_bits += 8;
        }
        return m_bits >= need;
    }

    HitBytes &m_bytes;
    quint64 m_base = 0;   // position of m_view[0]
    std::span<const std::uint8_t> m_view;
    std::size_t m_index = 0;
    std::uint64_t m_cache = 0;   // unread bits, left-aligned
    int m_bits = 0;
    bool m_failed = false;
};

struct StreamInfo {
    std::uint32_t maxBlock = 0;
    std::uint32_t bitsPerSample = 0;
    std::uint32_t channels = 0;
    quint64 totalSamples = 0;
};

bool skipResidual(BitReader &r, std::uint32_t blockSize, std::uint32_t order)
{
    const std::uint32_t method = r.bits(2);
    if (method > 1)
        return false;
    const int parameterBits = method == 0 ? 4 : 5;
    const std::uint32_t escape = method == 0 ? 15 : 31;
    const std::uint32_t partitionOrder = r.bits(4);
    const std::uint32_t partitions = 1u << partitionOrder;
    if (blockSize % partitions != 0 || (blockSize >> partitionOrder) < order)
        return false;
    for (std::uint32_t p = 0; p < partitions && !r.failed(); ++p) {
        const std::uint32_t samples = (blockSize >> partitionOrder) - (p == 0 ? order : 0);
        const std::uint32_t parameter = r.bits(parameterBits);
        if (parameter == escape) {
            r.skip(quint64(samples) * r.bits(5));
            continue;
        }
        for (std::uint32_t s = 0; s < samples; ++s) {
            r.unary();
            r.skip(parameter);
            if (r.failed())
                return false;
        }
    }
    return !r.failed();
}

bool skipSubframe(BitReader &r, std::uint32_t blockSize, std::uint32_t sampleBits)
{
    if (r.bits(1) != 0)
        return false;
    const std::uint32_t type = r.bits(6);
    if (r.bits(1)) {
        const quint64 wasted = r.unary() + 1;
        if (wasted >= sampleBits)
            return false;
        sampleBits -= std::uint32_t(wasted);
    }
    if (type == 0) {
        r.skip(sampleBits);
    } else if (type == 1) {
        r.skip(quint64(blockSize) * sampleBits);
    } else if (type >= 8 && type <= 12) {
        const std::uint32_t order = type - 8;
        r.skip(quint64(order) * sampleBits);
        return skipResidual(r, blockSize, order);
    } else if (type >= 32) {
        const std::uint32_t order = type - 31;
        r.skip(quint64(order) * sampleBits);
        const std::uint32_t precision = r.bits(4);
        if (precision == 15)
            return false;
        r.bits(5);
        r.skip(quint64(order) * (precision + 1));
        return skipResidual(r, blockSize, order);
    } else {
        return false;
    }
    return !r.failed();
}

// Parses the frame header at `pos` and returns its block size (0: none).
// Frames count frames (fixed block size) or samples (variable block size),
// as the first frame's blocking strategy says; `strategy` is -1 before it.
std::uint32_t flacFrameHeader(HitBytes &bytes, quint64 pos, const StreamInfo &info, quint64 frameNumber,
                              quint64 samples, int &strategy, std::uint32_t &channels, std::uint32_t &sideChannel,
                              std::uint32_t &sampleBits, quint64 &headerEnd)
{
    const auto v = bytes.view(pos, 16);
    if (v.size() < 6 || v[0] != 0xFF || (v[1] & 0xFE) != 0xF8)
        return 0;
    const int variable = v[1] & 1;
    if (strategy >= 0 && variable != strategy)
        return 0;
    const quint64 expectedNumber = variable ? samples : frameNumber;
    const std::uint32_t blockCode = v[2] >> 4;
    const std::uint32_t rateCode = v[2] & 15;
    const std::uint32_t assignment = v[3] >> 4;
    const std::uint32_t sizeCode = (v[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || assignment > 10 || sizeCode == 3 || (v[3] & 1))
        return 0;
    // The frame or sample number, coded like UTF-8 (up to 36 bits).
    std::size_t i = 4;
    const std::uint8_t lead = v[i++];
    int extra = 0;
    quint64 number = lead;
    if (lead >= 0x80) {
        extra = std::countl_one(lead) - 1;
        if (extra < 1 || extra > 6)
            return 0;
        number = lead & (0x3F >> extra);
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= v.size() || (v[i] & 0xC0) != 0x80)
            return 0;
        number = (number << 6) | (v[i++] & 0x3F);
    }
    if (number != expectedNumber)
        return 0;
    std::uint32_t blockSize;
    if (blockCode == 1)
        blockSize = 192;
    else if (blockCode <= 5)
        blockSize = 576u << (blockCode - 2);
    else if (blockCode <= 7) {
        const std::size_t n = blockCode == 6 ? 1 : 2;
        if (i + n > v.size())
            return 0;
        blockSize = (n == 1 ? v[i] : be16(v.data() + i)) + 1;
        i += n;
    } else
        blockSize = 256u << (blockCode - 8);
    if (rateCode >= 12)
        i += rateCode == 12 ? 1 : 2;
    if (i >= v.size() || crc8(v.first(i)) != v[i])
        return 0;
    static constexpr std::uint32_t sizes[8] = {0, 8, 12, 0, 16, 20, 24, 32};
    sampleBits = sizeCode == 0 ? info.bitsPerSample : sizes[sizeCode];
    channels = assignment <= 7 ? assignment + 1 : 2;
    if (channels != info.channels || blockSize > info.maxBlock)
        return 0;
    // Left/side puts the side channel second, side/right first, mid/side second.
    sideChannel = assignment == 8 ? 1 : assignment == 9 ? 0 : assignment == 10 ? 1 : 99;
    headerEnd = pos + i + 1;
    strategy = variable;
    return blockSize;
}

} // namespace

Outcome walkFlac(HitBytes &bytes, WalkLog *)
{
    if (!bytesAre(bytes, 0, "fLaC"))
        return Outcome::refused(QStringLiteral("no FLAC signature"));
    quint64 pos = 4;
    StreamInfo info;
    for (bool last = false, first = true; !last; first = false) {
        const auto head = bytes.view(pos, 4 + 34);
        if (head.size() < 4)
            return Outcome::refused(bytes.cutShort(pos + 4), pos);
        last = head[0] & 0x80;
        const std::uint32_t type = head[0] & 0x7F;
        const quint64 length = (quint64(head[1]) << 16) | (quint64(head[2]) << 8) | head[3];
        if (first != (type == 0) || type > 6 || (type == 0 && length != 34))
            return Outcome::refused(QStringLiteral("invalid metadata block") + at(pos), pos);
        if (type == 0) {
            if (head.size() < 38)
                return Outcome::refused(bytes.cutShort(pos + 38), pos);
            const std::uint8_t *s = head.data() + 4;
            const std::uint32_t minBlock = be16(s);
            info.maxBlock = be16(s + 2);
            const std::uint32_t rate = (std::uint32_t(s[10]) << 12) | (std::uint32_t(s[11]) << 4) | (s[12] >> 4);
            info.channels = ((s[12] >> 1) & 7) + 1;
            info.bitsPerSample = ((std::uint32_t(s[12] & 1) << 4) | (s[13] >> 4)) + 1;
            info.totalSamples = (quint64(s[13] & 15) << 32) | be32(s + 14);
            if (minBlock < 16 || info.maxBlock < minBlock || rate == 0 || info.bitsPerSample < 4)
                return Outcome::refused(QStringLiteral("invalid stream information"), pos);
        }
        pos += 4 + length;
    }

    quint64 samples = 0;
    quint64 frameNumber = 0;
    int frames = 0;
    int strategy = -1;
    BitReader reader(bytes, pos);
    for (;;) {
        if (info.totalSamples != 0 && samples >= info.totalSamples)
            break;
        std::uint32_t channels = 0, side = 0, sampleBits = 0;
        quint64 headerEnd = 0;
        const std::uint32_t size =
            flacFrameHeader(bytes, pos, info, frameNumber, samples, strategy, channels, side, sampleBits, headerEnd);
        if (!size) {
            if (info.totalSamples == 0 && frames > 0)
                break;   // without a recorded length, the frames end where they stop
            if (!reaches(bytes, pos + 16))
                return Outcome::refused(bytes.cutShort(pos + 16), pos);
            return Outcome::refused(QStringLiteral("invalid frame") + at(pos), pos);
        }
        reader.seek(headerEnd);
        for (std::uint32_t c = 0; c < channels; ++c) {
            if (!skipSubframe(reader, size, sampleBits + (c == side ? 1 : 0))) {
                if (reader.failed() && !reaches(bytes, reader.bitPosition() / 8 + 1))
                    return Outcome::refused(bytes.cutShort(reader.bitPosition() / 8 + 1), pos);
                return Outcome::refused(QStringLiteral("damaged frame") + at(pos), pos);
            }
        }
        reader.alignToByte();
        const quint64 crcAt = reader.bitPosition() / 8;
        std::uint16_t crc = 0;
        for (quint64 at_ = pos; at_ < crcAt;) {
            const auto part = bytes.view(at_, std::size_t(std::min<quint64>(HitBytes::maxView, crcAt - at_)));
            if (part.empty())
                return Outcome::refused(bytes.cutShort(crcAt + 2), pos);
            crc = crc16(part, crc);
            at_ += part.size();
        }
        std::uint16_t stored = 0;
        if (!readBe(bytes, crcAt, stored))
            return Outcome::refused(bytes.cutShort(crcAt + 2), pos);
        if (stored != crc)
            return Outcome::refused(QStringLiteral("frame CRC mismatch") + at(pos), pos);
        pos = crcAt + 2;
        samples += size;
        ++frameNumber;
        ++frames;
    }
    if (frames == 0)
        return Outcome::refused(QStringLiteral("no audio frames"), pos);
    return Outcome::ok(pos);
}

Walker walkerFor(QStringView typeName)
{
    static const QHash<QString, Walker> walkers = {
        {QStringLiteral("JPEG"), &walkJpeg},       {QStringLiteral("PNG"), &walkPng},
        {QStringLiteral("GIF"), &walkGif},         {QStringLiteral("BMP"), &walkBmp},
        {QStringLiteral("TIFF"), &walkTiff},       {QStringLiteral("WebP"), &walkWebp},
        {QStringLiteral("HEIC"), &walkHeif},       {QStringLiteral("PDF"), &walkPdf},
        {QStringLiteral("ZIP/DOCX"), &walkZip},    {QStringLiteral("RAR"), &walkRar},
        {QStringLiteral("7z"), &walkSevenZip},     {QStringLiteral("MP4"), &walkIsoMedia},
        {QStringLiteral("MOV"), &walkIsoMedia},    {QStringLiteral("AVI"), &walkAvi},
        {QStringLiteral("MP3 (ID3)"), &walkMp3},   {QStringLiteral("MP3"), &walkMp3},
        {QStringLiteral("FLAC"), &walkFlac},       {QStringLiteral("WAV"), &walkWav},
        {QStringLiteral("AAC"), &walkAdts},        {QStringLiteral("M4A"), &walkIsoMedia},
    };
    return walkers.value(typeName.toString(), nullptr);
}

QString familyOf(QStringView typeName)
{
    if (typeName == u"MP3 (ID3)" || typeName == u"MP3")
        return QStringLiteral("MP3");
    if (typeName == u"MP4" || typeName == u"MOV" || typeName == u"M4A" || typeName == u"HEIC")
        return QStringLiteral("ISO");
    return typeName.toString();
}

bool walksFrames(QStringView typeName)
{
    return typeName == u"MP3 (ID3)" || typeName == u"MP3" || typeName == u"AAC";
}

} // namespace Verify
