#include "savecarved.h"

#include "carving/sha256.h"
#include "carving/verify/hitverifier.h"
#include "model/collisionfreenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

SaveError SaveError::nothingToSave()
{
    return SaveError{u"FileCarvingService"_s, 1, u"Cannot recover: no data and source file not accessible."_s,
                     u"No data and source file not accessible"_s};
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

std::optional<uid_t> userId(const QProcessEnvironment &environment, const QString &name)
{
    bool ok = false;
    const uint id = environment.value(name).toUInt(&ok);
    return ok && id != 0 ? std::optional<uid_t>(uid_t(id)) : std::nullopt;
}

gid_t primaryGroupOf(uid_t user)
{
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(user, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_gid;
    return gid_t(-1);
}

} // namespace

SaveAccess SaveAccess::forProcess(uid_t effectiveUser, const QProcessEnvironment &environment)
{
    SaveAccess access;
    if (effectiveUser != 0)
        return access;
    access.isPrivate = true;
    if (const std::optional<uid_t> sudoUser = userId(environment, u"SUDO_UID"_s)) {
        access.owner = *sudoUser;
        bool ok = false;
        const uint group = environment.value(u"SUDO_GID"_s).toUInt(&ok);
        access.group = ok ? gid_t(group) : primaryGroupOf(*sudoUser);
    } else if (const std::optional<uid_t> pkexecUser = userId(environment, u"PKEXEC_UID"_s)) {
        access.owner = *pkexecUser;
        access.group = primaryGroupOf(*pkexecUser);
    }
    return access;
}

SaveAccess SaveAccess::current()
{
    const uid_t effectiveUser = ::geteuid();
    return effectiveUser != 0 ? SaveAccess() : forProcess(effectiveUser, QProcessEnvironment::systemEnvironment());
}

namespace {

// The process's umask, read without changing it where the system tells
// (Linux 4.7 and later); it limits the modes copied from a source.
mode_t processUmask()
{
    static const mode_t mask = [] {
        QFile status(u"/proc/self/status"_s);
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return mode_t(value);
                }
            }
        }
        const mode_t old = ::umask(022);
        ::umask(old);
        return old;
    }();
    return mask;
}

SaveResult failedWith(SaveError error)
{
    SaveResult result;
    result.error = std::move(error);
    return result;
}

SaveResult savedAt(const QString &path, qint64 length, const QByteArray &sha256)
{
    SaveResult result;
    result.savedPath = path;
    result.bytesWritten = length;
    result.sha256 = sha256;
    return result;
}

SaveError systemError(int number, const QString &path)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(number));
    return SaveError{u"POSIX"_s, number, path.isEmpty() ? reason : path + u": "_s + reason, reason};
}

SaveError sourceError(const QString &description)
{
    return SaveError{u"POSIX"_s, EIO, description, u"Could not read the source"_s};
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

// The temporary name being written, for removeUnfinishedSave(). A fixed
// buffer: a signal handler may read it at any moment, so it is never freed,
// and it is marked unused while it changes.
std::atomic<bool> unnamedFilesAllowed{true};

char unfinishedPath[4096];
std::atomic<bool> hasUnfinished{false};

void noteUnfinished(const QByteArray &path)
{
    hasUnfinished.store(false);
    if (path.size() >= qsizetype(sizeof unfinishedPath))
        return;
    std::memcpy(unfinishedPath, path.constData(), std::size_t(path.size()) + 1);
    hasUnfinished.store(true);
}

void forgetUnfinished()
{
    hasUnfinished.store(false);
}

QByteArray temporaryName(const QString &folder)
{
    return QFile::encodeName(QDir(folder).filePath(
        u".quorvel-partial-"_s + QString::number(QRandomGenerator::global()->generate64(), 36)));
}

bool unsupported(int number)
{
    return number == EINVAL || number == ENOSYS || number == ENOTSUP || number == EOPNOTSUPP || number == EPERM;
}

// Moves `from` onto `to` unless something is there. -1 with errno EEXIST
// when the name is taken.
int renameWithoutReplacing(const QByteArray &from, const QByteArray &to, bool isFolder, mode_t placeholderMode)
{
#if defined(Q_OS_LINUX) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!unsupported(errno))
        return -1;
#elif defined(Q_OS_MACOS)
    if (::renamex_np(from.constData(), to.constData(), RENAME_EXCL) == 0)
        return 0;
    if (!unsupported(errno))
        return -1;
#endif
    // File systems without an exclusive rename (FAT, exFAT, many FUSE
    // ones): a hard link is exclusive where links exist; elsewhere the
    // name is first taken with an empty placeholder of our own, which the
    // plain rename then replaces.
    if (!isFolder) {
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            return 0;
        }
        if (!unsupported(errno) && errno != EMLINK)
            return -1;
        const int placeholder = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, placeholderMode);
        if (placeholder < 0)
            return -1;
        ::close(placeholder);
    } else if (::mkdir(to.constData(), 0700) != 0) {
        return -1;
    }
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    const int number = errno;
    isFolder ? ::rmdir(to.constData()) : ::unlink(to.constData());
    errno = number;
    return -1;
}

