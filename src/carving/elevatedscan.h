#pragma once

// The elevated raw scan: when the program can't open a device node itself,
// the device is read by a process running as root, behind one password
// dialog, and carved by the same loop as the direct scan (directscan.h): the
// same steps, windows and read-ahead, so its hits equal the direct scan's of
// the same bytes, also across the boundaries of whatever blocks the bytes
// arrive in.
//
// Where the administrator launcher offers piped runs (Linux), the root reader
// of rootreader.h streams the device to the program; no copy of it is ever
// written anywhere, and the hits read their bytes through the same reader
// while the scan runs (AdministratorByteSource).
//
// Elsewhere (macOS) a small bash helper run as root copies the device in
// 10 MiB chunks into a private work folder; the scan reads each chunk as soon
// as it is complete and deletes it once its bytes are in the read-ahead, so
// that the helper goes on.
//
// Protocol over the work folder (<temp>/QuorvelRecovery_<UUID>, mode 0700):
//   scan_helper.sh     written by the program, run as `bash scan_helper.sh
//                      DEVICE WORKFOLDER OWNERPID`
//   chunk_%06d.bin     written by the helper: bytes i*10 MiB .. (i+1)*10 MiB
//   ready.txt          written by the helper: the index of the last complete
//                      chunk, or DONE when it has finished (chunks still in
//                      the folder then are complete and are read too)
//   stop               written by the program: the helper ends at its next check
// The helper waits up to 30 s for each chunk to be deleted, and ends by itself
// as soon as the program's process is gone, the work folder is gone or has
// been replaced, or the stop file appears: an unprivileged program can't
// signal a root process, so the helper must never depend on being killed.
// Those hits refer to an ElevatedByteSource, which fetches the chunks that
// hold them again, with one administrator run, when they are saved.

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

#include "carving/directscan.h"
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
    // The interpreter of the root reader.
    QString readerInterpreter = QStringLiteral("/usr/bin/perl");
    // What the walks of a helper scan may keep of the disk in the temporary
    // folder ahead of the scan; 0: half the folder's free space (none when
    // it lies on the scanned disk); negative: none.
    qint64 helperKeepLimit = 0;
    // Whether the root reader hands its open device over (rootreader.h);
    // off, it serves every read itself, as it does where it can't.
    bool readerHandsOver = true;
    // The wording of errors that name the system's facilities.
    ScanTexts texts;
};

namespace ElevatedScan {

inline constexpr qint64 chunkSize = 10'485'760;

// How many chunks the helper copies at most: ceil(totalSize / 10 MiB), or 0
// when the size is not known (0 or less): then it copies to the device's end.
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
// device has been read to its end (`totalSize` when it is known and the root
// reader can't tell), the reader or helper has ended, or `sink` asks to
// cancel. Reports "Scanning NAME with administrator privileges..." once the
// device is being read, a progress step per MiB (per 10 MiB chunk through
// the helper) and, when stopped, "Scan cancelled by user". Read errors and a
// device that goes away are met as the direct scan meets them. Failures to
// begin, a dismissed password dialog among them, are reported as an error
// text (through the helper protocol a dismissal can't be told from a helper
// that ended, and reports nothing). The work
// folder, where there is one, is removed in every case. `launchers` is kept
// by the hits' byte source for saving.
void scanDeviceElevated(const QString &devicePath, const QList<FileSignature> &signatures,
                        const QString &volumeName, qint64 totalSize, ScanSink &sink,
                        const AdministratorLauncherFactory &launchers,
                        const ElevatedScanOptions &options = {});

// The bytes of a device that only root can read, for the hits of a scan
// through the helper protocol, fetched 10 MiB chunk by 10 MiB chunk.
// prepare() copies every chunk that the given ranges touch and that is
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
