#pragma once

// Small file trees for tests: a file with given bytes, its folders made on
// the way.

#include <QDir>
#include <QFile>
#include <QFileInfo>

inline bool plant(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
