#include "safefile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace SafeFile {

namespace {

constexpr int baseFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

int openWithoutFollowing(int folderFd, const char *name, bool keepAccessTime)
{
#ifdef O_NOATIME
    if (keepAccessTime) {
        int fd;
        do
            fd = ::openat(folderFd, name, baseFlags | O_NOATIME);
        while (fd < 0 && errno == EINTR);
        // Refused for files of other users; anything else is the answer.
        if (fd >= 0 || errno != EPERM)
            return fd;
    }
#else
    Q_UNUSED(keepAccessTime);
#endif
    int fd;
    do
        fd = ::openat(folderFd, name, baseFlags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

qsizetype readOpened(int fd, const struct stat &status, char *buffer, qsizetype capacity, qint64 *fileSize)
{
    if (fileSize)
        *fileSize = qint64(status.st_size);
    qsizetype got = -1;
    if (status.st_size > 0) {
        ssize_t n;
        do
            n = ::pread(fd, buffer, std::size_t(capacity), 0);
        while (n < 0 && errno == EINTR);
        got = n < 0 ? -1 : qsizetype(n);
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return got;
}

} // namespace

int openRegular(int folderFd, const char *name, struct stat *status, bool keepAccessTime)
{
    const int fd = openWithoutFollowing(folderFd, name, keepAccessTime);
    if (fd < 0)
        return -1;
    if (::fstat(fd, status) != 0 || !S_ISREG(status->st_mode)) {
        ::close(fd);
        errno = ENXIO;
        return -1;
    }
    return fd;
}

qsizetype readHead(int folderFd, const char *name, char *buffer, qsizetype capacity, qint64 *fileSize,
                   bool keepAccessTime)
{
    struct stat status {};
    const int fd = openRegular(folderFd, name, &status, keepAccessTime);
    if (fd < 0)
        return -1;
    return readOpened(fd, status, buffer, capacity, fileSize);
}

qsizetype readHead(const QString &path, char *buffer, qsizetype capacity, qint64 *fileSize)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat before {};
    if (encoded.isEmpty() || ::fstatat(AT_FDCWD, encoded.constData(), &before, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!S_ISREG(before.st_mode)) {
        errno = ENXIO;
        return -1;
    }
    struct stat status {};
    const int fd = openRegular(AT_FDCWD, encoded.constData(), &status, true);
    if (fd < 0)
        return -1;
    return readOpened(fd, status, buffer, capacity, fileSize);
}

} // namespace SafeFile
