#include "bytecount.h"

#include <QLocale>

#include <cmath>

QString formatByteCount(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const QLocale locale;
    const bool negative = bytes < 0;
    // qAbs of the minimum is undefined; such a size never describes a real file.
    const double magnitude = negative ? -static_cast<double>(bytes) : static_cast<double>(bytes);
    const QString sign = negative ? QStringLiteral("-") : QString();
    if (magnitude < 1000.0) {
        const qint64 whole = static_cast<qint64>(magnitude);
        return sign + locale.toString(whole) + (whole == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    }

    static const char *const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int decimals[] = {0, 1, 2, 2, 2, 2};
    int unit = 0;
    double value = magnitude / 1000.0;
    while (unit < 5) {
        // Move up a unit when rounding at this unit's precision would reach 1000,
        // so that 999,999 bytes reads "1 MB" rather than "1,000 KB".
        const double scale = std::pow(10.0, decimals[unit]);
        if (std::round(value * scale) / scale < 1000.0)
            break;
        value /= 1000.0;
        ++unit;
    }
    QString number = locale.toString(value, 'f', decimals[unit]);
    if (decimals[unit] > 0) {
        const QString point = locale.decimalPoint();
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(point))
            number.chop(point.size());
    }
    return sign + number + QLatin1Char(' ') + QLatin1String(units[unit]);
}
