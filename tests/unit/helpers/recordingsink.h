#pragma once

// A scan sink that keeps everything a scan reports, for tests of the raw
// scans; hooks let a test act at a given point of the scan.

#include <QStringList>

#include <functional>
#include <optional>

#include "carving/scansink.h"

class ScanRecorder final : public ScanSink
{
public:
    struct Progress {
        quint64 bytes = 0;
        std::optional<double> fraction;
        QString text;
    };

    std::function<bool(const ScanRecorder &)> cancelWhen;
    std::function<void(const QList<CarvedFile> &)> onHits;
    std::function<void(const ScanRecorder &)> onProgress;

    QStringList statuses;
    QStringList errors;
    QList<CarvedFile> hits;
    QList<Progress> progress;
    std::optional<ReadOutcome> outcome;

    bool shouldCancel() const override { return cancelWhen && cancelWhen(*this); }
    void postStatus(const QString &text) override { statuses << text; }
    void postError(const QString &text) override { errors << text; }
    void postCarvedFiles(QList<CarvedFile> files) override
    {
        if (onHits)
            onHits(files);
        hits << files;
    }
    void postProgress(quint64 bytes, std::optional<double> fraction, std::function<QString(qsizetype)> text) override
    {
        progress << Progress{bytes, fraction, text(hits.size())};
        if (onProgress)
            onProgress(*this);
    }
    void postReadOutcome(const ReadOutcome &read) override { outcome = read; }

    quint64 lastScanned() const { return progress.isEmpty() ? 0 : progress.last().bytes; }
};