// A file under construction in the destination folder, open for reading
// too so that the save can check what it wrote. It has no name
// where the system allows (O_TMPFILE: nothing is left behind whatever ends
// the program), else a hidden temporary one; it takes its final name only
// through commit(). Discarded unless committed.
class PendingFile
{
public:
    PendingFile() = default;
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;
    ~PendingFile() { discard(); }

    bool open(const QString &folder, mode_t mode, const SaveAccess &access, SaveError *error)
    {
        const QByteArray encodedFolder = QFile::encodeName(folder);
#ifdef O_TMPFILE
        // Naming it later goes through /proc/self/fd, which needs procfs.
        if (unnamedFilesAllowed.load() && ::access("/proc/self/fd", X_OK) == 0) {
            m_fd = ::open(encodedFolder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
            if (m_fd < 0 && errno != EOPNOTSUPP && errno != ENOSYS && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
                *error = systemError(errno, folder);
                return false;
            }
        }
#endif
        if (m_fd < 0) {
            for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
                m_temporary = temporaryName(folder);
                m_fd = ::open(m_temporary.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
                if (m_fd < 0 && errno != EEXIST) {
                    *error = systemError(errno, folder);
                    m_temporary.clear();
                    return false;
                }
            }
            if (m_fd < 0) {
                *error = systemError(EEXIST, folder);
                m_temporary.clear();
                return false;
            }
            noteUnfinished(m_temporary);
        }
        m_mode = mode;
        // Handed over before it has a name, so that it never shows up as
        // root's in the user's folder.
        if (access.owner != uid_t(-1))
            (void)::fchown(m_fd, access.owner, access.group);
        return true;
    }

    int fd() const { return m_fd; }

    bool commit(CollisionFreeNames &names, QString *finalPath, SaveError *error)
    {
        if (!m_temporary.isEmpty() && ::close(std::exchange(m_fd, -1)) != 0) {
            *error = systemError(errno, QString());
            return false;
        }
        for (;;) {
            *finalPath = names.next();
            const QByteArray target = QFile::encodeName(*finalPath);
            int result = 0;
            if (m_temporary.isEmpty()) {
                const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
                result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW);
            } else {
                result = renameWithoutReplacing(m_temporary, target, false, m_mode);
            }
            if (result == 0)
                break;
            if (errno != EEXIST) {
                *error = systemError(errno, *finalPath);
                return false;
            }
        }
        if (m_fd >= 0 && ::close(std::exchange(m_fd, -1)) != 0) {
            // The data may not have reached the disk: the name goes again.
            const int number = errno;
            ::unlink(QFile::encodeName(*finalPath).constData());
            *error = systemError(number, *finalPath);
            return false;
        }
        m_temporary.clear();
        forgetUnfinished();
        return true;
    }

private:
    void discard()
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        if (!m_temporary.isEmpty()) {
            ::unlink(m_temporary.constData());
            m_temporary.clear();
            forgetUnfinished();
        }
    }

    int m_fd = -1;
    QByteArray m_temporary;
    mode_t m_mode = 0600;
};

