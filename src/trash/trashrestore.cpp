#include "trashrestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/collisionfreenames.h"
#include "system/platform.h"
#include "trash/trashinfo.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Deeper than any real tree; each level of a copy holds two folders open.
constexpr int maxDepth = 256;
// A folder holding this many "name (n)" entries is not worth searching on.
constexpr int maxNameTries = 100000;
constexpr size_t copyBufferSize = 1 << 20;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    // Closes now and reports a delayed write error (NFS, a full device).
    int close()
    {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

int renameExclusive(const char *from, const char *to)
{
#ifdef Q_OS_MACOS
    return ::renamex_np(from, to, RENAME_EXCL) == 0 ? 0 : errno;
#else
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0 ? 0 : errno;
#endif
}

int renameOverPlaceholder(const char *from, const char *to, bool isDirectory)
{
    if (isDirectory) {
        if (::mkdir(to, 0700) != 0)
            return errno;
    } else {
        const int fd = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        ::close(fd);
    }
    if (::rename(from, to) == 0)
        return 0;
    const int error = errno;
    if (isDirectory)
        ::rmdir(to);
    else
        ::unlink(to);
    return error;
}

struct Times {
    struct timespec access;
    struct timespec modification;
};

Times timesOf(const struct stat &status)
{
#ifdef Q_OS_MACOS
    return {status.st_atimespec, status.st_mtimespec};
#else
    return {status.st_atim, status.st_mtim};
#endif
}

struct TreeCopy {
    CopyProgress progress;
    std::vector<char> buffer = std::vector<char>(copyBufferSize);
    qint64 copied = 0;
};

int writeAll(int fd, const char *bytes, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes += written;
        length -= size_t(written);
    }
    return 0;
}

int copyContents(int in, int out, qint64 expected, TreeCopy &copy)
{
    qint64 total = 0;
    for (;;) {
        const ssize_t count = ::read(in, copy.buffer.data(), copy.buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (count == 0)
            break;
        if (const int error = writeAll(out, copy.buffer.data(), size_t(count)))
            return error;
        total += count;
        copy.copied += count;
        if (copy.progress)
            copy.progress(copy.copied);
    }
    // What landed must be all there was: a source that changed size or a
    // write the file system dropped fails the copy.
    struct stat written {};
    if (total != expected || ::fstat(out, &written) != 0 || written.st_size != expected)
        return EIO;
#ifdef Q_OS_MACOS
    // No syncfs there: each file goes to the device before the item is removed.
    if (::fsync(out) != 0)
        return errno;
#endif
    return 0;
}

std::optional<QList<QByteArray>> namesIn(int folderFd)
{
    // fdopendir takes the descriptor it is given.
    const int own = ::dup(folderFd);
    DIR *folder = own < 0 ? nullptr : ::fdopendir(own);
    if (!folder) {
        if (own >= 0)
            ::close(own);
        return std::nullopt;
    }
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    }
    ::closedir(folder);
    return names;
}

