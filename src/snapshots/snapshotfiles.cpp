#include "snapshotfiles.h"

#include <QCollator>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<QDateTime> modificationTime(const struct stat &status)
{
    const qint64 milliseconds = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
    if (status.st_mtim.tv_sec <= 0)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(milliseconds);
}

class FileReader
{
public:
    explicit FileReader(const QByteArray &path)
        : m_fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~FileReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Fills `buffer` as far as the file goes; -1 on an error.
    ssize_t fill(std::vector<char> &buffer)
    {
        size_t have = 0;
        while (have < buffer.size()) {
            const ssize_t got = ::read(m_fd, buffer.data() + have, buffer.size() - have);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            have += size_t(got);
        }
        return ssize_t(have);
    }

private:
    int m_fd;
};

std::optional<bool> sameBytes(const QByteArray &a, const QByteArray &b, const std::function<bool()> &cancelled)
{
    FileReader first(a);
    FileReader second(b);
    if (!first.isOpen() || !second.isOpen())
        return std::nullopt;
    std::vector<char> left(1 << 18);
    std::vector<char> right(1 << 18);
    for (;;) {
        if (cancelled && cancelled())
            return std::nullopt;
        const ssize_t got = first.fill(left);
        const ssize_t other = second.fill(right);
        if (got < 0 || other < 0)
            return std::nullopt;
        if (got != other || std::memcmp(left.data(), right.data(), size_t(got)) != 0)
            return false;
        if (got == 0)
            return true;
    }
}

QByteArray linkText(const QByteArray &path)
{
    std::vector<char> text(PATH_MAX + 1);
    const ssize_t length = ::readlink(path.constData(), text.data(), text.size() - 1);
    return length < 0 ? QByteArray() : QByteArray(text.data(), length);
}

} // namespace

QList<SnapshotFile> listSnapshotFolder(const QByteArray &folder, int *error)
{
    QList<SnapshotFile> files;
    DIR *directory = ::opendir(folder.constData());
    if (!directory) {
        if (error)
            *error = errno;
        return files;
    }
    const int descriptor = ::dirfd(directory);
    while (const dirent *entry = ::readdir(directory)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        SnapshotFile file;
        file.rawName = name;
        file.name = QFile::decodeName(name);
        struct stat status {};
        if (::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            file.isDirectory = S_ISDIR(status.st_mode);
            file.isSymlink = S_ISLNK(status.st_mode);
            file.size = S_ISREG(status.st_mode) ? qint64(status.st_size) : 0;
            file.modified = modificationTime(status);
        }
        file.category = categoryFor(file.name, file.isDirectory);
        files.append(file);
    }
    ::closedir(directory);

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(files.begin(), files.end(), [&collator](const SnapshotFile &a, const SnapshotFile &b) {
        if (a.isDirectory != b.isDirectory)
            return a.isDirectory;
        return collator.compare(a.name, b.name) < 0;
    });
    if (error)
        *error = 0;
    return files;
}

SnapshotComparison compareWithLive(const QByteArray &snapshotPath, const QByteArray &livePath,
                                   const std::function<bool()> &cancelled)
{
    struct stat live {};
    if (::lstat(livePath.constData(), &live) != 0)
        return errno == ENOENT || errno == ENOTDIR ? SnapshotComparison::missing : SnapshotComparison::notCompared;
    struct stat kept {};
    if (::lstat(snapshotPath.constData(), &kept) != 0)
        return SnapshotComparison::notCompared;
    if ((live.st_mode & S_IFMT) != (kept.st_mode & S_IFMT))
        return SnapshotComparison::changed;
    if (S_ISDIR(kept.st_mode))
        return SnapshotComparison::present;
    if (S_ISLNK(kept.st_mode))
        return linkText(snapshotPath) == linkText(livePath) ? SnapshotComparison::same : SnapshotComparison::changed;
    if (!S_ISREG(kept.st_mode))
        return SnapshotComparison::same;
    if (live.st_size != kept.st_size)
        return SnapshotComparison::changed;
    if (live.st_mtim.tv_sec == kept.st_mtim.tv_sec && live.st_mtim.tv_nsec == kept.st_mtim.tv_nsec)
        return SnapshotComparison::same;
    const std::optional<bool> equal = sameBytes(snapshotPath, livePath, cancelled);
    if (!equal)
        return SnapshotComparison::notCompared;
    return *equal ? SnapshotComparison::same : SnapshotComparison::changed;
}
