#include "carver.h"

#include <algorithm>
#include <cstring>

CarveInput CarveInput::inBuffer(std::span<const std::uint8_t> bytes, std::size_t scanLength, quint64 baseOffset)
{
    CarveInput input;
    input.buffer = bytes;
    input.scanLength = std::min(scanLength, bytes.size());
    input.area = bytes;
    input.windowEnd = bytes.size();
    input.baseOffset = baseOffset;
    return input;
}

Carver::Carver(QList<FileSignature> signatures)
    : m_signatures(std::move(signatures))
{
}

Carver::~Carver() = default;

// Straightforward position-by-signature loop; the fast engine replaces it.
void Carver::carve(const CarveInput &input, const std::function<void(const CarveHit &)> &deliver) const
{
    const std::span<const std::uint8_t> buffer = input.buffer;
    const std::span<const std::uint8_t> area = input.area.empty() ? buffer : input.area;
    const std::size_t windowEnd = std::min(input.windowEnd, area.size());
    const std::size_t scanLength = std::min(input.scanLength, buffer.size());
    for (std::size_t p = 0; p < scanLength; ++p) {
        for (int s = 0; s < m_signatures.size(); ++s) {
            const FileSignature &sig = m_signatures[s];
            if (!sig.headerMatches(buffer, p))
                continue;
            if (sig.validator && !sig.validator(buffer.subspan(p, std::min<std::size_t>(16, buffer.size() - p))))
                continue;
            if (p >= windowEnd)
                continue;
            const std::size_t k = std::min({std::size_t(sig.maxFileSize), input.windowCap, windowEnd - p});
            if (k == 0)
                continue;
            const std::uint8_t *window = area.data() + p;
            const std::size_t h = std::size_t(sig.header.size());
            std::size_t end = k;
            CarvedFileHealth health = CarvedFileHealth::partial;
            const std::size_t f = sig.footer ? std::size_t(sig.footer->size()) : 0;
            if (f > 0 && k >= f && k - f >= h) {
                for (std::size_t q = k - f + 1; q-- > h;) {
                    if (std::memcmp(window + q, sig.footer->constData(), f) == 0) {
                        end = q + f;
                        health = CarvedFileHealth::good;
                        break;
                    }
                }
            }
            if (end <= h + 10)
                continue;
            deliver(CarveHit{p, s, qint64(end), health});
        }
    }
}

CarvedFile makeCarvedFile(const CarveHit &hit, const FileSignature &signature, quint64 baseOffset,
                          const QString &sourcePath, std::optional<CarvedData> data)
{
    CarvedFile file;
    file.signatureType = signature.typeName;
    file.fileExtension = signature.fileExtension;
    file.offset = baseOffset + hit.position;
    file.estimatedSize = hit.end;
    file.data = std::move(data);
    file.health = hit.health;
    file.sourcePath = sourcePath;
    file.recoveryStatus = RecoveryStatus::unknown;
    return file;
}
