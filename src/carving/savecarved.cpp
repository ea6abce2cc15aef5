#include "savecarved.h"

#include "model/collisionfreenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SaveError SaveError::nothingToSave()
{
    return SaveError{QStringLiteral("FileCarvingService"), 1,
                     QStringLiteral("Cannot recover: no data and source file not accessible.")};
}

bool sourceFileExists(const QString &sourcePath)
{
    if (sourcePath.isEmpty() || !QDir::isAbsolutePath(sourcePath))
        return false;
    struct stat status {};
    return ::stat(QFile::encodeName(sourcePath).constData(), &status) == 0;
}

bool canRecover(const CarvedFile &file)
{
    return file.data.has_value() || sourceFileExists(file.sourcePath);
}

namespace {

SaveError systemError(int number, const QString &path)
{
    return SaveError{QStringLiteral("POSIX"), number,
                     path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(number))};
}

bool writeAll(int fd, const char *bytes, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t wrote = ::write(fd, bytes + done, std::size_t(length - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = ENOSPC;
            return false;
        }
        done += wrote;
    }
    return true;
}

// Creates the first free candidate exclusively and returns its descriptor.
int createExclusive(CollisionFreeNames &names, QString *path, mode_t mode, int *error)
{
    for (;;) {
        *path = names.next();
        const int fd = ::open(QFile::encodeName(*path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            *error = fd >= 0 ? 0 : errno;
            return fd;
        }
    }
}

// Finishes a file we created: on failure it is removed again, so no partial
// file is left behind.
std::optional<SaveError> finishCreated(int fd, const QString &path, bool ok)
{
    int number = ok ? 0 : errno;
    if (::close(fd) != 0 && ok)
        number = errno;
    if (number == 0)
        return std::nullopt;
    ::unlink(QFile::encodeName(path).constData());
    return systemError(number, path);
}

std::optional<SaveError> copyFileContents(const QString &from, int toFd)
{
    const int fromFd = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (fromFd < 0)
        return systemError(errno, from);
    std::optional<SaveError> error;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fromFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = systemError(errno, from);
            break;
        }
        if (got == 0)
            break;
        if (!writeAll(toFd, buffer, got)) {
            error = systemError(errno, QString());
            break;
        }
    }
    struct stat status {};
    if (!error && ::fstat(fromFd, &status) == 0) {
        ::fchmod(toFd, status.st_mode & 07777);
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        ::futimens(toFd, times);
    }
    ::close(fromFd);
    return error;
}

std::optional<SaveError> copyFileTo(const QString &from, const QString &to)
{
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return systemError(errno, to);
    std::optional<SaveError> error = copyFileContents(from, fd);
    if (error) {
        ::close(fd);
        ::unlink(QFile::encodeName(to).constData());
        return error;
    }
    return finishCreated(fd, to, true);
}

// Copies the contents of folder `from` into the new, empty folder `to`.
// Links are copied as links (never followed out of the tree); sockets, pipes
// and device nodes are left out.
std::optional<SaveError> copyTreeInto(const QString &from, const QString &to)
{
    // QDir lists an unreadable folder as empty; the copy would then pass for
    // complete while everything inside it is missing.
    if (DIR *folder = ::opendir(QFile::encodeName(from).constData()))
        ::closedir(folder);
    else
        return systemError(errno, from);
    const QFileInfoList entries = QDir(from).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString target = QDir(to).filePath(entry.fileName());
        const QByteArray encodedTarget = QFile::encodeName(target);
        if (entry.isSymLink()) {
            const QByteArray link = QFile::encodeName(entry.filePath());
            char linkTarget[4096];
            const ssize_t length = ::readlink(link.constData(), linkTarget, sizeof linkTarget - 1);
            if (length < 0)
                return systemError(errno, entry.filePath());
            linkTarget[length] = '\0';
            if (::symlink(linkTarget, encodedTarget.constData()) != 0)
                return systemError(errno, target);
        } else if (entry.isDir()) {
            if (::mkdir(encodedTarget.constData(), 0700) != 0)
                return systemError(errno, target);
            if (auto error = copyTreeInto(entry.filePath(), target))
                return error;
        } else if (entry.isFile()) {
            if (auto error = copyFileTo(entry.filePath(), target))
                return error;
        }
    }
    struct stat status {};
    if (::stat(QFile::encodeName(from).constData(), &status) == 0)
        ::chmod(QFile::encodeName(to).constData(), status.st_mode & 07777);
    return std::nullopt;
}

