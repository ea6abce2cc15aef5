#include "trashtree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace trashtest {

TrashTree::TrashTree(const QString &root)
    : root(root)
{
    QDir().mkpath(root + QStringLiteral("/files"));
    QDir().mkpath(root + QStringLiteral("/info"));
}

QString TrashTree::addFile(const QString &name, const QByteArray &bytes, const QByteArray &info) const
{
    const QString path = location().filesFolder + u'/' + name;
    writeFile(path, bytes);
    if (!info.isNull())
        writeFile(location().infoFolder + u'/' + name + QStringLiteral(".trashinfo"), info);
    return path;
}

QString TrashTree::addFolder(const QString &name, const QList<std::pair<QString, QByteArray>> &files,
                             const QByteArray &info) const
{
    const QString path = location().filesFolder + u'/' + name;
    QDir().mkpath(path);
    for (const auto &[relative, bytes] : files) {
        QDir().mkpath(QFileInfo(path + u'/' + relative).absolutePath());
        writeFile(path + u'/' + relative, bytes);
    }
    if (!info.isNull())
        writeFile(location().infoFolder + u'/' + name + QStringLiteral(".trashinfo"), info);
    return path;
}

QByteArray TrashTree::info(const QString &originalPath, const QDateTime &deleted)
{
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(originalPath, "/") + "\nDeletionDate="
        + deleted.toString(Qt::ISODate).toUtf8() + '\n';
}

TrashItem itemAt(const QList<TrashItem> &items, const QString &trashPath)
{
    for (const TrashItem &item : items) {
        if (item.trashPath.toLocalFile() == trashPath)
            return item;
    }
    return {};
}

} // namespace trashtest
