#include "formatting.h"

#include "carving/scanpace.h"

#include "model/bytecount.h"

#include <cmath>

int truncatedPercent(double fraction)
{
    if (!std::isfinite(fraction))
        return 0;
    // 0.29 * 100 is 28.999999999999996 in binary floating point; without the
    // nudge a progress of 29 % would read 28%. It is far below what a real
    // fraction can resolve, so 0.999 still reads 99%.
    return static_cast<int>(std::trunc(fraction * 100.0 + (fraction >= 0 ? 1e-9 : -1e-9)));
}

QString percentText(double fraction)
{
    return QString::number(truncatedPercent(fraction)) + QLatin1Char('%');
}

QList<qreal> gridLinePositions(qreal length, qreal spacing)
{
    QList<qreal> positions;
    if (!(spacing > 0) || !std::isfinite(length))
        return positions;
    // i * spacing rather than repeated addition, which drifts on long runs.
    for (qsizetype i = 0;; ++i) {
        const qreal position = static_cast<qreal>(i) * spacing;
        if (!(position < length))
            break;
        positions.append(position);
    }
    return positions;
}

QString Format::byteCount(qint64 bytes)
{
    return formatByteCount(bytes);
}

QString Format::duration(double seconds)
{
    return formatDuration(seconds);
}