// Mode for a copy: never more open than the source, never with set-user-ID,
// set-group-ID or sticky bits; private copies keep only the owner's execute
// bit.
mode_t copyMode(mode_t sourceMode, bool isFolder, const SaveAccess &access)
{
    if (access.isPrivate)
        return isFolder || (sourceMode & S_IXUSR) ? 0700 : 0600;
    return sourceMode & 0777;
}

// `written`, when given, hears how many bytes are copied so far.
std::optional<SaveError> copyFileContents(const QString &from, int toFd, Sha256 *hash, qint64 *copied,
                                          const FileProgress &written = {})
{
    const int fromFd = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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
        if (hash)
            hash->add(QByteArrayView(buffer, got));
        *copied += got;
        if (written)
            written(*copied);
    }
    struct stat status {};
    if (!error && ::fstat(fromFd, &status) == 0) {
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        ::futimens(toFd, times);
    }
    ::close(fromFd);
    return error;
}

std::optional<SaveError> copyFileTo(const QString &from, const QString &to, mode_t mode, const SaveAccess &access)
{
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return systemError(errno, to);
    if (access.owner != uid_t(-1))
        (void)::fchown(fd, access.owner, access.group);
    qint64 copied = 0;
    std::optional<SaveError> error = copyFileContents(from, fd, nullptr, &copied);
    if (::close(fd) != 0 && !error)
        error = systemError(errno, to);
    if (error)
        ::unlink(QFile::encodeName(to).constData());
    return error;
}

// Copies the contents of folder `from` into the new, empty folder `to`.
// Links are copied as links (never followed out of the tree); sockets, pipes
// and device nodes are left out.
std::optional<SaveError> copyTreeInto(const QString &from, const QString &to, const SaveAccess &access)
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
        struct stat status {};
        if (::lstat(QFile::encodeName(entry.filePath()).constData(), &status) != 0)
            return systemError(errno, entry.filePath());
        if (S_ISLNK(status.st_mode)) {
            const QByteArray link = QFile::encodeName(entry.filePath());
            char linkTarget[4096];
            const ssize_t length = ::readlink(link.constData(), linkTarget, sizeof linkTarget - 1);
            if (length < 0)
                return systemError(errno, entry.filePath());
            linkTarget[length] = '\0';
            if (::symlink(linkTarget, encodedTarget.constData()) != 0)
                return systemError(errno, target);
            if (access.owner != uid_t(-1))
                (void)::lchown(encodedTarget.constData(), access.owner, access.group);
        } else if (S_ISDIR(status.st_mode)) {
            if (::mkdir(encodedTarget.constData(), 0700) != 0)
                return systemError(errno, target);
            if (access.owner != uid_t(-1))
                (void)::lchown(encodedTarget.constData(), access.owner, access.group);
            if (auto error = copyTreeInto(entry.filePath(), target, access))
                return error;
        } else if (S_ISREG(status.st_mode)) {
            if (auto error = copyFileTo(entry.filePath(), target, copyMode(status.st_mode, false, access), access))
                return error;
        }
    }
    struct stat status {};
    if (::stat(QFile::encodeName(from).constData(), &status) == 0) {
        const mode_t mode = access.isPrivate ? 0700 : (status.st_mode & 0777 & ~processUmask());
        ::chmod(QFile::encodeName(to).constData(), mode);
    }
    return std::nullopt;
}

// The bytes of a hit on a descriptor we write: the structure walk at save
// time reads back exactly what was written.
class WrittenBytes final : public ByteSource
{
public:
    explicit WrittenBytes(int fd) : m_fd(fd) {}

    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override
    {
        out->resize(qsizetype(length));
        qint64 done = 0;
        while (done < length) {
            const ssize_t got = ::pread(m_fd, out->data() + done, std::size_t(length - done), off_t(offset + quint64(done)));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                if (error)
                    *error = got == 0 ? u"the saved file is shorter than its range"_s
                                      : QString::fromLocal8Bit(std::strerror(errno));
                out->clear();
                return false;
            }
            done += got;
        }
        return true;
    }

