#include "trashlisting.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trash/trashinfo.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Deeper than any real tree; keeps a hostile one from exhausting file
// descriptors, since each level holds its folder open.
constexpr int maxFolderDepth = 256;
// Info files are a few lines; a larger one is not an info file.
constexpr qint64 maxInfoFileSize = 64 * 1024;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QDateTime dateOf(const struct timespec &time)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000);
}

QDateTime modificationTime(const struct stat &status)
{
#ifdef Q_OS_MACOS
    return dateOf(status.st_mtimespec);
#else
    return dateOf(status.st_mtim);
#endif
}

std::optional<QDateTime> birthTime(const QString &path, const struct stat &status)
{
#ifdef Q_OS_MACOS
    Q_UNUSED(path)
    return dateOf(status.st_birthtimespec);
#else
    Q_UNUSED(status)
    struct statx extended {};
    if (::statx(AT_FDCWD, encoded(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &extended) != 0
        || !(extended.stx_mask & STATX_BTIME))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(extended.stx_btime.tv_sec) * 1000 + extended.stx_btime.tv_nsec / 1000000);
#endif
}

qint64 measureAt(int folderFd, bool skipHidden, int depth)
{
    DIR *folder = ::fdopendir(folderFd);
    if (!folder) {
        ::close(folderFd);
        return 0;
    }
    qint64 total = 0;
    while (const dirent *entry = ::readdir(folder)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (skipHidden && name[0] == '.')
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(folder), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(status.st_mode)) {
            total += status.st_size;
            continue;
        }
        if (depth >= maxFolderDepth)
            continue;
        const int child = ::openat(::dirfd(folder), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0)
            total += measureAt(child, skipHidden, depth + 1);
    }
    ::closedir(folder);
    return total;
}

// The info file's text, read only when it is a small regular file: a link
// or a FIFO planted in a volume's Trash must not be followed or block.
QByteArray readInfoFile(const QString &path)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= maxInfoFileSize) {
        text.resize(qsizetype(status.st_size));
        const ssize_t count = ::read(fd, text.data(), size_t(text.size()));
        text.resize(count > 0 ? qsizetype(count) : 0);
    }
    ::close(fd);
    return text;
}

TrashItem freedesktopRecord(const TrashFolder &folder, const QString &name, bool isDirectory, qint64 size,
                            std::optional<QDateTime> modified, const TrashInfo &info)
{
    TrashItem item;
    item.trashPath = QUrl::fromLocalFile(folder.location.filesFolder + u'/' + name);
    // The name in files/ may be "report.2.pdf" after a collision there; the
    // standard says never to take the original name from it.
    // Items of a volume's Trash come from that volume. An info file there
    // naming a place elsewhere (a stick prepared to restore something into
    // ~/.config) does not say where the item came from.
    std::optional<QString> originalPath = info.originalPath;
    if (originalPath && !folder.isHome && *originalPath != folder.top
        && !originalPath->startsWith(folder.top.endsWith(u'/') ? folder.top : folder.top + u'/'))
        originalPath.reset();
    const QString original = originalPath ? QFileInfo(*originalPath).fileName() : QString();
    item.fileName = original.isEmpty() ? name : original;
    if (!original.isEmpty())
        item.originalPath = originalPath;
    item.deletedDate = info.deletionDate;
    item.modifiedDate = std::move(modified);
    item.isDirectory = isDirectory;
    item.fileSize = size;
    item.category = categoryFor(item.fileName, isDirectory);
    return item;
}

// Leading and trailing spaces and line breaks.
QString trimmedLines(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\n' || c == u'\r'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

std::optional<qint64> signedDecimal(const QString &text)
{
    static const QRegularExpression shape(u"\\A[+-]?[0-9]+\\z"_s);
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<QDateTime> secondsSinceEpoch(const QString &text)
{
    static const QRegularExpression shape(u"\\A[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?\\z"_s);
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    // QDateTime's range ends near the year 292 million; beyond it, or for
    // an overflowing exponent, there is no date to show.
    if (!ok || !std::isfinite(seconds) || std::fabs(seconds) > 1e14)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)));
}

} // namespace

std::optional<QStringList> folderEntries(const QString &path, int *error)
{
    DIR *folder = ::opendir(encoded(path).constData());
    if (!folder) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    QStringList names;
    while (const dirent *entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(folder);
    return names;
}

qint64 measureFolder(const QString &path, bool skipHidden)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? 0 : measureAt(fd, skipHidden, 0);
}

TrashItem macTrashItem(const QString &path)
{
    TrashItem item;
    item.trashPath = QUrl::fromLocalFile(path);
    item.fileName = QFileInfo(path).fileName();
    struct stat status {};
    if (::lstat(encoded(path).constData(), &status) == 0) {
        item.isDirectory = S_ISDIR(status.st_mode);
        item.fileSize = item.isDirectory ? measureFolder(path, true) : qint64(status.st_size);
        item.deletedDate = modificationTime(status);
        item.modifiedDate = birthTime(path, status);
    }
    item.category = categoryFor(item.fileName, item.isDirectory);
    return item;
}

