#include "referencecarver.h"

#include <algorithm>
#include <cstring>

std::vector<CarveHit> referenceCarve(const QList<FileSignature> &signatures, const CarveInput &input)
{
    std::vector<CarveHit> hits;
    const std::span<const std::uint8_t> buffer = input.buffer;
    const std::span<const std::uint8_t> area = input.area.empty() ? buffer : input.area;
    const std::size_t windowEnd = std::min(input.windowEnd, area.size());
    const std::size_t scanLength = std::min(input.scanLength, buffer.size());
    for (std::size_t p = 0; p < scanLength; ++p) {
        for (int s = 0; s < signatures.size(); ++s) {
            const FileSignature &sig = signatures[s];
            if (!sig.headerMatches(buffer, p))
                continue;
            if (sig.validator && !sig.validator(buffer.subspan(p, std::min<std::size_t>(16, buffer.size() - p))))
                continue;
            // Window: k = min(maxFileSize, windowCap, windowEnd - p); empty means no hit.
            if (p >= windowEnd || sig.maxFileSize <= 0)
                continue;
            const std::size_t k = std::min({std::size_t(sig.maxFileSize), input.windowCap, windowEnd - p});
            if (k == 0)
                continue;
            const std::uint8_t *window = area.data() + p;
            const std::size_t h = std::size_t(sig.header.size());
            const std::size_t f = sig.footer ? std::size_t(sig.footer->size()) : 0;
            std::size_t end = k;
            CarvedFileHealth health = CarvedFileHealth::partial;
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
            hits.push_back(CarveHit{p, s, qint64(end), health});
        }
    }
    return hits;
}
