#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include "model/records.h"

// What a scan routine running on a worker thread reports to. The carving
// service implements it by posting each call, in order, to its own thread;
// tests and the command-line carver implement it directly.
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
};