private:
    int m_fd;
};

SaveError sourceChanged(const CarvedFile &file, const QString &why)
{
    return SaveError{u"POSIX"_s, EIO,
                     u"The source changed since the scan; the bytes at offset %1 are no longer the ones found there"_s
                             .arg(file.offset)
                         + (why.isEmpty() ? u"."_s : u" ("_s + why + u")."_s),
                     u"Source changed since the scan"_s};
}

constexpr qint64 copyBlock = 1 << 20;

// Reads at most a copy block of the hit's saved range, from `from` on.
std::optional<SaveError> readSaved(const CarvedFile &file, qint64 from, QByteArray *bytes)
{
    const qint64 length = std::min(copyBlock, file.savedLength() - from);
    QString error;
    if (!file.data->source)
        return sourceError(u"The hit has no byte source."_s);
    if (!file.data->source->read(file.data->offset + quint64(from), length, bytes, &error))
        return sourceError(error);
    // A short block would shift every later byte of the file, and an empty
    // one would never finish it.
    if (bytes->size() != length)
        return sourceError(u"The source returned %1 of %2 bytes."_s.arg(bytes->size()).arg(length));
    return std::nullopt;
}

// Writes the hit's saved range into `fd` a block at a time, `first` being
// its first block, so that a whole video costs no more memory than a photo,
// then checks on what was written that it is still the file the scan found.
std::optional<SaveError> writeHit(const CarvedFile &file, const QByteArray &first, int fd, const QString &folder,
                                  Sha256 *hash, const FileProgress &written)
{
    const qint64 length = file.savedLength();
    QByteArray bytes = first;
    for (qint64 done = 0; done < length; done += bytes.size()) {
        if (done > 0) {
            if (auto failure = readSaved(file, done, &bytes))
                return failure;
        }
        if (!writeAll(fd, bytes.constData(), bytes.size()))
            return systemError(errno, folder);
        hash->add(bytes);
        if (written)
            written(done + bytes.size());
    }
    if (!file.verification.isVerified())
        return std::nullopt;
    const FileSignature *signature = signatureNamed(file.signatureType);
    if (!signature)
        return std::nullopt;
    Verify::HitBytes onDisk({}, std::make_shared<WrittenBytes>(fd), 0, quint64(length));
    const Verification again = HitVerifier::walkOnce(*signature, onDisk);
    if (again.isVerified() && again.length == length)
        return std::nullopt;
    return sourceChanged(file, again.isVerified() ? u"its structure now ends elsewhere"_s : again.reason);
}

// The source is read again at save time. If it changed since the scan (the
// volume is in use, or earlier saves into it took those free blocks), the
// bytes are no longer the carved file: saving refuses rather than write
// something else under its name. The first bytes are compared before
// anything is created; a verified hit's structure is walked again on what
// was written, before it takes its name.
SaveResult saveBytes(const CarvedFile &file, const QString &folder, const QString &baseName, const SaveAccess &access,
                     const FileProgress &written)
{
    QByteArray first;
    if (auto failure = readSaved(file, 0, &first))
        return failedWith(*failure);
    if (!first.startsWith(file.data->head.left(first.size())))
        return failedWith(sourceChanged(file, QString()));
    PendingFile pending;
    SaveError error;
    if (!pending.open(folder, access.fileMode(), access, &error))
        return failedWith(error);
    Sha256 hash;
    if (auto failure = writeHit(file, first, pending.fd(), folder, &hash, written))
        return failedWith(*failure);
    CollisionFreeNames names(folder, baseName);
    QString path;
    if (!pending.commit(names, &path, &error))
        return failedWith(error);
    return savedAt(path, file.savedLength(), hash.result());
}