TrashItem freedesktopTrashItem(const TrashFolder &folder, const QString &name)
{
    const QString path = folder.location.filesFolder + u'/' + name;
    bool isDirectory = false;
    qint64 size = 0;
    std::optional<QDateTime> modified;
    struct stat status {};
    if (::lstat(encoded(path).constData(), &status) == 0) {
        isDirectory = S_ISDIR(status.st_mode);
        // Everything that a restore brings back counts, hidden files too.
        size = isDirectory ? measureFolder(path, false) : qint64(status.st_size);
        modified = modificationTime(status);
    }
    const TrashInfo info =
        parseTrashInfo(readInfoFile(folder.location.infoFolder + u'/' + trashInfoFileName(name)), folder.top);
    return freedesktopRecord(folder, name, isDirectory, size, std::move(modified), info);
}

QStringList listedPaths(const std::optional<QString> &output)
{
    QStringList paths;
    const QStringList lines = output.value_or(QString()).split(u'\n');
    for (const QString &line : lines) {
        const QString path = trimmedLines(line);
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

ItemFacts parseItemFacts(const std::optional<QString> &output)
{
    ItemFacts facts;
    const QStringList fields = trimmedLines(output.value_or(QString())).split(u' ');
    if (fields.size() < 4)
        return facts;
    facts.size = signedDecimal(fields[0]).value_or(0);
    facts.modified = secondsSinceEpoch(fields[1]);
    facts.birth = secondsSinceEpoch(fields[2]);
    facts.isDirectory = fields[3].contains(u"Directory"_s);
    return facts;
}

qint64 parseFolderSize(const std::optional<QString> &output)
{
    const QString text = trimmedLines(output.value_or(QString()));
    qint64 bytes = 0;
    if (text.isEmpty() || qMulOverflow(signedDecimal(text).value_or(0), qint64(1024), &bytes))
        return 0;
    return bytes;
}

TrashItem macListedItem(const QString &path, const ItemFacts &facts,
                        const std::optional<std::optional<QString>> &folderSizeOutput)
{
    TrashItem item;
    item.trashPath = QUrl::fromLocalFile(path);
    item.fileName = QFileInfo(path).fileName();
    item.isDirectory = facts.isDirectory;
    item.fileSize = facts.isDirectory && folderSizeOutput ? parseFolderSize(*folderSizeOutput) : facts.size;
    item.deletedDate = facts.modified;
    item.modifiedDate = facts.birth;
    item.category = categoryFor(item.fileName, item.isDirectory);
    return item;
}

QString freedesktopAdministratorListCommand(const TrashLocation &location)
{
    // Each item is described by one child shell, so that its fields come out
    // in order and a name with any character (a line feed too) stays one
    // field. Info files are read only when they are regular files, never
    // through a link: this runs as root.
    const QString perItem =
        u"n=${1#./}; printf \"%s\\0\" \"$n\"; find \"$1\" -maxdepth 0 -printf \"%y\\0%s\\0%T@\\0\"; "
        "if [ -d \"$1\" ] && [ ! -h \"$1\" ]; then du -sk -- \"$1\" | cut -f1 | tr -d \"\\n\"; fi; printf \"\\0\"; "
        "i=\"$2/$n.trashinfo\"; if [ -f \"$i\" ] && [ ! -h \"$i\" ]; then head -c 65536 -- \"$i\" | tr -d \"\\0\"; fi; "
        "printf \"\\0\""_s;
    return u"cd -- '"_s + shellQuoted(location.filesFolder) + u"' 2>/dev/null || exit 0; "
        "find . -mindepth 1 -maxdepth 1 -exec sh -c '"_s + perItem + u"' sh {} '"_s
        + shellQuoted(location.infoFolder) + u"' \\;"_s;
}

QList<TrashItem> parseFreedesktopAdministratorList(const std::optional<QString> &output, const TrashFolder &folder)
{
    QList<TrashItem> items;
    const QStringList fields = output.value_or(QString()).split(QChar(0));
    constexpr qsizetype perItem = 6;
    for (qsizetype at = 0; at + perItem <= fields.size(); at += perItem) {
        const QString &name = fields[at];
        if (name.isEmpty() || name.contains(u'/'))
            continue;
        const bool isDirectory = fields[at + 1] == u"d"_s;
        const qint64 size = isDirectory ? parseFolderSize(fields[at + 4]) : signedDecimal(fields[at + 2]).value_or(0);
        const TrashInfo info = parseTrashInfo(fields[at + 5].toUtf8(), folder.top);
        items.append(freedesktopRecord(folder, name, isDirectory, size, secondsSinceEpoch(fields[at + 3]), info));
    }
    return items;
}

void sortNewestFirst(QList<TrashItem> &items)
{
    std::stable_sort(items.begin(), items.end(), [](const TrashItem &a, const TrashItem &b) {
        if (!b.deletedDate)
            return a.deletedDate.has_value();
        return a.deletedDate && *a.deletedDate > *b.deletedDate;
    });
}

QString displayedFolder(const QString &path, const QString &home)
{
    const QString base = home.endsWith(u'/') ? home.chopped(1) : home;
    if (base.isEmpty())
        return path;
    if (path == base)
        return u"~"_s;
    if (path.startsWith(base + u'/'))
        return u"~"_s + path.mid(base.size());
    return path;
}
