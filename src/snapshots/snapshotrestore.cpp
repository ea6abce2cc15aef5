#include "snapshotrestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>
#endif

#include "model/collisionfreenames.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString shown(const QByteArray &path)
{
    return QFile::decodeName(path);
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The entries of a folder as the bytes the file system holds: a name that
// is not valid UTF-8 (an old Latin-1 file) must still be found again.
QList<QByteArray> entriesOf(const QByteArray &folder, int *error)
{
    QList<QByteArray> names;
    DIR *directory = ::opendir(folder.constData());
    if (!directory) {
        *error = errno;
        return names;
    }
    while (const dirent *entry = ::readdir(directory)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    *error = 0;
    return names;
}

// Bytes of regular files below `path`, links not followed.
qint64 bytesBelow(const QByteArray &path)
{
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0)
        return 0;
    if (S_ISREG(status.st_mode))
        return status.st_size;
    if (!S_ISDIR(status.st_mode))
        return 0;
    qint64 total = 0;
    int error = 0;
    const QList<QByteArray> names = entriesOf(path, &error);
    for (const QByteArray &name : names)
        total += bytesBelow(path + '/' + name);
    return total;
}

// The names to try for `name` in `folder`: its own bytes first, then the
// numbered names of CollisionFreeNames.
class TargetNames
{
public:
    TargetNames(const QByteArray &folder, const QByteArray &name)
        : m_folder(folder), m_name(name), m_numbered(QFile::decodeName(folder), QFile::decodeName(name))
    {
        m_numbered.next();
    }

    QByteArray next()
    {
        if (m_first) {
            m_first = false;
            return m_folder + '/' + m_name;
        }
        return QFile::encodeName(m_numbered.next());
    }

private:
    QByteArray m_folder;
    QByteArray m_name;
    CollisionFreeNames m_numbered;
    bool m_first = true;
};

class Restorer
{
public:
    Restorer(const std::function<bool()> &cancelled, const std::function<void(qint64, qint64)> &progress, qint64 total)
        : m_cancelled(cancelled), m_progress(progress), m_total(total), m_buffer(1 << 20)
    {
    }

    // Copies `source` into `folder` under the first free name; the path made,
    // or empty when nothing was made.
    QByteArray copy(const QByteArray &source, const QByteArray &folder)
    {
        struct stat status {};
        if (::lstat(source.constData(), &status) != 0) {
            fail(source, errno);
            return {};
        }
        const qsizetype slash = source.lastIndexOf('/');
        const QByteArray name = slash < 0 ? source : source.mid(slash + 1);
        if (S_ISREG(status.st_mode))
            return copyFile(source, folder, name);
        if (S_ISDIR(status.st_mode))
            return copyFolder(source, status, folder, name);
        if (S_ISLNK(status.st_mode))
            return copyLink(source, folder, name);
        outcome.failures.append(shown(source) + u": not a regular file, folder or link"_s);
        return {};
    }

    bool stopped()
    {
        if (!outcome.cancelled && m_cancelled && m_cancelled())
            outcome.cancelled = true;
        return outcome.cancelled;
    }

    RestoreOutcome outcome;

private:
    void fail(const QByteArray &path, int error) { outcome.failures.append(shown(path) + u": "_s + reason(error)); }

    // Writes `size` bytes at the file position of `output`; with `sparse`,
    // blocks of zeros are skipped and left as holes. 0, or the error number.
    static int put(int output, const char *data, size_t size, bool sparse)
    {
        constexpr size_t block = 64 * 1024;
        for (size_t offset = 0; offset < size;) {
            const size_t length = std::min(block, size - offset);
            const char *start = data + offset;
            if (sparse && start[0] == 0 && std::memcmp(start, start + 1, length - 1) == 0) {
                if (::lseek(output, off_t(length), SEEK_CUR) < 0)
                    return errno;
                offset += length;
                continue;
            }
            for (size_t written = 0; written < length;) {
                const ssize_t done = ::write(output, start + written, length - written);
                if (done < 0 && errno == EINTR)
                    continue;
                if (done <= 0)
                    return done < 0 ? errno : ENOSPC;
                written += size_t(done);
            }
            offset += length;
        }
        return 0;
    }

    QByteArray copyFile(const QByteArray &source, const QByteArray &folder, const QByteArray &name)
    {
        // O_NONBLOCK: a pipe put in the file's place must not hang the copy.
        const int input = ::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (input < 0) {
            fail(source, errno);
            return {};
        }
        struct stat status {};
        if (::fstat(input, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(input);
            outcome.failures.append(shown(source) + u": changed while being copied"_s);
            return {};
        }
        ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) & ~O_NONBLOCK);

        TargetNames names(folder, name);
        QByteArray target;
        int output = -1;
        for (;;) {
            target = names.next();
            output = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (output >= 0 || errno != EEXIST)
                break;
        }
        if (output < 0) {
            fail(target, errno);
            ::close(input);
            return {};
        }

        bool ok = true;
        int error = 0;
        // On the snapshot's own file system (btrfs, XFS) the copy can share
        // the snapshot's blocks: made at once and taking no room, which
        // matters when a volume is full enough that files were deleted.
        // Anywhere else the bytes are copied.
        bool shared = false;
#ifdef FICLONE
        shared = !stopped() && ::ioctl(output, FICLONE, input) == 0;
        if (shared) {
            m_done += status.st_size;
            if (m_progress)
                m_progress(m_done, m_total);
        }
#endif
        // A source with holes (a disk image, a database) keeps them: copied
        // whole onto another drive it could need many times its room on disk.
        const bool sparse = qint64(status.st_blocks) * 512 < qint64(status.st_size);
        off_t length = 0;
        while (ok && !shared) {
            if (stopped()) {
                ok = false;
                break;
            }
            const ssize_t got = ::read(input, m_buffer.data(), m_buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                error = got < 0 ? errno : 0;
                ok = got == 0;
                break;
            }
            error = put(output, m_buffer.data(), size_t(got), sparse);
            if (error != 0) {
                ok = false;
                break;
            }
            length += got;
            m_done += got;
            if (m_progress)
                m_progress(m_done, m_total);
        }
        // Skipped zeros at the end are not written at all.
        if (ok && sparse && !shared && ::ftruncate(output, length) != 0) {
            error = errno;
            ok = false;
        }
        if (ok) {
            if (m_keepOwners)
                (void)::fchown(output, status.st_uid, status.st_gid);
            ::fchmod(output, status.st_mode & 0777);
            const struct timespec times[2] = {status.st_atim, status.st_mtim};
            ::futimens(output, times);
        }
        // Written data can still fail to reach the disk (a full or
        // disconnected drive): that shows at close.
        if (::close(output) != 0 && ok) {
            error = errno;
            ok = false;
        }
        ::close(input);
        if (!ok) {
            // A half-written copy would pass for the file; it goes.
            ::unlink(target.constData());
            if (!outcome.cancelled)
                fail(source, error);
            return {};
        }
        ++outcome.filesCopied;
        return target;
    }

    QByteArray copyLink(const QByteArray &source, const QByteArray &folder, const QByteArray &name)
    {
        std::vector<char> text(PATH_MAX + 1);
        const ssize_t length = ::readlink(source.constData(), text.data(), text.size() - 1);
        if (length < 0) {
            fail(source, errno);
            return {};
        }
        text[size_t(length)] = '\0';
        TargetNames names(folder, name);
        for (;;) {
            const QByteArray path = names.next();
            if (::symlink(text.data(), path.constData()) == 0) {
                if (m_keepOwners) {
                    struct stat status {};
                    if (::lstat(source.constData(), &status) == 0)
                        (void)::lchown(path.constData(), status.st_uid, status.st_gid);
                }
                ++outcome.filesCopied;
                return path;
            }
            if (errno != EEXIST) {
                fail(path, errno);
                return {};
            }
        }
    }

    QByteArray copyFolder(const QByteArray &source, const struct stat &status, const QByteArray &folder,
                          const QByteArray &name)
    {
        TargetNames names(folder, name);
        QByteArray target;
        for (;;) {
            target = names.next();
            // Private until it is filled: nobody else may put entries in it
            // meanwhile.
            if (::mkdir(target.constData(), 0700) == 0)
                break;
            if (errno != EEXIST) {
                fail(target, errno);
                return {};
            }
        }
        int error = 0;
        const QList<QByteArray> entries = entriesOf(source, &error);
        if (error != 0)
            fail(source, error);
        for (const QByteArray &entry : entries) {
            if (stopped())
                break;
            copy(source + '/' + entry, target);
        }
        if (m_keepOwners)
            (void)::lchown(target.constData(), status.st_uid, status.st_gid);
        ::chmod(target.constData(), status.st_mode & 0777);
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        ::utimensat(AT_FDCWD, target.constData(), times, AT_SYMLINK_NOFOLLOW);
        return target;
    }

    const std::function<bool()> &m_cancelled;
    const std::function<void(qint64, qint64)> &m_progress;
    qint64 m_total = 0;
    qint64 m_done = 0;
    // Run as root (the way to read snapshots kept for root), copies would
    // otherwise all belong to root, and a user could not change their own
    // restored files. They keep the owners they have in the snapshot, as
    // cp -a does; where the destination can't (FAT), they stay root's.
    bool m_keepOwners = ::geteuid() == 0;
    std::vector<char> m_buffer;
};

} // namespace