SaveResult copyFolder(const CarvedFile &file, const QString &folder, const QString &baseName, const SaveAccess &access)
{
    // Built under a hidden name and renamed when complete, like a file.
    QByteArray temporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(folder);
        if (::mkdir(temporary.constData(), 0700) == 0)
            break;
        if (errno != EEXIST)
            return failedWith(systemError(errno, folder));
        temporary.clear();
    }
    if (temporary.isEmpty())
        return failedWith(systemError(EEXIST, folder));
    const QString temporaryPath = QFile::decodeName(temporary);
    if (access.owner != uid_t(-1))
        (void)::lchown(temporary.constData(), access.owner, access.group);
    if (auto failure = copyTreeInto(file.sourcePath, temporaryPath, access)) {
        QDir(temporaryPath).removeRecursively();
        return failedWith(*failure);
    }
    CollisionFreeNames names(folder, baseName);
    for (;;) {
        const QString path = names.next();
        if (renameWithoutReplacing(temporary, QFile::encodeName(path), true, 0700) == 0)
            return savedAt(path, 0, QByteArray());
        if (errno != EEXIST) {
            const SaveError error = systemError(errno, path);
            QDir(temporaryPath).removeRecursively();
            return failedWith(error);
        }
    }
}

SaveResult copySource(const CarvedFile &file, const QString &folder, const QString &baseName, const SaveAccess &access,
                      const FileProgress &written)
{
    struct stat status {};
    if (::stat(QFile::encodeName(file.sourcePath).constData(), &status) != 0)
        return failedWith(SaveError::nothingToSave());
    if (S_ISDIR(status.st_mode))
        return copyFolder(file, folder, baseName, access);
    // A pipe would block saving for good, and a device node would be read
    // to its end.
    if (!S_ISREG(status.st_mode))
        return failedWith(SaveError{u"POSIX"_s, EINVAL, file.sourcePath + u": not a regular file or folder"_s,
                                    u"Not a regular file or folder"_s});
    PendingFile pending;
    SaveError error;
    if (!pending.open(folder, copyMode(status.st_mode, false, access), access, &error))
        return failedWith(error);
    Sha256 hash;
    qint64 copied = 0;
    if (auto failure = copyFileContents(file.sourcePath, pending.fd(), &hash, &copied, written))
        return failedWith(*failure);
    CollisionFreeNames names(folder, baseName);
    QString path;
    if (!pending.commit(names, &path, &error))
        return failedWith(error);
    return savedAt(path, copied, hash.result());
}

QString baseNameOf(const CarvedFile &file)
{
    // A hit with bytes names its volume or image in sourcePath, never the
    // file it was carved as; a volume labelled like a path ("/boot") would
    // otherwise name every carved hit "boot", "boot (1)"... without extension.
    if (!file.data && sourceFileExists(file.sourcePath)) {
        // A file in a freedesktop.org Trash may be stored under another
        // name ("photo.2.jpg" when a "photo.jpg" was trashed before); its
        // own name is the one it had.
        const QString name = QFileInfo(QDir::cleanPath(file.originalPath.value_or(file.sourcePath))).fileName();
        if (!name.isEmpty())
            return name;
    }
    return file.suggestedFileName();
}

SaveResult savePrepared(const CarvedFile &file, const QString &folder, const SaveAccess &access,
                        const FileProgress &written = {})
{
    const QString baseName = baseNameOf(file);
    if (file.data)
        return saveBytes(file, folder, baseName, access, written);
    if (sourceFileExists(file.sourcePath))
        return copySource(file, folder, baseName, access, written);
    return failedWith(SaveError::nothingToSave());
}

// What saving reads of a hit with bytes: its whole file when verified, else
// its carved window.
ByteSource::Range savedRange(const CarvedFile &file)
{
    return {file.data->offset, file.savedLength()};
}

SaveError prepareFailure(const QString &reason)
{
    return sourceError(reason.isEmpty() ? u"The source could not be read."_s : reason);
}

} // namespace

