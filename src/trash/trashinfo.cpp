#include "trashinfo.h"

#include <QDir>
#include <QFile>
#include <QList>

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<QString> decodedPath(const QByteArray &value, const QString &top)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(value);
    // A NUL would cut the path short in every system call that gets it.
    if (bytes.isEmpty() || bytes.contains('\0'))
        return std::nullopt;
    const QString path = QFile::decodeName(bytes);
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    // The standard forbids ".." in a relative path: such an entry could name
    // a place outside the volume it claims to come from.
    const QList<QStringView> parts = QStringView(path).split(u'/');
    for (const QStringView part : parts) {
        if (part == u".."_s)
            return std::nullopt;
    }
    if (top.isEmpty())
        return std::nullopt;
    return QDir::cleanPath(top + u'/' + path);
}

} // namespace

std::optional<QDateTime> parseDeletionDate(const QString &value)
{
    QDateTime date = QDateTime::fromString(value, Qt::ISODate);
    if (!date.isValid())
        date = QDateTime::fromString(value, u"yyyyMMdd'T'HH:mm:ss"_s);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

TrashInfo parseTrashInfo(const QByteArray &text, const QString &top)
{
    TrashInfo info;
    bool inGroup = false;
    bool pathSeen = false;
    bool dateSeen = false;
    const QList<QByteArray> lines = text.split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inGroup || line.startsWith('#') || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Path" && !pathSeen) {
            pathSeen = true;
            info.originalPath = decodedPath(value, top);
        } else if (key == "DeletionDate" && !dateSeen) {
            dateSeen = true;
            info.deletionDate = parseDeletionDate(QString::fromUtf8(value));
        }
    }
    return info;
}

QString trashInfoFileName(const QString &fileName)
{
    return fileName + u".trashinfo"_s;
}

QByteArray withoutDirectorySize(const QByteArray &cache, const QString &fileName)
{
    // Each line: "<bytes> <mtime of the info file> <percent-encoded name>".
    const QByteArray name = QFile::encodeName(fileName);
    QList<QByteArray> lines = cache.split('\n');
    const qsizetype before = lines.size();
    lines.removeIf([&](const QByteArray &line) {
        const QList<QByteArray> fields = line.split(' ');
        return fields.size() == 3 && QByteArray::fromPercentEncoding(fields[2]) == name;
    });
    return lines.size() == before ? cache : lines.join('\n');
}
