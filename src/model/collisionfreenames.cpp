#include "collisionfreenames.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

CollisionFreeNames::CollisionFreeNames(QString folder, const QString &fileName)
    : m_folder(std::move(folder))
    , m_fileName(fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) {
        m_stem = fileName.left(dot);
        m_extension = fileName.mid(dot + 1);
    } else {
        m_stem = fileName;
    }
}

QString CollisionFreeNames::next()
{
    const int n = m_next++;
    QString name = m_fileName;
    if (n > 0) {
        name = m_stem + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')');
        if (!m_extension.isEmpty())
            name += QLatin1Char('.') + m_extension;
    }
    return QDir(m_folder).filePath(name);
}

QString CollisionFreeNames::firstFree()
{
    for (;;) {
        const QString candidate = next();
        struct stat status {};
        // lstat: a dangling link still takes its name.
        if (::lstat(QFile::encodeName(candidate).constData(), &status) != 0)
            return candidate;
    }
}
