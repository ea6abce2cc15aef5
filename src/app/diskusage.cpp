#include "diskusage.h"

#include <QStorageInfo>

#include <limits>

#include "model/bytecount.h"
#include "model/palette.h"

DiskUsage::DiskUsage(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(30'000);
    connect(&m_timer, &QTimer::timeout, this, &DiskUsage::refresh);
    m_timer.start();
    refresh();
}

void DiskUsage::setPath(const QString &path)
{
    if (path == m_path)
        return;
    m_path = path;
    Q_EMIT pathChanged();
    refresh();
}

void DiskUsage::setRefreshInterval(int milliseconds)
{
    if (milliseconds == m_timer.interval() && m_timer.isActive() == (milliseconds > 0))
        return;
    m_timer.setInterval(qMax(0, milliseconds));
    if (milliseconds > 0)
        m_timer.start();
    else
        m_timer.stop();
    Q_EMIT refreshIntervalChanged();
}

void DiskUsage::setSizes(qint64 totalBytes, qint64 freeBytes)
{
    totalBytes = qMax<qint64>(0, totalBytes);
    freeBytes = qMax<qint64>(0, freeBytes);
    if (totalBytes == m_total && freeBytes == m_free)
        return;
    m_total = totalBytes;
    m_free = freeBytes;
    Q_EMIT changed();
}

double DiskUsage::usedFraction() const
{
    if (m_total <= 0)
        return 0.0;
    // A file system may report more free than total space (some network and
    // overlay file systems do); the bar must not grow backwards or overflow.
    const double fraction = static_cast<double>(m_total - m_free) / static_cast<double>(m_total);
    return qBound(0.0, fraction, 1.0);
}

int DiskUsage::usedPercent() const
{
    if (m_total <= 0 || m_free >= m_total)
        return 0;
    // Whole numbers from the byte counts: exact truncation, with none of the
    // rounding error that fraction * 100 would bring in.
    const qint64 used = m_total - m_free;
    if (used > std::numeric_limits<qint64>::max() / 100)
        return static_cast<int>(used / (m_total / 100));
    return static_cast<int>(used * 100 / m_total);
}

QString DiskUsage::percentText() const
{
    return QString::number(usedPercent()) + QLatin1Char('%');
}

QColor DiskUsage::accent() const
{
    return paletteColor(isNearlyFull() ? PaletteColor::neonRed : PaletteColor::neonCyan);
}

QString DiskUsage::freeText() const
{
    return formatByteCount(m_free);
}

QString DiskUsage::totalText() const
{
    return formatByteCount(m_total);
}

void DiskUsage::refresh()
{
    const QStorageInfo storage(m_path);
    if (!storage.isValid() || !storage.isReady()) {
        setSizes(0, 0);
        return;
    }
    // The space an ordinary user can still write, which is what "free" means
    // on the card; blocks reserved for root are not counted.
    setSizes(storage.bytesTotal(), storage.bytesAvailable());
}