bool createSaveFolder(const QString &folder, const SaveAccess &access, QString *error)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    QStringList missing;
    QString existing = absolute;
    while (!QFileInfo::exists(existing)) {
        missing.prepend(existing);
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    for (const QString &path : std::as_const(missing)) {
        const QByteArray encoded = QFile::encodeName(path);
        if (::mkdir(encoded.constData(), access.folderMode()) != 0 && errno != EEXIST) {
            if (error)
                *error = u"cannot create the folder "_s + path + u": "_s + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (access.owner != uid_t(-1))
            (void)::lchown(encoded.constData(), access.owner, access.group);
    }
    if (!QFileInfo(absolute).isDir()) {
        if (error)
            *error = folder + u" is not a folder"_s;
        return false;
    }
    return true;
}

SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder, const SaveAccess &access)
{
    ByteSource *source = file.data ? file.data->source.get() : nullptr;
    if (source) {
        QString reason;
        if (!source->prepare({savedRange(file)}, &reason)) {
            source->release();
            return failedWith(prepareFailure(reason));
        }
    }
    SaveResult result = savePrepared(file, folder, access);
    if (source)
        source->release();
    return result;
}

namespace {

// Where the batch that starts at `begin` ends: each source is prepared once
// per batch (so a source behind an administrator run asks for the password
// once per batch, not once per hit), and no source's batch grows past its
// limit, since what it prepares takes room until the batch is released.
qsizetype batchEnd(const QList<CarvedFile> &files, qsizetype begin)
{
    struct Tally {
        qint64 cost = 0;
        ByteSource::Range last;
    };
    QHash<ByteSource *, Tally> tallies;
    for (qsizetype i = begin; i < files.size(); ++i) {
        const CarvedFile &file = files[i];
        if (!file.data || !file.data->source)
            continue;
        ByteSource *source = file.data->source.get();
        const qint64 limit = source->batchLimit();
        if (limit <= 0)
            continue;
        const ByteSource::Range range = savedRange(file);
        const auto known = tallies.find(source);
        const bool first = known == tallies.end();
        const qint64 cost = source->batchCost(range, first ? nullptr : &known->last);
        if (!first && known->cost + cost > limit)
            return i;
        Tally &tally = first ? tallies[source] : *known;
        tally.cost += cost;
        tally.last = range;
    }
    return files.size();
}

} // namespace

SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder, const SaveObserver &observer)
{
    SaveCounts counts;
    for (qsizetype begin = 0; begin < files.size();) {
        // A stop between batches must not cost a password prompt first.
        if (observer.proceed && !observer.proceed())
            break;
        const qsizetype end = batchEnd(files, begin);
        QList<ByteSource *> order;
        QHash<ByteSource *, QList<ByteSource::Range>> ranges;
        for (qsizetype i = begin; i < end; ++i) {
            const CarvedFile &file = files[i];
            if (!file.data || !file.data->source)
                continue;
            ByteSource *source = file.data->source.get();
            if (!ranges.contains(source))
                order.append(source);
            ranges[source].append(savedRange(file));
        }
        QHash<ByteSource *, QString> refused;
        for (ByteSource *source : order) {
            QString reason;
            if (!source->prepare(ranges.value(source), &reason))
                refused.insert(source, reason.isEmpty() ? QStringLiteral("The source could not be read.") : reason);
        }

        bool stopped = false;
        for (qsizetype i = begin; i < end; ++i) {
            if (observer.proceed && !observer.proceed()) {
                stopped = true;
                break;
            }
            const CarvedFile &file = files[i];
            SaveResult result;
            const auto refusal = file.data && file.data->source ? refused.constFind(file.data->source.get())
                                                               : refused.cend();
            if (refusal != refused.cend())
                result.error = prepareFailure(*refusal);
            else
                result = savePrepared(file, folder, observer.access, observer.written);
            if (result)
                ++counts.saved;
            else if (file.data || sourceFileExists(file.sourcePath))
                ++counts.failed;
            else
                ++counts.noData;
            if (observer.done)
                observer.done(file, result);
        }
        for (ByteSource *source : order)
            source->release();
        if (stopped)
            break;
        begin = end;
    }
    return counts;
}

void setUnnamedSaveFiles(bool allowed)
{
    unnamedFilesAllowed.store(allowed);
}

void removeUnfinishedSave()
{
    if (hasUnfinished.load())
        ::unlink(unfinishedPath);
}
