#include "filesignature.h"

#include <cstring>

namespace {
constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 GiB = 1024 * MiB;

bool holds(std::span<const std::uint8_t> bytes, std::size_t at, const char *literal)
{
    const std::size_t n = std::strlen(literal);
    return at + n <= bytes.size() && std::memcmp(bytes.data() + at, literal, n) == 0;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

FileSignature make(const char *typeName, const char *extension, const char *headerHex, const char *footerHex,
                   qint64 maxSize, FileCategory category, FileSignature::Validator validator = {},
                   const char *required = nullptr, int requiredOffset = 0)
{
    FileSignature s;
    s.typeName = QString::fromLatin1(typeName);
    s.fileExtension = QString::fromLatin1(extension);
    s.header = hex(headerHex);
    if (footerHex)
        s.footer = hex(footerHex);
    s.maxFileSize = maxSize;
    s.category = category;
    s.validator = std::move(validator);
    if (required) {
        s.requiredBytes = QByteArray(required);
        s.requiredOffset = requiredOffset;
    }
    return s;
}
} // namespace

bool FileSignature::headerMatches(std::span<const std::uint8_t> bytes, std::size_t position) const
{
    const std::size_t n = std::size_t(header.size());
    return position <= bytes.size() && n <= bytes.size() - position
        && std::memcmp(bytes.data() + position, header.constData(), n) == 0;
}

namespace SignatureRules {
bool webp(std::span<const std::uint8_t> b) { return b.size() >= 12 && holds(b, 8, "WEBP"); }
bool heic(std::span<const std::uint8_t> b)
{
    return b.size() >= 12 && holds(b, 4, "ftyp") && holds(b, 8, "hei") && (b[11] == 'c' || b[11] == 'x');
}
bool mp4(std::span<const std::uint8_t> b) { return b.size() >= 8 && holds(b, 4, "ftyp"); }
bool mov(std::span<const std::uint8_t> b) { return b.size() >= 12 && holds(b, 4, "ftyp") && holds(b, 8, "qt"); }
bool avi(std::span<const std::uint8_t> b) { return b.size() >= 12 && holds(b, 8, "AVI "); }
bool wav(std::span<const std::uint8_t> b) { return b.size() >= 12 && holds(b, 8, "WAVE"); }
bool m4a(std::span<const std::uint8_t> b) { return b.size() >= 12 && holds(b, 4, "ftyp") && holds(b, 8, "M4A "); }
} // namespace SignatureRules

const QList<FileSignature> &defaultSignatures()
{
    using C = FileCategory;
    namespace R = SignatureRules;
    static const QList<FileSignature> catalogue = {
        make("JPEG", "jpg", "FFD8FF", "FFD9", 50 * MiB, C::image),
        make("PNG", "png", "89504E470D0A1A0A", "49454E44AE426082", 100 * MiB, C::image),
        make("GIF", "gif", "47494638", "003B", 50 * MiB, C::image),
        make("BMP", "bmp", "424D", nullptr, 100 * MiB, C::image),
        make("TIFF", "tiff", "49492A00", nullptr, 200 * MiB, C::image),
        make("WebP", "webp", "52494646", nullptr, 50 * MiB, C::image, R::webp, "WEBP", 8),
        make("HEIC", "heic", "000000", nullptr, 50 * MiB, C::image, R::heic, "ftyphei", 4),
        make("PDF", "pdf", "25504446", "2525454F46", 500 * MiB, C::document),
        make("ZIP/DOCX", "zip", "504B0304", nullptr, 1 * GiB, C::archive),
        make("RAR", "rar", "526172211A07", nullptr, 1 * GiB, C::archive),
        make("7z", "7z", "377ABCAF271C", nullptr, 1 * GiB, C::archive),
        make("MP4", "mp4", "000000", nullptr, 4 * GiB, C::video, R::mp4, "ftyp", 4),
        make("MOV", "mov", "000000", nullptr, 4 * GiB, C::video, R::mov, "ftypqt", 4),
        make("AVI", "avi", "52494646", nullptr, 4 * GiB, C::video, R::avi, "AVI ", 8),
        make("MP3 (ID3)", "mp3", "494433", nullptr, 100 * MiB, C::audio),
        make("MP3", "mp3", "FFFB", nullptr, 100 * MiB, C::audio),
        make("FLAC", "flac", "664C6143", nullptr, 500 * MiB, C::audio),
        make("WAV", "wav", "52494646", nullptr, 500 * MiB, C::audio, R::wav, "WAVE", 8),
        make("AAC", "aac", "FFF1", nullptr, 100 * MiB, C::audio),
        make("M4A", "m4a", "000000", nullptr, 500 * MiB, C::audio, R::m4a, "ftypM4A ", 4),
    };
    return catalogue;
}

const FileSignature *signatureNamed(const QString &typeName)
{
    for (const FileSignature &signature : defaultSignatures()) {
        if (signature.typeName == typeName)
            return &signature;
    }
    return nullptr;
}
