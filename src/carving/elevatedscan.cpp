#include "elevatedscan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/carver.h"
#include "carving/directscan.h"
#include "carving/rootreader.h"
#include "carving/scansink.h"
#include "model/bytecount.h"
#include "system/commandrunner.h"
#include "system/samedevice.h"

namespace {

const QString scriptFileName = QStringLiteral("scan_helper.sh");
const QString readyFileName = QStringLiteral("ready.txt");
const QString stopFileName = QStringLiteral("stop");

QString temporaryFolderOr(const QString &folder)
{
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

// Creates `path` readable by this user alone and returns 0, or the error
// number. mkdir fails on any existing entry (a folder, a file or a planted
// symlink), so a path that someone else prepared is never reused; the mode is
// set again because the umask may have taken bits away.
int createPrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0)
        return errno;
    if (::chmod(native.constData(), 0700) != 0) {
        const int saved = errno;
        ::rmdir(native.constData());
        return saved;
    }
    return 0;
}

// A fresh private folder in `parent` under a name from `makeName`; empty with
// a reason on failure. A name that is taken is never reused: a new one is drawn.
QString createUniquePrivateFolder(const QString &parent, QString (*makeName)(), QString *error)
{
    QDir().mkpath(parent);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString path = parent + QLatin1Char('/') + makeName();
        const int failure = createPrivateFolder(path);
        if (failure == 0)
            return path;
        *error = QString::fromLocal8Bit(std::strerror(failure));
        if (failure != EEXIST)
            return {};
    }
    return {};
}

// What the walks of a helper scan may keep of the disk in the temporary
// folder ahead of the scan: half its free space when the scan begins, and
// never more than the largest file a type allows (a walk reads no further).
// Nothing when that folder lies on the disk being scanned: the copies would
// take the free space where its deleted files lie.
qint64 keepLimit(const QString &temporaryFolder, const QString &devicePath)
{
    if (savesOntoScannedDevice(temporaryFolder, devicePath))
        return 0;
    qint64 largest = 0;
    for (const FileSignature &signature : defaultSignatures())
        largest = std::max(largest, signature.maxFileSize);
    const QStorageInfo storage(temporaryFolder);
    const qint64 free = storage.isValid() ? storage.bytesAvailable() : 0;
    return std::min(largest + ElevatedScan::chunkSize, free / 2);
}

QString fetchFolderName()
{
    return QStringLiteral("QuorvelFetch_") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Removes the work folder while a root helper may still be writing into it.
// The stop file goes in first and out last, so the helper sees either it or a
// missing folder at every check; a file it still managed to add makes the final
// rmdir fail, and the next pass takes it.
void removeWorkFolder(const QString &path)
{
    if (path.isEmpty())
        return;
    QFile stop(path + QLatin1Char('/') + stopFileName);
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (!QFileInfo::exists(path))
            return;
        if (stop.open(QIODevice::WriteOnly))
            stop.close();
        QDir folder(path);
        const QFileInfoList entries = folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            if (entry.fileName() == stopFileName)
                continue;
            if (entry.isDir() && !entry.isSymLink())
                QDir(entry.filePath()).removeRecursively();
            else
                QFile::remove(entry.filePath());
        }
        QFile::remove(stop.fileName());
        if (folder.rmdir(path))
            return;
        QThread::msleep(100);
    }
}

qint64 readyIndex(const QString &workFolder, bool *done)
{
    *done = false;
    QFile ready(workFolder + QLatin1Char('/') + readyFileName);
    if (!ready.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromUtf8(ready.readAll()).trimmed();
    if (text == QLatin1String("DONE")) {
        *done = true;
        return -1;
    }
    bool ok = false;
    const qint64 index = text.toLongLong(&ok);
    return ok ? index : -1;
}

QString progressText(const QString &volumeName, qint64 scanned, qint64 totalSize, qsizetype hitCount)
{
    QString text = QStringLiteral("Scanning ") + volumeName + QStringLiteral(": ") + formatByteCount(scanned);
    if (totalSize != 0)
        text += QStringLiteral(" / ") + formatByteCount(totalSize);
    return text + QStringLiteral(" — ") + QString::number(hitCount) + QStringLiteral(" files found");
}

} // namespace

