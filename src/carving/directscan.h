#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <limits>
#include <memory>

#include "carving/scansink.h"
#include "carving/sourcereader.h"
#include "model/bytesource.h"
#include "model/filesignature.h"

struct PlatformTexts;

// Direct scan of a source the program can open itself: a device node or a
// disk-image file, read from start to end in 1 MiB steps.
//
// Each step carves the start positions [offset, offset + 1 MiB) against the
// signatures; header and validator tests see the step plus an overlap (the
// longest header + 16 bytes), so a header that starts in the last bytes of a
// step is found there and only there. A candidate's window starts at its own
// offset and runs up to min(maxFileSize, 10 MiB, scan size - offset) bytes,
// cut short by the end of the data. The scan reads ahead so that every window
// is already in memory; hits refer to their bytes on the source through a
// FileByteSource (they own no copy beyond the first 32 bytes).
//
// Reports through `sink`: "Scanning NAME..." once, then per step the hits
// found in it and one progress block whose byte count never passes the end of
// the data. An open failure is reported as an error text and nothing else;
// so is a source that can't be read to an end (a pipe, a socket, a folder, a
// character device of unknown size such as /dev/zero), which is never waited
// on. A source of unknown size is read to its real end. Every hit is verified
// (verify/hitverifier.h) before it is reported, on the bytes read ahead and,
// beyond them, through the hit source when the options allow it. Cancellation is
// honoured between steps. Reads start at multiples of 1 MiB and are whole MiBs
// except at the end of the source or near a read error, so raw devices that
// want block-aligned reads are served.
//
// Failing disks (scanSource, below, for every raw scan): a read that fails is
// tried again in small pieces; a piece that fails is skipped, 4 KiB first and
// twice as much on each failure in a row (up to 1% of the source, at least
// 64 MiB), and the skipped bytes are scanned as zeros. The scan carries on to
// the end and reports "N MB could not be read" in an error text and through
// ScanSink::postReadOutcome. A source that ends before its size, or whose
// reads fail because it is gone (or now smaller than where the scan stands),
// ends the scan with an error text; the hits found until then stay.

// The advice texts that name the platform's own facilities. The defaults are
// the macOS texts; another platform layer hands in its own.
struct ScanTexts {
    // Follows "Cannot open PATH: REASON" when the open was refused for lack of
    // rights (EPERM, EACCES).
    QString rawAccessPrivileges;
    // The whole message for a busy device (EBUSY); "%1" stands for the path.
    QString deviceBusyTemplate;
    // Follows "Cannot open PATH: REASON" for any other failure.
    QString otherAdvice;

    ScanTexts();
    // The texts as a platform backend words them.
    static ScanTexts of(const PlatformTexts &platform);
};

namespace DirectScan {
inline constexpr qint64 chunkStep = 1024 * 1024;
inline constexpr qint64 windowCap = 10 * 1024 * 1024;
// The scan size of a source whose size can't be told: read to its end.
inline constexpr qint64 unknownSize = std::numeric_limits<qint64>::max();

// Bytes beyond the step that header and validator tests may look at.
qsizetype overlap(const QList<FileSignature> &signatures);

// The error text for a failed open of `path` with error number `errorNumber`.
QString openErrorText(const QString &path, int errorNumber, const ScanTexts &texts);

// Why `path` can't be scanned, for a source of file type `mode` (st_mode)
// that can't be read to an end; empty when it can.
QString unsupportedSourceText(const QString &path, unsigned mode, qint64 knownSize);

// Scan size and known total of an open descriptor (known total 0: unknown).
struct Sizes {
    qint64 scanSize = unknownSize;
    qint64 knownTotal = 0;
};
Sizes sizesOf(int fd);

// Positioned reads of `fd`, which the caller keeps open while the reader is
// used; `sizeKnown`: the descriptor told its size when it was opened.
std::unique_ptr<SourceReader> descriptorReader(int fd, bool sizeKnown);

// The error texts of a scan that met unreadable bytes or lost its source.
QString unreadableText(quint64 unreadableBytes);
QString sourceLostText(const QString &sourceName, qint64 offset, qint64 knownTotal);

// Whether the read-ahead may use a mirrored ring buffer where the system
// offers one (the default); tests and measurements turn it off to exercise
// the plain buffer.
void setMirroredReadAhead(bool allowed);

// Whether each hit of a raw scan (direct or elevated) gets its structure
// verified during the scan (the default); measurements turn it off to see
// what it costs.
void setVerifyingHits(bool verifying);
bool isVerifyingHits();

// The per-step status text; `knownTotal` 0 selects the form without a total.
QString progressText(const QString &sourceName, qint64 scanned, qint64 knownTotal, qsizetype hitCount);
} // namespace DirectScan

// What sets one raw scan apart from another besides its reader.
struct RawScanOptions {
    // Bytes between two progress steps (the last step is always reported).
    qint64 progressStep = DirectScan::chunkStep;
    QString (*progressText)(const QString &sourceName, qint64 scanned, qint64 knownTotal,
                            qsizetype hitCount) = &DirectScan::progressText;
    // Where structure walks that go past the bytes read ahead read on; null:
    // through the hit source.
    std::shared_ptr<const ByteSource> walkSource;
};

// The carving loop of every raw scan, on the calling (worker) thread: reads
// `reader` ahead, carves each 1 MiB step as described above with windows
// bounded by `sizes.scanSize`, posts hits that refer to `hitSource`, one
// progress step per `options.progressStep` and the read outcome. Posts no
// status of its own.
void scanSource(SourceReader &reader, const DirectScan::Sizes &sizes, const std::shared_ptr<ByteSource> &hitSource,
                const QList<FileSignature> &signatures, const QString &sourceName, ScanSink &sink,
                const RawScanOptions &options = {});

void scanRawFile(const QString &path, const QList<FileSignature> &signatures, const QString &sourceName,
                 ScanSink &sink, const ScanTexts &texts = ScanTexts());