bool liesWithin(const QString &path, const QString &folder)
{
    const QString resolvedPath = QFileInfo(path).canonicalFilePath();
    const QString resolvedFolder = QFileInfo(folder).canonicalFilePath();
    if (resolvedPath.isEmpty() || resolvedFolder.isEmpty())
        return false;
    return resolvedPath == resolvedFolder || resolvedFolder == u"/"_s || resolvedPath.startsWith(resolvedFolder + u'/');
}

RestoreOutcome restoreFromSnapshot(const QString &snapshotRoot, const QList<QByteArray> &items, const QString &destination,
                                   const QStringList &protectedFolders, const std::function<bool()> &cancelled,
                                   const std::function<void(qint64 done, qint64 total)> &progress)
{
    RestoreOutcome refused;
    if (!QFileInfo(destination).isDir()) {
        refused.refusal = u"The folder %1 does not exist."_s.arg(destination);
        return refused;
    }
    for (const QString &folder : QStringList{snapshotRoot} + protectedFolders) {
        if (!folder.isEmpty() && liesWithin(destination, folder)) {
            refused.refusal = u"Files can't be restored into a snapshot. Choose a folder outside %1."_s.arg(folder);
            return refused;
        }
    }

    const QByteArray root = QFile::encodeName(QDir::cleanPath(snapshotRoot));
    QList<QByteArray> sources;
    for (const QByteArray &item : items) {
        // Names below the snapshot only: "../x" or an absolute path would
        // reach outside it.
        const QList<QByteArray> parts = item.split('/');
        const bool escapes = item.isEmpty() || item.startsWith('/')
            || std::any_of(parts.begin(), parts.end(), [](const QByteArray &part) { return part == ".." || part == "."; });
        if (!escapes)
            sources.append(root + '/' + item);
    }

    qint64 total = 0;
    for (const QByteArray &source : sources)
        total += bytesBelow(source);
    if (progress)
        progress(0, total);

    const QByteArray target = QFile::encodeName(destination);
    Restorer restorer(cancelled, progress, total);
    for (const QByteArray &source : sources) {
        if (restorer.stopped())
            break;
        const qsizetype failuresBefore = restorer.outcome.failures.size();
        const QByteArray made = restorer.copy(source, target);
        if (!made.isEmpty() && restorer.outcome.failures.size() == failuresBefore && !restorer.outcome.cancelled) {
            ++restorer.outcome.itemsRestored;
            restorer.outcome.createdPaths.append(QFile::decodeName(made));
        }
    }
    return restorer.outcome;
}