namespace ElevatedScan {

qint64 chunkLimit(qint64 totalSize)
{
    if (totalSize <= 0)
        return 0;
    return totalSize / chunkSize + (totalSize % chunkSize != 0 ? 1 : 0);
}

QString chunkFileName(qint64 index)
{
    return QStringLiteral("chunk_%1.bin").arg(index, 6, 10, QLatin1Char('0'));
}

QString workFolderName()
{
    return QStringLiteral("QuorvelRecovery_") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// MAX 0: no size is known, copy until dd finds nothing more.
// `alive` is checked before every write and in every wait: the helper runs as
// root, so only its own checks can stop it. The work folder is held open on
// descriptor 3 and compared by device and inode, so a folder that was removed,
// or removed and recreated by someone else under the same name, ends the run
// instead of receiving copies of the disk. umask 022 keeps the chunks readable
// by the program when root's umask is stricter; the 0700 folder keeps them
// private.
QByteArray helperScript(qint64 chunkLimit)
{
    return QByteArrayLiteral("#!/bin/bash\n"
                             "DEVICE=\"$1\"\n"
                             "OUTDIR=\"$2\"\n"
                             "APP_PID=\"$3\"\n"
                             "MAX=")
        + QByteArray::number(chunkLimit) + QByteArrayLiteral("\nBS=") + QByteArray::number(chunkSize)
        + QByteArrayLiteral("\n"
                            "umask 022\n"
                            "exec 3<\"$OUTDIR\" || exit 1\n"
                            "cd -P -- \"$OUTDIR\" || exit 1\n"
                            "alive() { [ \"$OUTDIR\" -ef /dev/fd/3 ] && [ ! -e stop ] && kill -0 \"$APP_PID\" 2>/dev/null; }\n"
                            "quit() { [ \"$OUTDIR\" -ef /dev/fd/3 ] && rm -f chunk_*.bin; exit 0; }\n"
                            "# Root only ever creates new files here: an entry planted in this folder\n"
                            "# (a link to a system file or a device) makes the write fail.\n"
                            "if dd --version >/dev/null 2>&1; then\n"
                            "    copy() { dd if=\"$DEVICE\" bs=$BS count=1 skip=$1 of=\"$2\" conv=excl 2>/dev/null; }\n"
                            "    note() { rm -f ready.txt && printf '%s\\n' \"$1\" | dd of=ready.txt conv=excl 2>/dev/null; }\n"
                            "else\n"
                            "    copy() { (set -C; dd if=\"$DEVICE\" bs=$BS count=1 skip=$1 2>/dev/null >\"$2\"); }\n"
                            "    note() { rm -f ready.txt && (set -C; printf '%s\\n' \"$1\" >ready.txt); }\n"
                            "fi\n"
                            "i=0\n"
                            "while [ $MAX -eq 0 ] || [ $i -lt $MAX ]; do\n"
                            "    alive || quit\n"
                            "    OUTFILE=\"chunk_$(printf '%06d' $i).bin\"\n"
                            "    copy $i \"$OUTFILE\"\n"
                            "    RC=$?\n"
                            "    if [ $RC -ne 0 ] || [ ! -s \"$OUTFILE\" ]; then\n"
                            "        rm -f \"$OUTFILE\"\n"
                            "        break\n"
                            "    fi\n"
                            "    # Signal that chunk is ready\n"
                            "    alive || quit\n"
                            "    note \"$i\" || quit\n"
                            "    # Wait for app to process (max 30s, then continue anyway)\n"
                            "    WAITED=0\n"
                            "    while [ -f \"$OUTFILE\" ] && [ $WAITED -lt 300 ]; do\n"
                            "        alive || quit\n"
                            "        sleep 0.1\n"
                            "        WAITED=$((WAITED + 1))\n"
                            "    done\n"
                            "    i=$((i + 1))\n"
                            "done\n"
                            "alive && note DONE");
}

} // namespace ElevatedScan

namespace {

DirectScan::Sizes sizesFor(qint64 size)
{
    DirectScan::Sizes sizes;
    if (size > 0)
        sizes.scanSize = sizes.knownTotal = size;
    return sizes;
}

// The chunk files of the helper, taken in order as it finishes them. The
// helper copies the next chunk only once the last one is gone from its name,
// so a taken chunk is renamed at once and kept under another name until the
// scan has carved its last byte. That lets a structure walk read on past the
// read-ahead (a video, a large archive) while the scan is still behind it:
// the chunks the walk reads are taken early and wait for the scan. Kept
// chunks are copies of the disk on disk, so the walks may keep no more than
// `keepLimit` bytes ahead of the scan; a walk that would need more stops
// there with its reason.
class HelperChunks
{
public:
    HelperChunks(QString folder, DetachedAdministratorRun &helper, const ScanSink &sink,
                 std::chrono::milliseconds pollInterval, qint64 keepLimit)
        : m_folder(std::move(folder))
        , m_helper(helper)
        , m_sink(sink)
        , m_pollInterval(std::max<qint64>(1, pollInterval.count()))
        , m_keepLimit(keepLimit)
    {
    }

