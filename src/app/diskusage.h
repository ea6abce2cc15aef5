#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// The sidebar's disk-usage card: how full the file system that holds a path
// ("/" unless told otherwise) is, as a fraction, a whole percentage, a colour
// and two size texts. It reads the file system when created, on refresh() and
// every refreshInterval milliseconds while that is positive.
class DiskUsage : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString path READ path WRITE setPath NOTIFY pathChanged)
    Q_PROPERTY(int refreshInterval READ refreshInterval WRITE setRefreshInterval NOTIFY refreshIntervalChanged)
    Q_PROPERTY(qint64 totalBytes READ totalBytes NOTIFY changed)
    Q_PROPERTY(qint64 freeBytes READ freeBytes NOTIFY changed)
    Q_PROPERTY(double usedFraction READ usedFraction NOTIFY changed)
    Q_PROPERTY(int usedPercent READ usedPercent NOTIFY changed)
    Q_PROPERTY(QString percentText READ percentText NOTIFY changed)
    Q_PROPERTY(bool isNearlyFull READ isNearlyFull NOTIFY changed)
    Q_PROPERTY(QColor accent READ accent NOTIFY changed)
    Q_PROPERTY(QString freeText READ freeText NOTIFY changed)
    Q_PROPERTY(QString totalText READ totalText NOTIFY changed)

public:
    // Above this used fraction the card turns neonRed; exactly this stays neonCyan.
    static constexpr double nearlyFullFraction = 0.9;

    explicit DiskUsage(QObject *parent = nullptr);

    QString path() const { return m_path; }
    void setPath(const QString &path);
    int refreshInterval() const { return m_timer.interval(); }
    void setRefreshInterval(int milliseconds);

    // Sets the sizes directly, as refresh() does after reading the file system.
    // A negative size (an unknown value) counts as 0.
    void setSizes(qint64 totalBytes, qint64 freeBytes);

    qint64 totalBytes() const { return m_total; }
    qint64 freeBytes() const { return m_free; }
    // (total - free) / total, kept within 0..1; 0 when total is 0.
    double usedFraction() const;
    // The used fraction times 100, truncated toward zero.
    int usedPercent() const;
    QString percentText() const;
    bool isNearlyFull() const { return usedFraction() > nearlyFullFraction; }
    QColor accent() const;
    QString freeText() const;
    QString totalText() const;

public Q_SLOTS:
    // Reads the file system again. A failed read shows as 0 and 0.
    void refresh();

Q_SIGNALS:
    void changed();
    void pathChanged();
    void refreshIntervalChanged();

private:
    QString m_path = QStringLiteral("/");
    qint64 m_total = 0;
    qint64 m_free = 0;
    QTimer m_timer;
};
