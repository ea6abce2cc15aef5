#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// A fraction from 0 to 1 as a whole percentage, truncated toward zero and
// followed by "%": 0.999 is "99%", 0.876 is "87%".
int truncatedPercent(double fraction);
QString percentText(double fraction);

// Positions of grid lines across a length: i * spacing for i = 0, 1, 2, ...
// while the position is less than the length. Nothing for a length of 0 (or a
// spacing that is not positive).
QList<qreal> gridLinePositions(qreal length, qreal spacing = 30.0);

// The same helpers for QML, plus the program's byte-count formatter.
class Format : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE static QString byteCount(qint64 bytes);
    // "m:ss", or "h:mm:ss" from an hour on.
    Q_INVOKABLE static QString duration(double seconds);
    Q_INVOKABLE static QString percent(double fraction) { return percentText(fraction); }
    Q_INVOKABLE static QList<qreal> gridLines(qreal length) { return gridLinePositions(length); }
};