    // The scan's reads, in order. A chunk goes once its last byte is out.
    SourceReader::Result readStream(qint64 offset, std::uint8_t *into, qint64 length)
    {
        std::lock_guard lock(m_mutex);
        const qint64 index = offset / ElevatedScan::chunkSize;
        if (index < m_consumed)
            return {}; // past the end of a short last chunk
        switch (take(index)) {
        case Wait::cancelled:
            return {0, ECANCELED, false};
        case Wait::none:
            // A helper that ended before its first chunk never got its
            // password: that is reported by no one, as a dismissed dialog is.
            return offset == 0 ? SourceReader::Result{0, ECANCELED, false} : SourceReader::Result{};
        case Wait::ready:
            break;
        }
        // Reads come in order: chunks before this one are done with, even one
        // whose last byte was never handed out because it was unreadable.
        for (; m_consumed < index; ++m_consumed)
            QFile::remove(keptPath(m_consumed));
        const Piece piece = readKept(index, offset % ElevatedScan::chunkSize, into, length);
        if (piece.got < 0)
            return {0, EIO, false};
        if (piece.last) {
            QFile::remove(keptPath(index));
            m_consumed = index + 1;
        }
        return {piece.got, 0, false};
    }

    // A walk's read ahead of the scan: exactly `length` bytes or a reason.
    bool readAhead(quint64 offset, qint64 length, QByteArray *out, QString *error)
    {
        std::lock_guard lock(m_mutex);
        out->resize(qsizetype(std::max<qint64>(0, length)));
        qint64 done = 0;
        const auto fail = [&](const QString &why) {
            out->clear();
            if (error)
                *error = why;
            return false;
        };
        while (done < length) {
            const qint64 at = qint64(offset) + done;
            const qint64 index = at / ElevatedScan::chunkSize;
            if (index < m_consumed)
                return fail(QStringLiteral("the scan has moved past these bytes"));
            if (index >= m_taken && (index + 1 - m_consumed) * ElevatedScan::chunkSize > m_keepLimit)
                return fail(m_keepLimit == 0
                                ? QStringLiteral("not checked past what the scan holds: the temporary folder is on "
                                                 "the disk being scanned")
                                : QStringLiteral("checking further would keep more than ") + formatByteCount(m_keepLimit)
                                    + QStringLiteral(" of the disk in the temporary folder"));
            switch (take(index)) {
            case Wait::cancelled:
                return fail(QStringLiteral("the scan was stopped"));
            case Wait::none:
                return fail(QStringLiteral("the disk ended before these bytes"));
            case Wait::ready:
                break;
            }
            const Piece piece = readKept(index, at % ElevatedScan::chunkSize,
                                         reinterpret_cast<std::uint8_t *>(out->data()) + done, length - done);
            if (piece.got < 0)
                return fail(QStringLiteral("these bytes could not be read"));
            if (piece.got == 0)
                return fail(QStringLiteral("the disk ended before these bytes"));
            done += piece.got;
        }
        return true;
    }

private:
    enum class Wait { ready, none, cancelled };
    struct Piece {
        qint64 got = -1;    // -1: the chunk is unreadable
        bool last = false;  // the chunk's last byte was read
    };

    QString chunkPath(qint64 index) const
    {
        return m_folder + QLatin1Char('/') + ElevatedScan::chunkFileName(index);
    }
    QString keptPath(qint64 index) const
    {
        return m_folder + QStringLiteral("/kept_") + ElevatedScan::chunkFileName(index);
    }

