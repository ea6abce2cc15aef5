#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include "carving/scansink.h"
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
// found in it and one progress block. An open failure is reported as an error
// text and nothing else. A read error or the end of the data ends the scan
// quietly: windows are cut where the data ends, and the scan stops when its
// steps reach that point. Every hit is verified (verify/hitverifier.h)
// before it is reported, on the bytes read ahead and, beyond them, through
// the source. Cancellation is honoured between steps. Reads start at
// multiples of 1 MiB and are whole MiBs except at the end of the source, so
// raw devices that want block-aligned reads are served.

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
inline constexpr qint64 defaultScanSize = 100LL * 1024 * 1024 * 1024;

// Bytes beyond the step that header and validator tests may look at.
qsizetype overlap(const QList<FileSignature> &signatures);

// The error text for a failed open of `path` with error number `errorNumber`.
QString openErrorText(const QString &path, int errorNumber, const ScanTexts &texts);

// Scan size and known total of an open descriptor (known total 0: unknown).
struct Sizes {
    qint64 scanSize = defaultScanSize;
    qint64 knownTotal = 0;
};
Sizes sizesOf(int fd);

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

void scanRawFile(const QString &path, const QList<FileSignature> &signatures, const QString &sourceName,
                 ScanSink &sink, const ScanTexts &texts = ScanTexts());
