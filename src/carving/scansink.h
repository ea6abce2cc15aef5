#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include "model/records.h"

// The hits of a scan as a step that revisits them sees them (the existing-file
// matching): read them, and mark each one. A hit is handed out as a copy: the
// list may keep it in a compact form that holds no whole record.
class HitTable
{
public:
    virtual ~HitTable() = default;

    virtual qsizetype hitCount() const = 0;
    virtual CarvedFile hitAt(qsizetype row) const = 0;
    virtual void setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> matchedExistingPath) = 0;
};

// What a raw scan could not read, posted once at its end when it met
// unreadable bytes or lost its source.
struct ReadOutcome {
    quint64 unreadableBytes = 0;  // skipped over read errors and scanned as zeros
    bool sourceLost = false;      // the source went away or shrank before the scan's end
};

// What a scan step running on a worker thread reports to. The carving service
// implements it by posting each call, in order, to its own thread; the
// command-line carver and tests implement it directly, so every step runs
// without the service.
class ScanSink
{
public:
    virtual ~ScanSink() = default;

    // Read between units of work; a true value ends the scan early.
    virtual bool shouldCancel() const = 0;

    virtual void postStatus(const QString &text) = 0;
    virtual void postError(const QString &text) = 0;

    // Appends hits to the results, in the order given.
    virtual void postCarvedFiles(QList<CarvedFile> files) = 0;

    // One progress step: sets the bytes scanned, the fraction when known, and
    // a status text built from the number of hits at the moment it is shown.
    virtual void postProgress(quint64 bytesScanned, std::optional<double> fraction,
                              std::function<QString(qsizetype hitCount)> statusText) = 0;

    // The scan also posts the matching error text; a sink that writes its own
    // summary line adds what it needs from here.
    virtual void postReadOutcome(const ReadOutcome &outcome) { Q_UNUSED(outcome); }
};

// A sink that also lets a step revisit the hits posted so far: the
// existing-file matching reads them and marks each one.
class ReviewingSink : public ScanSink
{
public:
    // Runs `step` over the hits on the thread that owns them, after every hit
    // posted before has arrived, and waits for it; also after a stop, which
    // ends a walk but not the steps after it. False, without running it,
    // when the hits are no longer this scan's (a newer scan started, or
    // their owner is gone).
    virtual bool withHits(const std::function<void(HitTable &)> &step) = 0;

    // How many hits the matching found to be files that still exist.
    virtual void postExistingFileCount(int count) = 0;
};