    // Takes the helper's chunks in order up to `index`. A chunk that can't be
    // taken is lost for good: its bytes count as unreadable and the helper
    // goes on.
    Wait take(qint64 index)
    {
        while (m_taken <= index) {
            if (m_ended)
                return Wait::none;
            const Wait wait = waitFor(m_taken);
            if (wait == Wait::cancelled)
                return wait;
            if (wait == Wait::none) {
                m_ended = true;
                return wait;
            }
            if (!QFile::rename(chunkPath(m_taken), keptPath(m_taken))) {
                QFile::remove(chunkPath(m_taken));
                m_unreadable.insert(m_taken);
            }
            ++m_taken;
        }
        return Wait::ready;
    }

    Piece readKept(qint64 index, qint64 within, std::uint8_t *into, qint64 length)
    {
        if (m_unreadable.contains(index))
            return {};
        QFile chunk(keptPath(index));
        if (!chunk.open(QIODevice::ReadOnly)) {
            m_unreadable.insert(index);
            return {};
        }
        const qint64 size = chunk.size();
        qint64 got = 0;
        if (within < size && chunk.seek(within))
            got = chunk.read(reinterpret_cast<char *>(into), std::min(length, size - within));
        if (got < 0) {
            chunk.close();
            QFile::remove(keptPath(index));
            m_unreadable.insert(index);
            return {};
        }
        return {got, within + got >= size};
    }

    // The chunk file exists from the moment dd opens it; only ready.txt says
    // that it is complete. Once the helper has written DONE or ended, the
    // chunks still there are complete.
    Wait waitFor(qint64 index)
    {
        for (;;) {
            if (m_sink.shouldCancel())
                return Wait::cancelled;
            bool done = false;
            const qint64 ready = readyIndex(m_folder, &done);
            const bool exists = QFileInfo::exists(chunkPath(index));
            if (exists && (done || ready >= index))
                return Wait::ready;
            if (done)
                return Wait::none;
            if (!m_helper.isRunning()) {
                const qint64 last = readyIndex(m_folder, &done);
                return QFileInfo::exists(chunkPath(index)) && (done || last >= index) ? Wait::ready : Wait::none;
            }
            QThread::msleep(m_pollInterval);
        }
    }

