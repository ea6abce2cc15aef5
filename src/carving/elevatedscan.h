#pragma once

// The elevated raw scan: when the program can't open a device node itself, a
// small bash helper run as root copies the device in 10 MiB chunks into a
// private work folder, and the scan carves each chunk as soon as it is
// complete, then deletes it so that the helper goes on.
//
// Protocol over the work folder (<temp>/QuorvelRecovery_<UUID>, mode 0700):
//   scan_helper.sh     written by the program, run as `bash scan_helper.sh
//                      DEVICE WORKFOLDER OWNERPID`
//   chunk_%06d.bin     written by the helper: bytes i*10 MiB .. (i+1)*10 MiB
//   ready.txt          written by the helper: the index of the last complete
//                      chunk, or DONE when it has finished
//   stop               written by the program: the helper ends at its next check
// The helper waits up to 30 s for each chunk to be deleted, and ends by itself
// as soon as the program's process is gone, the work folder is gone or has
// been replaced, or the stop file appears: an unprivileged program can't
// signal a root process, so the helper must never depend on being killed.
//
// Hits keep no bytes: they refer to an ElevatedByteSource, which fetches the
// chunks that hold them again, with one administrator run, when they are saved.

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

#include "model/bytesource.h"
#include "model/filesignature.h"
#include "system/commandrunner.h"

class ScanSink;

struct ElevatedScanOptions {
    // Where the work folder and the fetch folders of saving go; empty means
    // QDir::tempPath().
    QString temporaryFolder;
    // How often the scan looks for the next chunk. The helper's own wait step
    // is fixed in its script.
    std::chrono::milliseconds pollInterval{100};
    // The process whose end stops the helper; 0 means this process.
    qint64 ownerPid = 0;
};

namespace ElevatedScan {

inline constexpr qint64 chunkSize = 10'485'760;
inline constexpr qint64 maxChunkLimit = 102'400;
inline constexpr qint64 unknownSizeChunkLimit = 10'240;

// How many chunks the helper copies at most: ceil(totalSize / 10 MiB) capped at
// 102,400, or 10,240 when the size is not known (0 or less).
qint64 chunkLimit(qint64 totalSize);

// "chunk_" + index as at least six zero-padded digits + ".bin".
QString chunkFileName(qint64 index);

// "QuorvelRecovery_" + a new random UUID in upper case, without braces.
QString workFolderName();

// The helper script for a chunk limit, as written into the work folder. It
// has no line feed at the end and needs no execute permission.
QByteArray helperScript(qint64 chunkLimit);

} // namespace ElevatedScan

// Runs the elevated scan on the calling (worker) thread and returns when the
// helper reports DONE, the helper's process has ended and its last chunk has
// been carved, or `sink` asks to cancel. Each complete chunk is carved on its
// own (every byte a start position, no window reaching past the chunk, hits at
// chunk index * 10 MiB + position) and followed by one progress step. Failures
// are reported through `sink.postError`; the work folder is removed in every
// case. `launchers` is kept by the hits' byte source for saving.
void scanDeviceElevated(const QString &devicePath, const QList<FileSignature> &signatures,
                        const QString &volumeName, qint64 totalSize, ScanSink &sink,
                        const AdministratorLauncherFactory &launchers,
                        const ElevatedScanOptions &options = {});

// The bytes of a device that only root can read, fetched 10 MiB chunk by 10 MiB
// chunk. prepare() copies every chunk that the given ranges touch and that is
// not fetched yet with ONE administrator run (so saving many hits asks for the
// password once per batch) into a private folder, and drops fetched chunks
// that the ranges no longer need; it refuses, fetching nothing, when the
// temporary folder lacks the room. read() cuts the bytes out of the fetched
// chunks; a range that was not prepared is fetched on its own first.
// release() removes the fetched chunks, and so does destroying the source,
// with the folder.
//
// Saving a verified video may need gigabytes of chunks: batchLimit() keeps a
// batch to at most 1 GiB, and to half the temporary folder's free space.
class ElevatedByteSource final : public ByteSource
{
public:
    ElevatedByteSource(QString devicePath, AdministratorLauncherFactory launchers, QString temporaryFolder = {});
    ~ElevatedByteSource() override;

    static constexpr qint64 largestBatch = 1LL << 30;

    bool prepare(const QList<Range> &ranges, QString *error) override;
    void release() override;
    qint64 batchLimit() const override;
    qint64 batchCost(const Range &range, const Range *previous) const override;
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override;

    QString devicePath() const { return m_devicePath; }
    // The private folder of fetched chunks; empty until the first fetch.
    QString fetchFolder() const;

    // Free bytes in the folder where chunks are fetched; replaceable by tests.
    std::function<qint64()> freeSpace;

private:
    bool fetchLocked(const QSet<qint64> &chunks, QString *error) const;
    void dropFetchedLocked(const QSet<qint64> &keep) const;

    const QString m_devicePath;
    const AdministratorLauncherFactory m_launchers;
    const QString m_temporaryFolder;
    mutable QMutex m_mutex;
    mutable QString m_folder;
    mutable QSet<qint64> m_fetched;
};