// Copies `name` in `fromFolder` to the new entry `toName` in `toFolder`,
// which it creates exclusively (EEXIST when the name is taken). `created` is
// set once the entry exists, so that the caller knows there is something to
// remove when a later step fails.
int copyEntry(int fromFolder, const char *name, int toFolder, const char *toName, TreeCopy &copy, int depth,
              bool *created)
{
    struct stat status {};
    if (::fstatat(fromFolder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const Times times = timesOf(status);
    const struct timespec timeValues[2] = {times.access, times.modification};
    const mode_t mode = status.st_mode & 07777;

    if (S_ISREG(status.st_mode)) {
        Descriptor in(::openat(fromFolder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.isValid())
            return errno;
        Descriptor out(::openat(toFolder, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.isValid())
            return errno;
        *created = true;
        if (const int error = copyContents(in.get(), out.get(), status.st_size, copy))
            return error;
        // Modes and times as mv keeps them; a file system that can't hold
        // them (FAT) still gets the contents.
        ::fchmod(out.get(), mode);
        ::futimens(out.get(), timeValues);
        return out.close();
    }

    if (S_ISDIR(status.st_mode)) {
        if (depth >= maxDepth)
            return ELOOP;
        if (::mkdirat(toFolder, toName, 0700) != 0)
            return errno;
        *created = true;
        Descriptor from(::openat(fromFolder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        Descriptor to(::openat(toFolder, toName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!from.isValid() || !to.isValid())
            return errno;
        const std::optional<QList<QByteArray>> children = namesIn(from.get());
        if (!children)
            return errno;
        for (const QByteArray &child : *children) {
            bool childCreated = false;
            if (const int error = copyEntry(from.get(), child.constData(), to.get(), child.constData(), copy,
                                            depth + 1, &childCreated))
                return error;
        }
        // Last, so that a read-only folder could still be filled.
        ::fchmod(to.get(), mode);
        ::futimens(to.get(), timeValues);
        return 0;
    }

    if (S_ISLNK(status.st_mode)) {
        std::vector<char> target(size_t(status.st_size > 0 ? status.st_size : PATH_MAX) + 1);
        const ssize_t length = ::readlinkat(fromFolder, name, target.data(), target.size());
        if (length < 0)
            return errno;
        if (size_t(length) >= target.size())
            return ENAMETOOLONG;
        target[size_t(length)] = '\0';
        if (::symlinkat(target.data(), toFolder, toName) != 0)
            return errno;
        *created = true;
        ::utimensat(toFolder, toName, timeValues, AT_SYMLINK_NOFOLLOW);
        return 0;
    }

    if (S_ISFIFO(status.st_mode)) {
        if (::mkfifoat(toFolder, toName, 0600) != 0)
            return errno;
        *created = true;
        ::fchmodat(toFolder, toName, mode, 0);
        ::utimensat(toFolder, toName, timeValues, AT_SYMLINK_NOFOLLOW);
        return 0;
    }

    // Sockets and device nodes: a user can't make them, and they hold no data.
    return ENOTSUP;
}

// Removes `name` in `folder` and everything below it, without following
// links; 0, or the first error met (removal goes on past it).
int removeEntry(int folder, const char *name, int depth)
{
    struct stat status {};
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISDIR(status.st_mode))
        return ::unlinkat(folder, name, 0) == 0 ? 0 : errno;
    if (depth >= maxDepth)
        return ELOOP;
    // A read-only folder of the user's (copied as such, or trashed so) can't
    // be emptied until it is writable again.
    if ((status.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(folder, name, (status.st_mode | S_IRWXU) & 07777, 0);
    int result = 0;
    {
        Descriptor inner(::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.isValid())
            return errno;
        const std::optional<QList<QByteArray>> children = namesIn(inner.get());
        if (!children)
            return errno;
        for (const QByteArray &child : *children) {
            const int error = removeEntry(inner.get(), child.constData(), depth + 1);
            if (result == 0)
                result = error;
        }
    }
    if (::unlinkat(folder, name, AT_REMOVEDIR) != 0 && result == 0)
        result = errno;
    return result;
}

int removePath(const QString &path)
{
    const QFileInfo info(path);
    Descriptor parent(::open(encoded(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isValid())
        return errno;
    return removeEntry(parent.get(), encoded(info.fileName()).constData(), 0);
}

// Copies the item at `source` into `folder` under the first free name of
// `names`. On failure nothing of the copy is left.
int copyAcrossDevices(const QString &source, const QString &folder, CollisionFreeNames &names,
                      const CopyProgress &progress, QString *target)
{
    const QFileInfo sourceInfo(source);
    Descriptor from(::open(encoded(sourceInfo.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Descriptor to(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!from.isValid() || !to.isValid())
        return errno;
    const QByteArray sourceName = encoded(sourceInfo.fileName());
    TreeCopy copy{progress};
    for (int tries = 0; tries < maxNameTries; ++tries) {
        *target = names.next();
        const QByteArray targetName = encoded(QFileInfo(*target).fileName());
        bool created = false;
        int error = copyEntry(from.get(), sourceName.constData(), to.get(), targetName.constData(), copy, 0, &created);
        if (error == EEXIST && !created)
            continue;
#ifndef Q_OS_MACOS
        // The Trash item goes next: the copy must be on the device first,
        // not only in the page cache of a stick that may be pulled.
        if (error == 0 && ::syncfs(to.get()) != 0)
            error = errno;
#endif
        if (error != 0 && created)
            removeEntry(to.get(), targetName.constData(), 0);
        return error;
    }
    return EEXIST;
}

// The info file and cache line of an item that has left a freedesktop.org
// Trash's files/ folder.
void forgetTrashEntry(const TrashItem &item, const Platform &platform)
{
    if (platform.kind() != PlatformKind::gnuLinux)
        return;
    const QFileInfo source(item.trashPath.toLocalFile());
    const QFileInfo files(source.absolutePath());
    if (files.fileName() != u"files"_s)
        return;
    const QString root = files.absolutePath();
    ::unlink(encoded(root + u"/info/"_s + trashInfoFileName(source.fileName())).constData());
    if (!item.isDirectory)
        return;
    QFile cache(root + u"/directorysizes"_s);
    if (!cache.open(QIODevice::ReadOnly))
        return;
    const QByteArray before = cache.readAll();
    cache.close();
    const QByteArray after = withoutDirectorySize(before, source.fileName());
    if (after == before)
        return;
    // Rewritten through a temporary file and a rename, as the standard asks,
    // so that a reader never sees half a cache.
    QSaveFile rewritten(cache.fileName());
    if (rewritten.open(QIODevice::WriteOnly) && rewritten.write(after) == after.size())
        rewritten.commit();
}

bool refusedForRights(int error)
{
    return error == EACCES || error == EPERM;
}

RestoreOutcome restoreInto(const TrashItem &item, const QString &folder, const QString &name, Platform &platform,
                           const CopyProgress &progress)
{
    RestoreOutcome outcome;
    const QString source = item.trashPath.toLocalFile();
    struct stat status {};
    if (source.isEmpty() || ::lstat(encoded(source).constData(), &status) != 0) {
        outcome.error = source + u": "_s + systemError(source.isEmpty() ? ENOENT : errno);
        return outcome;
    }
    const bool isDirectory = S_ISDIR(status.st_mode);

    CollisionFreeNames names(folder, name);
    QString target;
    int error = EEXIST;
    for (int tries = 0; error == EEXIST && tries < maxNameTries; ++tries) {
        target = names.next();
        error = moveWithoutReplacing(source, target, isDirectory);
    }
    if (error == EXDEV) {
        CollisionFreeNames copyNames(folder, name);
        error = copyAcrossDevices(source, folder, copyNames, progress, &target);
        if (error == 0) {
            outcome.restored = true;
            outcome.restoredPath = target;
            // The copy is complete and on the device; what can't be removed
            // of the original stays in the Trash with its info file.
            outcome.leftInTrash = removePath(source) != 0;
            if (!outcome.leftInTrash)
                forgetTrashEntry(item, platform);
            return outcome;
        }
    }
    if (error == 0) {
        outcome.restored = true;
        outcome.restoredPath = target;
        forgetTrashEntry(item, platform);
        return outcome;
    }
    if (!refusedForRights(error)) {
        outcome.error = target + u": "_s + systemError(error);
        return outcome;
    }

    // An item left behind by a program that ran as root, or a folder only
    // root may write to: root copies it and hands the copy to the user.
    target = CollisionFreeNames(folder, name).firstFree();
    const ToolResult copy =
        platform.administrator().runShell(platform.copyCommand(source, target, isDirectory), StreamMode::discardAll);
    if (!copy.launched) {
        outcome.error = copy.startError.value_or(u"The administrator copy could not be started"_s);
        return outcome;
    }
    if (copy.exitStatus != 0) {
        outcome.error = u"Failed to copy file with admin privileges"_s;
        return outcome;
    }
    outcome.restored = true;
    outcome.restoredPath = target;
    outcome.leftInTrash = true;
    return outcome;
}

} // namespace

int moveWithoutReplacing(const QString &from, const QString &to, bool isDirectory)
{
    const QByteArray source = encoded(from);
    const QByteArray target = encoded(to);
    const int error = renameExclusive(source.constData(), target.constData());
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP)
        return renameOverPlaceholder(source.constData(), target.constData(), isDirectory);
    return error;
}

RestoreOutcome restoreTrashItem(const TrashItem &item, const QString &folder, Platform &platform,
                                const CopyProgress &progress)
{
    return restoreInto(item, folder, item.fileName, platform, progress);
}

RestoreOutcome restoreTrashItemToOriginalLocation(const TrashItem &item, Platform &platform,
                                                  const CopyProgress &progress)
{
    const QFileInfo original(item.originalPath.value_or(QString()));
    if (!item.originalPath || original.fileName().isEmpty()) {
        RestoreOutcome outcome;
        outcome.error = item.fileName + u": the original location is not known"_s;
        return outcome;
    }
    const QString folder = original.absolutePath();
    if (!QDir().mkpath(folder)) {
        RestoreOutcome outcome;
        outcome.error = folder + u": the folder could not be created"_s;
        return outcome;
    }
    return restoreInto(item, folder, original.fileName(), platform, progress);
}