    const QString m_folder;
    DetachedAdministratorRun &m_helper;
    const ScanSink &m_sink;
    const unsigned long m_pollInterval;
    const qint64 m_keepLimit;
    std::mutex m_mutex;
    qint64 m_taken = 0;      // chunks before this one were taken (kept, carved or lost)
    qint64 m_consumed = 0;   // chunks before this one were carved and removed
    bool m_ended = false;    // the helper has no more
    QSet<qint64> m_unreadable;
};

// The scan's reader over the helper's chunks.
class ChunkFolderReader final : public SourceReader
{
public:
    explicit ChunkFolderReader(HelperChunks &chunks) : m_chunks(chunks) {}
    Result read(qint64 offset, std::uint8_t *into, qint64 length) override
    {
        return m_chunks.readStream(offset, into, length);
    }

private:
    HelperChunks &m_chunks;
};

// Where the walks of the hits read past the read-ahead while the scan runs.
class ChunkWalkSource final : public ByteSource
{
public:
    explicit ChunkWalkSource(HelperChunks &chunks) : m_chunks(chunks) {}
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override
    {
        return m_chunks.readAhead(offset, length, out, error);
    }

private:
    HelperChunks &m_chunks;
};

void scanThroughRootReader(AdministratorLauncher &launcher, const QString &devicePath,
                           const QList<FileSignature> &signatures, const QString &volumeName, qint64 totalSize,
                           ScanSink &sink, const AdministratorLauncherFactory &launchers,
                           const ElevatedScanOptions &options)
{
    ReaderOptions readerOptions;
    readerOptions.handOver = options.readerHandsOver;
    const ReaderConnection::Opened opened = ReaderConnection::open(
        launcher, options.readerInterpreter, devicePath, readerOptions, [&sink] { return sink.shouldCancel(); });
    if (!opened.connection) {
        const QString failure = readerFailureText(opened, devicePath, options.texts);
        if (!failure.isEmpty())
            sink.postError(failure);
        if (opened.failure == ReaderConnection::Failure::cancelled)
            sink.postStatus(QStringLiteral("Scan cancelled by user"));
        return;
    }
    sink.postStatus(QStringLiteral("Scanning ") + volumeName + QStringLiteral(" with administrator privileges..."));
    // The reader measured the device itself; the caller's figure is a
    // fallback for a reader that can't tell.
    const qint64 size = opened.connection->size() > 0 ? opened.connection->size() : totalSize;
    const auto source = std::make_shared<AdministratorByteSource>(devicePath, launchers, options.readerInterpreter);
    source->attach(opened.connection);
    RawScanOptions scanOptions;
    scanOptions.progressText = &progressText;
    // A walk that runs past the read-ahead asks the scan's own reader for the
    // rest, so files longer than the ring are verified as in a direct scan.
    scanSource(*opened.connection, sizesFor(size), source, signatures, volumeName, sink, scanOptions);
    // Stop ends the reader here too: its input closes and it quits.
    source->detach();
    if (sink.shouldCancel())
        sink.postStatus(QStringLiteral("Scan cancelled by user"));
}

void scanThroughHelper(AdministratorLauncher *launcher, const QString &devicePath,
                       const QList<FileSignature> &signatures, const QString &volumeName, qint64 totalSize,
                       ScanSink &sink, const AdministratorLauncherFactory &launchers,
                       const ElevatedScanOptions &options)
{
    const QString temporaryFolder = temporaryFolderOr(options.temporaryFolder);
    QString folderError;
    const QString workFolder = createUniquePrivateFolder(temporaryFolder, &ElevatedScan::workFolderName, &folderError);

    const QString scriptPath = workFolder + QLatin1Char('/') + scriptFileName;
    {
        QSaveFile script(scriptPath);
        // Without a folder there is nothing to write into; report why the
        // folder failed rather than what QSaveFile makes of the missing path.
        const bool written = !workFolder.isEmpty() && script.open(QIODevice::WriteOnly)
            && script.write(ElevatedScan::helperScript(ElevatedScan::chunkLimit(totalSize))) >= 0 && script.commit();
        if (!written) {
            sink.postError(QStringLiteral("Failed to create helper script: ")
                           + (workFolder.isEmpty() ? folderError : script.errorString()));
            removeWorkFolder(workFolder);
            return;
        }
    }

    const qint64 ownerPid = options.ownerPid != 0 ? options.ownerPid : QCoreApplication::applicationPid();
    QString launchError = QStringLiteral("No administrator launcher is available.");
    std::unique_ptr<DetachedAdministratorRun> helper;
    if (launcher)
        helper = launcher->startDetached(scriptPath, {devicePath, workFolder, QString::number(ownerPid)}, &launchError);
    if (!helper) {
        sink.postError(QStringLiteral("Failed to launch elevated scan: ") + launchError);
        removeWorkFolder(workFolder);
        return;
    }

    sink.postStatus(QStringLiteral("Scanning ") + volumeName + QStringLiteral(" with administrator privileges..."));

    {
        const auto source = std::make_shared<ElevatedByteSource>(devicePath, launchers, options.temporaryFolder);
        const qint64 limit = options.helperKeepLimit != 0 ? std::max<qint64>(0, options.helperKeepLimit)
                                                          : keepLimit(temporaryFolder, devicePath);
        HelperChunks chunks(workFolder, *helper, sink, options.pollInterval, limit);
        ChunkFolderReader reader(chunks);
        RawScanOptions scanOptions;
        scanOptions.progressStep = ElevatedScan::chunkSize;
        scanOptions.progressText = &progressText;
        scanOptions.walkSource = std::make_shared<ChunkWalkSource>(chunks);
        scanSource(reader, sizesFor(totalSize), source, signatures, volumeName, sink, scanOptions);
    }

    if (helper->isRunning())
        helper->terminate();
    if (sink.shouldCancel())
        sink.postStatus(QStringLiteral("Scan cancelled by user"));
    removeWorkFolder(workFolder);
}

} // namespace

void scanDeviceElevated(const QString &devicePath, const QList<FileSignature> &signatures,
                        const QString &volumeName, qint64 totalSize, ScanSink &sink,
                        const AdministratorLauncherFactory &launchers, const ElevatedScanOptions &options)
{
    const std::unique_ptr<AdministratorLauncher> launcher = launchers ? launchers() : nullptr;
    if (launcher && launcher->canStartPiped())
        scanThroughRootReader(*launcher, devicePath, signatures, volumeName, totalSize, sink, launchers, options);
    else
        scanThroughHelper(launcher.get(), devicePath, signatures, volumeName, totalSize, sink, launchers, options);
}

ElevatedByteSource::ElevatedByteSource(QString devicePath, AdministratorLauncherFactory launchers, QString temporaryFolder)
    : m_devicePath(std::move(devicePath))
    , m_launchers(std::move(launchers))
    , m_temporaryFolder(std::move(temporaryFolder))
{
    freeSpace = [folder = temporaryFolderOr(m_temporaryFolder)] {
        const QStorageInfo storage(folder);
        return storage.isValid() ? storage.bytesAvailable() : qint64(-1);
    };
}

ElevatedByteSource::~ElevatedByteSource()
{
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
}

QString ElevatedByteSource::fetchFolder() const
{
    QMutexLocker lock(&m_mutex);
    return m_folder;
}

namespace {

QSet<qint64> chunksOf(quint64 offset, qint64 length)
{
    QSet<qint64> chunks;
    if (length <= 0)
        return chunks;
    const qint64 first = qint64(offset / quint64(ElevatedScan::chunkSize));
    const qint64 last = qint64((offset + quint64(length) - 1) / quint64(ElevatedScan::chunkSize));
    for (qint64 index = first; index <= last; ++index)
        chunks.insert(index);
    return chunks;
}

} // namespace

bool ElevatedByteSource::prepare(const QList<Range> &ranges, QString *error)
{
    QSet<qint64> needed;
    for (const Range &range : ranges)
        needed.unite(chunksOf(range.offset, range.length));

    QMutexLocker lock(&m_mutex);
    // Each fetched chunk is 10 MiB of disk space; keep only what this batch uses.
    dropFetchedLocked(needed);
    const QSet<qint64> missing = needed.subtract(m_fetched);
    // Checked before the administrator run: a copy that fills the disk would
    // fail halfway, after the password, and starve everything else there.
    const qint64 wanted = qint64(missing.size()) * ElevatedScan::chunkSize;
    const qint64 free = freeSpace ? freeSpace() : -1;
    if (wanted > 0 && free >= 0 && wanted > free) {
        if (error)
            *error = QStringLiteral("Not enough free space in %1 to fetch the bytes to save: %2 needed, %3 free.")
                         .arg(temporaryFolderOr(m_temporaryFolder), formatByteCount(wanted), formatByteCount(free));
        return false;
    }
    return fetchLocked(missing, error);
}

void ElevatedByteSource::release()
{
    QMutexLocker lock(&m_mutex);
    dropFetchedLocked({});
}

void ElevatedByteSource::dropFetchedLocked(const QSet<qint64> &keep) const
{
    for (auto it = m_fetched.begin(); it != m_fetched.end();) {
        if (keep.contains(*it)) {
            ++it;
            continue;
        }
        QFile::remove(m_folder + QLatin1Char('/') + ElevatedScan::chunkFileName(*it));
        it = m_fetched.erase(it);
    }
}

qint64 ElevatedByteSource::batchLimit() const
{
    const qint64 free = freeSpace ? freeSpace() : -1;
    if (free < 0)
        return largestBatch;
    return std::clamp(free / 2, ElevatedScan::chunkSize, largestBatch);
}

qint64 ElevatedByteSource::batchCost(const Range &range, const Range *previous) const
{
    if (range.length <= 0)
        return 0;
    const quint64 chunk = quint64(ElevatedScan::chunkSize);
    quint64 first = range.offset / chunk;
    const quint64 last = (range.offset + quint64(range.length) - 1) / chunk;
    // Hits come in offset order: a chunk the previous hit already needed
    // costs nothing again. Any other overlap is counted twice, which only
    // makes the batch smaller.
    if (previous && previous->length > 0) {
        const quint64 previousLast = (previous->offset + quint64(previous->length) - 1) / chunk;
        if (previousLast == first)
            ++first;
    }
    return first > last ? 0 : qint64(last - first + 1) * ElevatedScan::chunkSize;
}

bool ElevatedByteSource::fetchLocked(const QSet<qint64> &chunks, QString *error) const
{
    if (chunks.isEmpty())
        return true;
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (m_folder.isEmpty()) {
        QString reason;
        m_folder = createUniquePrivateFolder(temporaryFolderOr(m_temporaryFolder), &fetchFolderName, &reason);
        if (m_folder.isEmpty())
            return fail(QStringLiteral("Cannot create a private folder for the device's bytes: ") + reason);
    }
    if (!m_launchers)
        return fail(QStringLiteral("No administrator launcher is available."));
    const std::unique_ptr<AdministratorLauncher> launcher = m_launchers();
    if (!launcher)
        return fail(QStringLiteral("No administrator launcher is available."));

    QList<qint64> sorted(chunks.begin(), chunks.end());
    std::sort(sorted.begin(), sorted.end());
    QStringList indexes;
    for (const qint64 index : sorted) {
        // A leftover of an earlier, failed fetch would make the exclusive
        // creation below fail.
        QFile::remove(m_folder + QLatin1Char('/') + ElevatedScan::chunkFileName(index));
        indexes << QString::number(index);
    }
    // One root run for the whole batch, so that saving many hits asks for the
    // password once. Root works inside the folder it was given only when this
    // user owns it, creates only new files there (never following an entry
    // that something else planted) and hands them to this user; the copies
    // are private until then (umask).
    const QString uid = QString::number(::getuid());
    QString command = QStringLiteral(
        "umask 077 && cd -P -- '%1' && [ \"$(ls -ldn . | awk '{print $3}')\" = %2 ] || exit 1\n"
        "if dd --version >/dev/null 2>&1; then\n"
        "    copy() { dd if='%3' bs=%4 count=1 skip=$1 of=\"$2\" conv=excl 2>/dev/null; }\n"
        "else\n"
        "    copy() { (set -C; dd if='%3' bs=%4 count=1 skip=$1 2>/dev/null >\"$2\"); }\n"
        "fi\n"
        "for i in %5; do\n"
        "    n=chunk_$(printf '%06d' $i).bin\n"
        "    copy $i \"$n\" && chown -h %2 \"$n\" || exit 1\n"
        "done")
        // One arg() call, so that a "%" in a path is never taken for a placeholder.
        .arg(shellQuoted(m_folder), uid, shellQuoted(m_devicePath), QString::number(ElevatedScan::chunkSize),
             indexes.join(QLatin1Char(' ')));

    const ToolResult result = launcher->runShell(command, StreamMode::combined);
    if (!result.launched)
        return fail(QStringLiteral("Failed to run the administrator command: ") + result.startError.value_or(QString()));
    for (const qint64 index : sorted) {
        if (!QFileInfo(m_folder + QLatin1Char('/') + ElevatedScan::chunkFileName(index)).isReadable()) {
            const QString output = result.output.value_or(QString()).trimmed();
            return fail(QStringLiteral("Cannot read %1 with administrator privileges.").arg(m_devicePath)
                        + (output.isEmpty() ? QString() : QLatin1Char(' ') + output));
        }
        m_fetched.insert(index);
    }
    return true;
}

bool ElevatedByteSource::read(quint64 offset, qint64 length, QByteArray *out, QString *error) const
{
    QMutexLocker lock(&m_mutex);
    const QSet<qint64> chunks = chunksOf(offset, length);
    if (!fetchLocked(QSet<qint64>(chunks).subtract(m_fetched), error))
        return false;

    out->clear();
    out->reserve(qsizetype(std::max<qint64>(0, length)));
    quint64 position = offset;
    qint64 remaining = length;
    while (remaining > 0) {
        const qint64 index = qint64(position / quint64(ElevatedScan::chunkSize));
        const qint64 inChunk = qint64(position - quint64(index) * quint64(ElevatedScan::chunkSize));
        const qint64 take = std::min(remaining, ElevatedScan::chunkSize - inChunk);
        QFile chunk(m_folder + QLatin1Char('/') + ElevatedScan::chunkFileName(index));
        QByteArray part;
        if (chunk.open(QIODevice::ReadOnly) && chunk.seek(inChunk))
            part = chunk.read(take);
        if (part.size() != take) {
            out->clear();
            if (error)
                *error = QStringLiteral("%1 ended before the carved range.").arg(m_devicePath);
            return false;
        }
        out->append(part);
        position += quint64(take);
        remaining -= take;
    }
    return true;
}