SaveResult saveBytes(const CarvedFile &file, const QString &folder, const QString &baseName)
{
    QByteArray bytes;
    QString readError;
    if (!file.data->read(&bytes, &readError))
        return {QString(), SaveError{QStringLiteral("POSIX"), EIO, readError}};
    // The bytes are read again from the source when the hit is saved. If the
    // source changed since the scan (the volume is in use, or earlier saves
    // into it took those free blocks), these are no longer the carved file:
    // refuse rather than save something else under its name.
    if (!bytes.startsWith(file.data->head))
        return {QString(), SaveError{QStringLiteral("POSIX"), EIO,
                                     QStringLiteral("The source changed since the scan; the bytes at offset %1 are no "
                                                    "longer the ones found there.")
                                         .arg(file.offset)}};
    CollisionFreeNames names(folder, baseName);
    QString path;
    int error = 0;
    const int fd = createExclusive(names, &path, 0666, &error);
    if (fd < 0)
        return {QString(), systemError(error, path)};
    const bool wrote = writeAll(fd, bytes.constData(), bytes.size());
    if (auto failure = finishCreated(fd, path, wrote))
        return {QString(), failure};
    return {path, std::nullopt};
}

SaveResult copySource(const CarvedFile &file, const QString &folder, const QString &baseName)
{
    const QByteArray source = QFile::encodeName(file.sourcePath);
    struct stat status {};
    if (::stat(source.constData(), &status) != 0)
        return {QString(), SaveError::nothingToSave()};
    CollisionFreeNames names(folder, baseName);
    QString path;
    if (S_ISDIR(status.st_mode)) {
        for (;;) {
            path = names.next();
            if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
                break;
            if (errno != EEXIST)
                return {QString(), systemError(errno, path)};
        }
        if (auto failure = copyTreeInto(file.sourcePath, path)) {
            QDir(path).removeRecursively();
            return {QString(), failure};
        }
        return {path, std::nullopt};
    }
    int error = 0;
    const int fd = createExclusive(names, &path, 0600, &error);
    if (fd < 0)
        return {QString(), systemError(error, path)};
    if (auto failure = copyFileContents(file.sourcePath, fd)) {
        ::close(fd);
        ::unlink(QFile::encodeName(path).constData());
        return {QString(), failure};
    }
    if (auto failure = finishCreated(fd, path, true))
        return {QString(), failure};
    return {path, std::nullopt};
}

QString baseNameOf(const CarvedFile &file)
{
    // A hit with bytes names its volume or image in sourcePath, never the
    // file it was carved as; a volume labelled like a path ("/boot") would
    // otherwise name every carved hit "boot", "boot (1)"... without extension.
    if (!file.data && sourceFileExists(file.sourcePath)) {
        const QString name = QFileInfo(QDir::cleanPath(file.sourcePath)).fileName();
        if (!name.isEmpty())
            return name;
    }
    return file.suggestedFileName();
}

SaveResult savePrepared(const CarvedFile &file, const QString &folder)
{
    const QString baseName = baseNameOf(file);
    if (file.data)
        return saveBytes(file, folder, baseName);
    if (sourceFileExists(file.sourcePath))
        return copySource(file, folder, baseName);
    return {QString(), SaveError::nothingToSave()};
}

SaveError prepareFailure(const QString &reason)
{
    return SaveError{QStringLiteral("POSIX"), EIO, reason};
}

} // namespace

SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder)
{
    if (file.data && file.data->source) {
        QString reason;
        if (!file.data->source->prepare({{file.data->offset, file.data->length}}, &reason))
            return {QString(), prepareFailure(reason)};
    }
    return savePrepared(file, folder);
}

SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder)
{
    // One prepare per source, so that a source behind an administrator run
    // asks for the password once per batch, not once per hit.
    QList<ByteSource *> order;
    QHash<ByteSource *, QList<ByteSource::Range>> ranges;
    for (const CarvedFile &file : files) {
        if (!file.data || !file.data->source)
            continue;
        ByteSource *source = file.data->source.get();
        if (!ranges.contains(source))
            order.append(source);
        ranges[source].append({file.data->offset, file.data->length});
    }
    QHash<ByteSource *, bool> prepared;
    for (ByteSource *source : order) {
        QString reason;
        prepared.insert(source, source->prepare(ranges.value(source), &reason));
    }

    SaveCounts counts;
    for (const CarvedFile &file : files) {
        SaveResult result;
        if (file.data && file.data->source && !prepared.value(file.data->source.get()))
            result.error = prepareFailure(QString());
        else
            result = savePrepared(file, folder);
        if (result)
            ++counts.saved;
        else if (file.data || sourceFileExists(file.sourcePath))
            ++counts.failed;
        else
            ++counts.noData;
    }
    return counts;
}
