#include "scanpace.h"

#include <cmath>

ScanPace ScanPace::of(quint64 bytesScanned, std::optional<double> fraction, double elapsedSeconds)
{
    ScanPace pace;
    // The first moments say nothing about the rate; a tiny elapsed time would
    // show an absurd one.
    if (elapsedSeconds < 0.05)
        return pace;
    pace.bytesPerSecond = double(bytesScanned) / elapsedSeconds;
    if (fraction && *fraction > 0.0 && *fraction <= 1.0)
        pace.secondsLeft = elapsedSeconds * (1.0 - *fraction) / *fraction;
    return pace;
}

QString formatDuration(double seconds)
{
    const qint64 whole = std::isfinite(seconds) && seconds > 0 ? qint64(std::llround(seconds)) : 0;
    if (whole >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", whole / 3600, (whole / 60) % 60, whole % 60);
    return QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
}
