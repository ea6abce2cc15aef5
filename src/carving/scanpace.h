#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// How fast a running scan goes and how long it still needs, computed once for
// the window and the command-line carver alike.
struct ScanPace {
    double bytesPerSecond = 0.0;
    // Absent until the scan knows what fraction it has done.
    std::optional<double> secondsLeft;

    // From the bytes read so far, the fraction done (when the source's size
    // is known) and the seconds since the scan started. The time left is
    // what the fraction done took, scaled to what remains, so it counts
    // whatever the scan does besides reading.
    static ScanPace of(quint64 bytesScanned, std::optional<double> fraction, double elapsedSeconds);
};

// A duration as "m:ss", or "h:mm:ss" from an hour on; seconds are rounded.
QString formatDuration(double seconds);
