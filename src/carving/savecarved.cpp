#include "savecarved.h"

#include "carving/verify/hitverifier.h"
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
        const int fd = ::open(QFile::encodeName(*path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
                    *error = got == 0 ? QStringLiteral("the saved file is shorter than its range")
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

const FileSignature *catalogueRow(const QString &typeName)
{
    for (const FileSignature &signature : defaultSignatures()) {
        if (signature.typeName == typeName)
            return &signature;
    }
    return nullptr;
}

SaveError sourceChanged(const CarvedFile &file, const QString &why)
{
    return SaveError{QStringLiteral("POSIX"), EIO,
                     QStringLiteral("The source changed since the scan; the bytes at offset %1 are no longer the ones "
                                    "found there")
                             .arg(file.offset)
                         + (why.isEmpty() ? QStringLiteral(".") : QStringLiteral(" (") + why + QStringLiteral(")."))};
}

constexpr qint64 copyBlock = 1 << 20;

// Reads `length` bytes (at most a copy block) of the hit's saved range.
std::optional<SaveError> readSaved(const CarvedFile &file, qint64 from, QByteArray *bytes)
{
    const qint64 length = std::min(copyBlock, file.savedLength() - from);
    QString error;
    if (!file.data->source)
        return SaveError{QStringLiteral("POSIX"), EIO, QStringLiteral("The hit has no byte source.")};
    if (!file.data->source->read(file.data->offset + quint64(from), length, bytes, &error))
        return SaveError{QStringLiteral("POSIX"), EIO, error};
    return std::nullopt;
}

// Writes the hit's saved range into `fd` a block at a time, `first` being
// its first block, so that a whole video costs no more memory than a photo,
// then checks on what was written that it is still the file the scan found.
std::optional<SaveError> writeHit(const CarvedFile &file, const QByteArray &first, int fd, const QString &path)
{
    const qint64 length = file.savedLength();
    QByteArray bytes = first;
    for (qint64 done = 0; done < length; done += bytes.size()) {
        if (done > 0) {
            if (auto failure = readSaved(file, done, &bytes))
                return failure;
        }
        if (!writeAll(fd, bytes.constData(), bytes.size()))
            return systemError(errno, path);
    }
    if (!file.verification.isVerified())
        return std::nullopt;
    const FileSignature *signature = catalogueRow(file.signatureType);
    if (!signature)
        return std::nullopt;
    Verify::HitBytes written({}, std::make_shared<WrittenBytes>(fd), 0, quint64(length));
    const Verification again = HitVerifier::walkOnce(*signature, written);
    if (again.isVerified() && again.length == length)
        return std::nullopt;
    return sourceChanged(file, again.isVerified() ? QStringLiteral("its structure now ends elsewhere") : again.reason);
}

// The source is read again at save time. If it changed since the scan (the
// volume is in use, or earlier saves into it took those free blocks), the
// bytes are no longer the carved file: saving refuses rather than write
// something else under its name. The first bytes are compared before
// anything is created; a verified hit's structure is walked again on what
// was written.
SaveResult saveBytes(const CarvedFile &file, const QString &folder, const QString &baseName)
{
    QByteArray first;
    if (auto failure = readSaved(file, 0, &first))
        return {QString(), failure};
    if (!first.startsWith(file.data->head.left(first.size())))
        return {QString(), sourceChanged(file, QString())};
    CollisionFreeNames names(folder, baseName);
    QString path;
    int error = 0;
    const int fd = createExclusive(names, &path, 0666, &error);
    if (fd < 0)
        return {QString(), systemError(error, path)};
    if (std::optional<SaveError> failure = writeHit(file, first, fd, path)) {
        ::close(fd);
        ::unlink(QFile::encodeName(path).constData());
        return {QString(), failure};
    }
    if (auto failure = finishCreated(fd, path, true))
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

// What saving reads of a hit with bytes: its whole file when verified, else
// its carved window.
ByteSource::Range savedRange(const CarvedFile &file)
{
    return {file.data->offset, file.savedLength()};
}

SaveError prepareFailure(const QString &reason)
{
    return SaveError{QStringLiteral("POSIX"), EIO, reason};
}

} // namespace

SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder)
{
    ByteSource *source = file.data ? file.data->source.get() : nullptr;
    if (source) {
        QString reason;
        if (!source->prepare({savedRange(file)}, &reason)) {
            source->release();
            return {QString(), prepareFailure(reason)};
        }
    }
    SaveResult result = savePrepared(file, folder);
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
                result = savePrepared(file, folder);
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
